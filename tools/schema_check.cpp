#include "schema_check.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

#include <fmt/format.h>

#include "db/column_type.h"
#include "db/value.h"
#include "import/journal/balance_invariant.h"
#include "import/journal/balance_posting.h"
#include "import/journal/entry_numbering.h"
#include "platform/failure.h"
#include "platform/text.h"
#include "schema_facts.h"

namespace kavelo::check {

const Column* Table::column(std::string_view wanted) const {
  for (const Column& c : columns)
    if (upper(c.name) == upper(wanted)) return &c;
  return nullptr;
}

bool Table::has_key(const std::vector<std::string>& wanted) const {
  std::vector<std::string> sorted_wanted;
  for (const std::string& c : wanted) sorted_wanted.push_back(upper(c));
  std::sort(sorted_wanted.begin(), sorted_wanted.end());
  for (const std::vector<std::string>& key : unique_keys) {
    std::vector<std::string> sorted_key;
    for (const std::string& c : key) sorted_key.push_back(upper(c));
    std::sort(sorted_key.begin(), sorted_key.end());
    if (sorted_key == sorted_wanted) return true;
  }
  return false;
}

const Table* Schema::find(std::string_view name) const {
  for (const Table& t : tables)
    if (upper(t.name) == upper(name)) return &t;
  return nullptr;
}

namespace {

using db::ColumnKind;

// The checklist's texts show values as the Spanish conventions write them.
const RegionalSettings kRegional = RegionalSettings::spanish();

// The columns by which kavelo finds the rows of each table: its primary key
// or one of its unique indexes must be made of exactly these.
const std::map<std::string, std::vector<std::string>> kKeys = {
    {"F_EMP", {"CODEMP"}}, {"F_AUT", {"CODAUT"}}, {"F_DIA", {"CODDIA"}},
    {"F_MAE", {"CODMAE"}}, {"F_CLI", {"CODCLI"}}, {"F_PRO", {"CODPRO"}},
    {"F_APU", {"DIAAPU", "FECAPU", "ASIAPU", "ORDAPU"}}, {"F_SAL", {"DIASAL", "CUESAL"}},
    {"F_IVR", {"CODIVR"}}, {"F_IVS", {"CODIVS"}},
};

std::string q(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

// "1, 2, 5", and "..." after the first `most`.
std::string listed(const std::vector<std::string>& items, std::size_t most = 10) {
  std::string text;
  for (std::size_t i = 0; i < items.size() && i < most; ++i) text += (i ? ", " : "") + items[i];
  if (items.size() > most) text += ", ...";
  return text;
}

// ---- The checks, on the facts of any store ----

// "es TEXT(50)", or what a column declared without a type is.
std::string declared_as(const Column& c) { return c.type.empty() ? "no tiene tipo" : "es " + c.type; }

// The engine's amounts: 15 whole digits and 4 decimals.
constexpr int kAmountWholeDigits = 15;
constexpr int kAmountDecimals = 4;

// The decimals an amount keeps in the column: four (all kavelo writes)
// unless it states fewer.
int kept_decimals(const Column& c) { return c.precision == 0 ? kAmountDecimals : std::min(c.scale, kAmountDecimals); }

std::optional<std::string> type_fault(FactReader& reader, const Column& want, const Column& have) {
  const std::string wanted = reader.type_name(want);
  if (have.kind != want.kind)
    return fmt::format("la columna {} {} y debe ser {}", have.name, declared_as(have), wanted);
  // A text of any length holds whatever the reference length holds.
  bool too_short =
      want.kind == ColumnKind::Text && have.text_size != 0 && (want.text_size == 0 || have.text_size < want.text_size);
  if (too_short)
    return fmt::format("la columna {} {} y debe ser {}{}", have.name, declared_as(have), wanted,
                       want.text_size ? " o más larga" : "");
  // Fewer decimals round the amounts as the column stores them (and the
  // balances post what it stores); fewer whole digits refuse large ones.
  bool too_narrow = want.kind == ColumnKind::Currency && have.precision != 0 &&
                    have.precision - have.scale < kAmountWholeDigits;
  if (too_narrow)
    return fmt::format("la columna {} {} y debe ser {} o más amplia: no guardaría los importes grandes", have.name,
                       declared_as(have), wanted);
  return std::nullopt;
}

// A balance that keeps fewer decimals than the lines posted to it cannot be
// their sum: the import refuses such a journal, and so does the check.
std::optional<std::string> balance_decimals_fault(const Schema& schema, const Column& have) {
  const Table* lines = schema.find("F_APU");
  if (!lines || have.kind != ColumnKind::Currency || !monthly_column(have.name)) return std::nullopt;
  int posted = 0;
  for (const char* amount : {"IMPAPU", "IMEAPU"})
    if (const Column* c = lines->column(amount); c && c->kind == ColumnKind::Currency)
      posted = std::max(posted, kept_decimals(*c));
  if (kept_decimals(have) >= posted) return std::nullopt;
  return fmt::format("la columna {} {} y guarda menos decimales que los importes de F_APU: sus saldos no serían "
                     "la suma de sus apuntes",
                     have.name, declared_as(have));
}

// kavelo reads F_EMP and F_AUT and only changes the counters of F_DIA; every
// other table gets new rows from the imports and the posting.
bool gets_new_rows(const Table& reference) {
  const std::string name = upper(reference.name);
  return name != "F_EMP" && name != "F_AUT" && name != "F_DIA";
}

// A column that must hold a value and has no default stops every new row that
// does not write it: columns kavelo does not know, and the monthly balances a
// new F_SAL row leaves to their defaults.
std::optional<std::string> new_row_fault(const Table& reference, const Column& have) {
  if (!have.required || have.fills_itself) return std::nullopt;
  if (!reference.column(have.name))
    return fmt::format(
        "la columna {} es obligatoria y no tiene valor por defecto: kavelo no la escribe, así que "
        "no podrá añadir filas",
        have.name);
  if (upper(reference.name) == "F_SAL" && monthly_column(have.name))
    return fmt::format(
        "la columna {} es obligatoria y no tiene valor por defecto: una fila de saldos nueva la "
        "deja sin valor y no se podría guardar",
        have.name);
  return std::nullopt;
}

void check_table(FactReader& reader, const Table& reference, std::vector<CheckResult>& out) {
  const Table* table = reader.schema().find(reference.name);
  if (!table) {
    out.push_back({false, reference.name + ": falta la tabla"});
    return;
  }
  if (!table->unreadable.empty()) {
    out.push_back({false, fmt::format("{}: no se pueden leer sus columnas: {}", reference.name, table->unreadable)});
    return;
  }
  std::vector<std::string> faults;
  if (table->view) {
    faults.push_back("es una vista y kavelo necesita una tabla");
  } else {
    faults = table->faults;
    if (gets_new_rows(reference))
      faults.insert(faults.end(), table->new_row_faults.begin(), table->new_row_faults.end());
    if (auto key = kKeys.find(upper(reference.name)); key != kKeys.end() && !table->has_key(key->second)) {
      std::string columns;
      for (const std::string& c : key->second) columns += (columns.empty() ? "" : ", ") + c;
      faults.push_back(fmt::format("no tiene una clave principal ni un índice único sobre {}: kavelo no puede "
                                   "encontrar sus filas",
                                   columns));
    }
    // A key that takes more than case for one finds another code's row: kavelo
    // then passes such a record over as a duplicate.
    if (auto key = kKeys.find(upper(reference.name)); key != kKeys.end())
      for (const std::string& name : key->second)
        if (const Column* c = table->column(name); c && !c->merging_collation.empty())
          faults.push_back(fmt::format(
              "la columna {} de la clave compara con la intercalación {}, que toma por un mismo código otros que "
              "difieren en más que mayúsculas (un guion discreto, 'º' y 'o'): kavelo pasa por alto como duplicado "
              "el registro de uno de ellos; sin esa intercalación y con un índice único sobre "
              "lower(({})::text COLLATE \"und-x-icu\") la clave solo no distingue mayúsculas",
              c->name, c->merging_collation, c->name));
  }
  for (const Column& want : reference.columns) {
    const Column* have = table->column(want.name);
    if (!have) {
      faults.push_back(fmt::format("falta la columna {} ({})", want.name, reader.type_name(want)));
      continue;
    }
    if (!have->fault.empty()) faults.push_back(have->fault);
    if (auto fault = type_fault(reader, want, *have)) faults.push_back(*fault);
    if (upper(reference.name) == "F_SAL")
      if (auto fault = balance_decimals_fault(reader.schema(), *have)) faults.push_back(*fault);
  }
  if (gets_new_rows(reference))
    for (const Column& have : table->columns)
      if (auto fault = new_row_fault(reference, have)) faults.push_back(*fault);

  if (faults.empty())
    out.push_back({true, fmt::format("{}: las {} columnas que usa kavelo", reference.name, reference.columns.size())});
  for (const std::string& fault : faults) out.push_back({false, reference.name + ": " + fault});
}

// The table and columns a check reads, or why they cannot be read.
std::optional<std::string> unreadable(const Schema& schema, std::string_view table,
                                      std::initializer_list<std::string_view> columns) {
  const Table* t = schema.find(table);
  if (!t) return fmt::format("falta la tabla {}", table);
  if (!t->unreadable.empty()) return fmt::format("no se puede leer la tabla {}", table);
  for (std::string_view column : columns)
    if (!t->column(column)) return fmt::format("falta la columna {} de {}", column, table);
  return std::nullopt;
}

std::string shown_value(const db::Value& value) { return value.is_null() ? "vacío" : db::to_text(value, kRegional); }

// The company's row and its level mask: the characters of FRMEMP say which
// lengths of account code carry balances ("1" at position i: length i).
CheckResult check_company(FactReader& reader, const std::optional<std::string>& wanted) {
  const Schema& schema = reader.schema();
  if (auto why = unreadable(schema, "F_EMP", {"CODEMP", "FRMEMP"}))
    return {false, "F_EMP: no se puede comprobar la empresa: " + *why};
  const Table& table = *schema.find("F_EMP");
  const Column& code_column = *table.column("CODEMP");
  const Column& mask_column = *table.column("FRMEMP");
  const std::string select =
      fmt::format("SELECT {}, {} FROM {}", q(code_column.name), q(mask_column.name), q(table.name));
  const std::vector<ColumnKind> kinds = {code_column.kind, mask_column.kind};

  std::string code;
  db::Value mask;
  if (wanted) {
    // Found as kavelo finds it: by the column's own comparison.
    auto rows = reader.rows(fmt::format("{} WHERE {}", select, reader.key_equals(code_column)), {db::Value(*wanted)}, kinds);
    if (rows.empty()) {
      std::vector<std::string> codes;
      for (const auto& row : reader.rows(select, {}, kinds)) codes.push_back(db::to_text(row[0], kRegional));
      return {false, codes.empty()
                         ? fmt::format("F_EMP: no hay empresa con el código '{}' (F_EMP está vacía)", *wanted)
                         : fmt::format("F_EMP: no hay empresa con el código '{}' (hay: {})", *wanted, listed(codes))};
    }
    code = db::to_text(rows.front()[0], kRegional);
    mask = rows.front()[1];
  } else {
    auto rows = reader.rows(select, {}, kinds);
    if (rows.empty()) return {false, "F_EMP: no hay ninguna empresa"};
    if (rows.size() > 1) {
      std::vector<std::string> codes;
      for (const auto& row : rows) codes.push_back(db::to_text(row[0], kRegional));
      return {false, fmt::format("F_EMP: hay {} empresas ({}): diga cuál con --company", rows.size(), listed(codes))};
    }
    code = db::to_text(rows.front()[0], kRegional);
    mask = rows.front()[1];
  }

  const std::string text = db::to_text(mask, kRegional);
  if (text.empty())
    return {false, fmt::format("F_EMP: la empresa {} no tiene máscara de niveles FRMEMP: cada apunte se saldaría "
                               "solo en su propia cuenta",
                               code)};
  const std::vector<std::string> characters = utf8_characters(text);
  for (std::size_t i = 0; i < characters.size(); ++i)
    if (characters[i] != "0" && characters[i] != "1")
      return {false, fmt::format("F_EMP: FRMEMP '{}' de la empresa {} solo puede tener 0 y 1 (posición {}: '{}')", text,
                                 code, i + 1, characters[i])};

  // The posting's own rule on an account longer than the mask: every prefix it
  // gives but the account itself is a level.
  std::vector<std::string> prefixes = balance_levels(std::string(characters.size() + 1, '9'), mask, kRegional);
  std::vector<std::string> levels;
  for (auto it = prefixes.rbegin(); it + 1 != prefixes.rend(); ++it) levels.push_back(std::to_string(it->size()));
  std::string shown = levels.empty() ? "solo la propia" : listed(levels, levels.size()) + " y la propia";
  return {true, fmt::format("F_EMP: empresa {}, FRMEMP '{}', niveles con saldo: {}", code, text, shown)};
}

// The numbering settings: row 1 of F_AUT. The mode is known when it reads.
CheckResult check_numbering(FactReader& reader, std::optional<NumberingMode>& mode) {
  const Schema& schema = reader.schema();
  if (auto why = unreadable(schema, "F_AUT", {"CODAUT"}))
    return {false, "F_AUT: no se pueden leer los ajustes de numeración: " + *why};
  const Table& table = *schema.find("F_AUT");
  // Every column, as kavelo reads the row.
  std::string names;
  std::vector<ColumnKind> kinds;
  for (const Column& column : table.columns) {
    names += (names.empty() ? "" : ", ") + q(column.name);
    kinds.push_back(column.kind);
  }
  auto rows = reader.rows(
      fmt::format("SELECT {} FROM {} WHERE {} = 1", names, q(table.name), q(table.column("CODAUT")->name)), {}, kinds);
  if (rows.empty())
    return {false,
            "F_AUT: no hay fila con CODAUT 1: sin ella kavelo no sabe numerar, y el primer apunte de "
            "APU.TXT con asiento 0 y orden 1 detiene la importación de APU.TXT"};
  auto setting = [&](std::string_view name) -> const db::Value& {
    for (std::size_t i = 0; i < table.columns.size(); ++i)
      if (upper(table.columns[i].name) == name) return rows.front()[i];
    throw failure(ErrorCode::ItemNotFound, name);
  };
  try {
    mode = numbering_mode(setting("NAAAUT"), setting("NAMAUT"), kRegional);
  } catch (const Failure& f) {
    return {false, "F_AUT: la fila 1 no dice cómo numerar los asientos: " + f.description()};
  }
  const std::string naaaut = shown_value(setting("NAAAUT"));
  switch (*mode) {
    case NumberingMode::JournalCounter:
      return {true, "F_AUT: fila 1 (NAAAUT 1, NAMAUT 0): numeración por el contador de cada diario (ASIDIA de F_DIA)"};
    case NumberingMode::JournalAndDate:
      return {true, fmt::format("F_AUT: fila 1 (NAAAUT 1, NAMAUT {}): numeración por diario y fecha (el mayor número "
                                "del diario en esa fecha, más uno)",
                                shown_value(setting("NAMAUT")))};
    case NumberingMode::Journal:
      return {true, fmt::format("F_AUT: fila 1 (NAAAUT {}): numeración por diario (el mayor número del diario, más "
                                "uno)",
                                naaaut)};
  }
  return {false, "F_AUT: modo de numeración desconocido"};
}

// The journals. Only counter numbering reads them: it takes the next number
// from ASIDIA and, for a journal without a row or without a counter, fails
// the line and stops the import of APU.TXT; it never makes the row.
CheckResult check_journals(FactReader& reader, const std::optional<NumberingMode>& mode) {
  const Schema& schema = reader.schema();
  const bool counter = mode == NumberingMode::JournalCounter;
  const char* unused = mode ? "la numeración elegida no usa sus contadores" : "sin F_AUT no se sabe si hacen falta";
  if (auto why = unreadable(schema, "F_DIA", {"CODDIA", "ASIDIA"})) {
    if (counter) return {false, "F_DIA: la numeración por contador necesita los diarios, pero " + *why};
    return {true, fmt::format("F_DIA: {}; {}", *why, unused)};
  }
  const Table& table = *schema.find("F_DIA");
  const Column& code_column = *table.column("CODDIA");
  const Column& counter_column = *table.column("ASIDIA");
  std::vector<std::string> journals, without_counter;
  for (const auto& row :
       reader.rows(fmt::format("SELECT {}, {} FROM {}", q(code_column.name), q(counter_column.name), q(table.name)), {},
                   {code_column.kind, counter_column.kind})) {
    journals.push_back(db::to_text(row[0], kRegional));
    try {
      db::to_int32(row[1], kRegional);
    } catch (const Failure&) {
      without_counter.push_back(fmt::format("{} (ASIDIA {})", journals.back(), shown_value(row[1])));
    }
  }
  const std::string count = journals.size() == 1 ? "1 diario" : fmt::format("{} diarios", journals.size());
  if (!counter)
    return {true, fmt::format("F_DIA: {}{}; {}", count, journals.empty() ? "" : ": " + listed(journals), unused)};
  if (journals.empty())
    return {false,
            "F_DIA: no hay diarios y la numeración por contador los necesita: el primer asiento que kavelo "
            "tenga que numerar detiene la importación de APU.TXT (kavelo no crea diarios)"};
  if (!without_counter.empty())
    return {false, fmt::format("F_DIA: sin contador válido: {}; el primer asiento de esos diarios que kavelo tenga "
                               "que numerar detiene la importación de APU.TXT",
                               listed(without_counter))};
  return {true, fmt::format("F_DIA: {} con contador ({}); el primer asiento a numerar de un diario que no esté "
                            "aquí detiene la importación de APU.TXT",
                            count, listed(journals))};
}

// The sides of the stored journal lines that the posting takes to F_SAL: the
// text of "D-HAPU" names the monthly columns of the line's side. Lines without
// an account are not posted. Sides that differ only in case name the same
// columns.
void check_sides(FactReader& reader, std::vector<CheckResult>& out) {
  const Schema& schema = reader.schema();
  std::optional<std::string> why = unreadable(schema, "F_APU", {"D-HAPU", "CUEAPU"});
  if (!why) why = unreadable(schema, "F_SAL", {});
  if (why) {
    out.push_back({false, "F_SAL: no se pueden comprobar los lados de los apuntes: " + *why});
    return;
  }
  const Table& lines = *schema.find("F_APU");
  const Table& balances = *schema.find("F_SAL");
  const Column& side_column = *lines.column("D-HAPU");
  const std::string account = q(lines.column("CUEAPU")->name);
  std::map<std::string, std::pair<std::string, std::int64_t>> sides;  // by upper-cased side: as found, lines
  for (const auto& row : reader.rows(fmt::format("SELECT {0}, COUNT(*) FROM {1} WHERE {2} IS NOT NULL AND {2} <> '' "
                                                 "GROUP BY {0}",
                                                 q(side_column.name), q(lines.name), account),
                                     {}, {side_column.kind, ColumnKind::Untyped})) {
    std::string side = db::to_text(row[0], kRegional);
    auto& entry = sides.try_emplace(upper(side), side, 0).first->second;
    entry.second += static_cast<std::int64_t>(db::to_double(row[1], kRegional));
  }
  if (sides.empty()) {
    out.push_back({true, "F_SAL: F_APU no tiene apuntes con cuenta: no hay lados que comprobar"});
    return;
  }

  std::set<std::string> columns;
  std::set<std::string> sides_with_columns;
  for (const Column& c : balances.columns) {
    columns.insert(upper(c.name));
    if (auto monthly = monthly_column(c.name))
      sides_with_columns.insert(monthly->side.empty() ? "vacío" : monthly->side);
  }
  for (const auto& [key, found] : sides) {
    const auto& [side, count] = found;
    const std::string shown = side.empty() ? "vacío" : "'" + side + "'";
    const std::string how_many = count == 1 ? "1 apunte" : fmt::format("{} apuntes", count);
    std::vector<std::string> missing;
    // The posting's names: "P" (IMPAPU) or "E" (IMEAPU), the side, the month.
    for (const char* kind : {"P", "E"})
      for (int month = 1; month <= 12; ++month) {
        std::string name = kind + key + std::to_string(month) + "SAL";
        if (!columns.count(name)) missing.push_back(name);
      }
    if (missing.empty()) {
      out.push_back({true, fmt::format("F_SAL: las 24 columnas mensuales del lado {} ({})", shown, how_many)});
      continue;
    }
    std::string names = missing.size() == 24
                            ? fmt::format("ninguna de sus 24 columnas ({} a {})", missing.front(), missing.back())
                            : listed(missing, missing.size());
    std::vector<std::string> known(sides_with_columns.begin(), sides_with_columns.end());
    const char* lost = missing.size() == 24 ? "esos apuntes" : "los apuntes de esos meses";
    out.push_back(
        {false,
         fmt::format("F_SAL: faltan columnas del lado {} de F_APU ({}): {}; {} no se pueden saldar{}", shown, how_many,
                     names, lost, known.empty() ? "" : " (F_SAL tiene columnas de los lados " + listed(known) + ")")});
  }
}

// Runs a check; a read that fails on the way fails the check with it.
template <class F>
void run_check(std::vector<CheckResult>& out, std::string_view table, F&& check) {
  try {
    check();
  } catch (const ReadError& e) {
    out.push_back({false, fmt::format("{}: no se puede leer: {}", table, e.what())});
  }
}

}  // namespace

std::vector<CheckResult> run_checks(FactReader& reader, const std::optional<std::string>& company) {
  std::vector<CheckResult> out;
  for (const Table& reference : reference_schema().tables) check_table(reader, reference, out);
  run_check(out, "F_EMP", [&] { out.push_back(check_company(reader, company)); });
  std::optional<NumberingMode> mode;
  run_check(out, "F_AUT", [&] { out.push_back(check_numbering(reader, mode)); });
  run_check(out, "F_DIA", [&] { out.push_back(check_journals(reader, mode)); });
  run_check(out, "F_SAL", [&] { check_sides(reader, out); });
  return out;
}

std::string checklist_line(const CheckResult& result) { return (result.ok ? "[ok] " : "[FALLO] ") + result.text; }

}  // namespace kavelo::check
