#include "import/journal/balance_posting.h"

#include <fmt/format.h>

#include <algorithm>
#include <unordered_map>

#include "db/connection.h"
#include "db/engine.h"
#include "db/open_retry.h"
#include "db/record_lookup.h"
#include "import/journal/entry_lines.h"
#include "interchange/run_state.h"
#include "platform/failure.h"

namespace kavelo {
namespace {

// Where each character of a UTF-8 text ends, so that the first i characters
// are text.substr(0, ends[i - 1]).
std::vector<std::size_t> character_ends(std::string_view text) {
  std::vector<std::size_t> ends;
  for (std::size_t i = 1; i <= text.size(); ++i)
    if (i == text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ends.push_back(i);
  return ends;
}

std::string quoted(std::string_view code) { return "'" + db::DoblarComillas(db::Value(std::string(code))) + "'"; }

// FRMEMP of the company record: a record that could not be read, or one without
// the column, fails here.
db::Value company_levels() {
  const auto& empresa = run().RegistroEmpresa;
  static const db::Row kNone;
  return (empresa ? *empresa : kNone).at("FRMEMP");
}

}  // namespace

std::vector<std::string> balance_levels(std::string_view account, const db::Value& frmemp) {
  const std::string mask = db::to_text(frmemp);  // Null: the empty text, no marks
  const std::vector<std::size_t> mask_ends = character_ends(mask);
  // Whether the i-th character of the mask (from 1) is "1".
  auto marked = [&](std::size_t i) {
    if (i > mask_ends.size()) return false;
    std::size_t begin = i == 1 ? 0 : mask_ends[i - 2];
    return std::string_view(mask).substr(begin, mask_ends[i - 1] - begin) == "1";
  };

  const std::vector<std::size_t> ends = character_ends(account);
  std::vector<std::string> levels;
  for (std::size_t i = ends.size(); i >= 1; --i)
    if (i == ends.size() || marked(i)) levels.emplace_back(account.substr(0, ends[i - 1]));
  return levels;
}

std::string posting_selection(std::int16_t journal, const DateTime& date, std::int32_t entry, std::int32_t order) {
  return fmt::format(
      "SELECT * FROM F_APU WHERE  (DIAAPU={}) AND  FECAPU={} AND ASIAPU={} AND ORDAPU={} "
      "ORDER BY DIAAPU, FECAPU, ASIAPU, ORDAPU ASC;",
      journal, jet_date_literal(date), entry, order);
}

std::string balance_rows_query(std::string_view journal, const std::vector<std::string>& levels) {
  std::string criteria = fmt::format("DIASAL={} AND (", journal);
  for (const std::string& code : levels) {
    if (!criteria.ends_with('(')) criteria += "OR ";
    criteria += "CUESAL=" + quoted(code) + " ";
  }
  return "SELECT * FROM F_SAL WHERE " + criteria + ");";
}

db::Value add_amount(const db::Value& total, const db::Value& amount) {
  const db::Value zero{Currency{}};
  const db::Value& a = total.is_null() ? zero : total;
  const db::Value& b = amount.is_null() ? zero : amount;
  auto x = a.get_if<Currency>();
  auto y = b.get_if<Currency>();
  if (x && y) {
    Currency sum;
    if (__builtin_add_overflow(x->ten_thousandths, y->ten_thousandths, &sum.ten_thousandths))
      throw failure(ErrorCode::Overflow);
    return sum;
  }
  return db::Value(db::to_double(a) + db::to_double(b));
}

struct BalancePosting::Row {
  std::string journal;  // DIASAL as the queries write it
  std::string code;     // CUESAL as the line that first posted to it wrote it
  std::vector<db::Value> values;  // every column, as a store would write it
  std::vector<bool> written;      // the columns to write
  bool stored = false;            // the table holds the row already
};

struct BalancePosting::Rows {
  // In the order first posted to, which is the order new rows are added in.
  std::vector<Row> held;
  // By journal and code as the table compares codes (ASCII case folded for a
  // column without regard to case), and, for the rows the table holds, by
  // their stored code: a code the store takes for another row's finds it.
  std::unordered_map<std::string, std::size_t> by_code;
  std::unordered_map<std::string, std::size_t> by_stored_code;
  // What the open record unit changed, to undo it.
  struct Undo {
    std::size_t row;
    int column;
    db::Value before;
    bool was_written;
  };
  std::vector<Undo> undo;
  std::size_t held_before_unit = 0;

  void clear() {
    held.clear();
    by_code.clear();
    by_stored_code.clear();
    undo.clear();
    held_before_unit = 0;
  }
};

namespace {

std::string row_key(std::string_view journal, std::string_view code, bool nocase) {
  std::string key;
  key.reserve(journal.size() + 1 + code.size());
  key.append(journal).push_back('\n');
  for (char c : code) key.push_back(nocase && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
  return key;
}

int column_in(const std::vector<db::ColumnInfo>& columns, std::string_view name) {
  for (std::size_t i = 0; i < columns.size(); ++i)
    if (db::CaselessEqual{}(columns[i].name, name)) return static_cast<int>(i);
  throw failure(ErrorCode::ItemNotFound, name);
}

// The rows one query of the flush reads: as many as a record set keeps whole.
constexpr std::size_t kRowsPerQuery = 32;

}  // namespace

BalancePosting::BalancePosting(std::string path) : path_(std::move(path)), rows_(std::make_unique<Rows>()) {}

BalancePosting::~BalancePosting() {
  // Written between records; a failure here is reported as the transaction's
  // loss at the next commit.
  database_.withdraw(*this);
}

int BalancePosting::column(const std::string& name) {
  auto it = column_by_name_.find(name);
  if (it == column_by_name_.end()) it = column_by_name_.emplace(name, column_in(*columns_, name)).first;
  return it->second;
}

void BalancePosting::change(std::size_t row, int column, db::Value value) {
  Row& r = rows_->held[row];
  auto i = static_cast<std::size_t>(column);
  if (row < rows_->held_before_unit)
    rows_->undo.push_back({row, column, std::move(r.values[i]), r.written[i]});
  r.values[i] = std::move(value);
  r.written[i] = true;
}

BalancePosting::Row& BalancePosting::held_row(const std::string& journal, const std::string& code,
                                              const db::Value& line_journal, db::Recordset& stored) {
  std::string key = row_key(journal, code, code_nocase_);
  if (auto it = rows_->by_code.find(key); it != rows_->by_code.end()) return rows_->held[it->second];

  const db::ColumnInfo& code_info = (*columns_)[static_cast<std::size_t>(code_column_)];
  Row row{.journal = journal, .code = code, .values = {}, .written = std::vector<bool>(columns_->size()), .stored = false};
  row.values.reserve(columns_->size());
  stored.find_first({{"CUESAL", db::Value(code)}});
  if (!stored.no_match()) {
    for (int i = 0; i < static_cast<int>(columns_->size()); ++i) row.values.push_back(stored.get(i));
    std::string stored_key = row_key(journal, db::to_text(row.values[static_cast<std::size_t>(code_column_)]), false);
    if (auto it = rows_->by_stored_code.find(stored_key); it != rows_->by_stored_code.end()) {
      rows_->by_code.emplace(std::move(key), it->second);
      return rows_->held[it->second];
    }
    row.stored = true;
    rows_->by_stored_code.emplace(std::move(stored_key), rows_->held.size());
  } else {
    // A new row: the columns' defaults, with the code and the line's journal.
    if (journal_column_ < 0) journal_column_ = column("DIASAL");
    for (const db::ColumnInfo& info : *columns_) row.values.push_back(info.default_value);
    row.values[static_cast<std::size_t>(code_column_)] = db::convert_for_column(code_info, db::Value(code));
    row.values[static_cast<std::size_t>(journal_column_)] =
        db::convert_for_column((*columns_)[static_cast<std::size_t>(journal_column_)], line_journal);
    row.written[static_cast<std::size_t>(code_column_)] = true;
    row.written[static_cast<std::size_t>(journal_column_)] = true;
  }
  rows_->by_code.emplace(std::move(key), rows_->held.size());
  return rows_->held.emplace_back(std::move(row));
}

void BalancePosting::post(std::int16_t journal, const DateTime& date, std::int32_t entry, std::int32_t order) {
  if (!database_.is_open()) {
    database_ = db::open_with_retry(path_, "Error al abrir la base de datos en el proceso de saldar apuntes: " + path_);
    database_.defer(*this);
  }
  db::Recordset lines = database_.open_recordset(posting_selection(journal, date, entry, order));
  const std::string month = std::to_string(date.month);

  for (; !lines.eof(); lines.move_next()) {
    db::Value account_value = lines.get("CUEAPU");
    std::string account = db::to_text(account_value);
    if (account.empty()) continue;

    std::vector<std::string> levels = balance_levels(account, company_levels());
    db::Value line_journal = lines.get("DIAAPU");
    std::string side = db::to_text(lines.get("D-HAPU"));
    std::string p_name = "P" + side + month + "SAL";
    std::string e_name = "E" + side + month + "SAL";
    db::Value p_amount = lines.get("IMPAPU");
    db::Value e_amount = lines.get("IMEAPU");
    std::string journal_text = db::to_text(line_journal);

    // The rows not held yet are read in one query, as the line's own query
    // for every level would have read them.
    std::vector<std::string> missing;
    for (const std::string& code : levels)
      if (!columns_ || !rows_->by_code.contains(row_key(journal_text, code, code_nocase_))) missing.push_back(code);
    db::Recordset stored;
    if (!missing.empty())
      stored = database_.open_recordset(balance_rows_query(journal_text, missing), db::RecordsetType::Dynaset);
    if (!columns_) {
      const auto& columns = database_.columns("F_SAL");
      code_column_ = column_in(columns, "CUESAL");
      code_nocase_ = columns[static_cast<std::size_t>(code_column_)].nocase;
      columns_ = &columns;
      at_once_ = database_.refuses_changes("F_SAL");
    }
    const int p = column(p_name), e = column(e_name);

    for (const std::string& code : levels) {
      Row& row = held_row(journal_text, code, line_journal, stored);
      const auto index = static_cast<std::size_t>(&row - rows_->held.data());
      change(index, p, db::convert_for_column((*columns_)[static_cast<std::size_t>(p)],
                                              add_amount(row.values[static_cast<std::size_t>(p)], p_amount)));
      change(index, e, db::convert_for_column((*columns_)[static_cast<std::size_t>(e)],
                                              add_amount(row.values[static_cast<std::size_t>(e)], e_amount)));
      if (!row.stored) store_new(index, stored);
    }
  }
  // A change that the table may refuse is written by the line that makes it,
  // so that the refusal is that line's failure.
  if (at_once_) flush();
}

void BalancePosting::store_new(std::size_t index, db::Recordset& stored) {
  // A new row is added at once, so that a row the store refuses fails the
  // line that adds it; later lines change it in memory.
  Row& row = rows_->held[index];
  stored.add_new();
  for (std::size_t c = 0; c < row.values.size(); ++c)
    if (row.written[c]) stored.set(static_cast<int>(c), db::Value(row.values[c]));
  stored.update();
  // Held as the store keeps it, defaults included.
  stored.find_first({{"CUESAL", db::Value(row.code)}});
  if (!stored.no_match())
    for (std::size_t c = 0; c < row.values.size(); ++c) row.values[c] = stored.get(static_cast<int>(c));
  row.stored = true;
  row.written.assign(row.written.size(), false);
  rows_->by_stored_code.emplace(
      row_key(row.journal, db::to_text(row.values[static_cast<std::size_t>(code_column_)]), false), index);
}

void BalancePosting::flush() {
  try {
    write_held();
  } catch (const Failure&) {
    // What was not written is not tried again: the transaction is lost.
    rows_->clear();
    throw;
  }
  rows_->clear();
}

void BalancePosting::write_held() {
  std::vector<Row>& held = rows_->held;
  auto needs_writing = [](const Row& row) { return std::find(row.written.begin(), row.written.end(), true) != row.written.end(); };
  std::size_t next = 0;
  while (next < held.size()) {
    if (!needs_writing(held[next])) {
      ++next;
      continue;
    }
    // Rows of one journal that follow each other are read in one query.
    const std::string& journal = held[next].journal;
    std::vector<std::size_t> batch;
    std::vector<std::string> codes;
    for (; next < held.size() && batch.size() < kRowsPerQuery && held[next].journal == journal; ++next) {
      if (!needs_writing(held[next])) continue;
      batch.push_back(next);
      codes.push_back(held[next].code);
    }
    db::Recordset balances = database_.open_recordset(balance_rows_query(journal, codes), db::RecordsetType::Dynaset);
    for (std::size_t i : batch) {
      Row& row = held[i];
      balances.find_first({{"CUESAL", db::Value(row.code)}});
      if (balances.no_match())
        throw failure(ErrorCode::EngineFailure,
                      fmt::format("el saldo de la cuenta {} del diario {} ha desaparecido mientras se saldaba",
                                  row.code, row.journal));
      balances.edit();
      for (std::size_t c = 0; c < row.values.size(); ++c)
        if (row.written[c]) balances.set(static_cast<int>(c), db::Value(row.values[c]));
      balances.update();
    }
  }
}

bool BalancePosting::unit_ended(bool kept) {
  Rows& rows = *rows_;
  if (!kept) {
    for (auto it = rows.undo.rbegin(); it != rows.undo.rend(); ++it) {
      Row& row = rows.held[it->row];
      row.values[static_cast<std::size_t>(it->column)] = std::move(it->before);
      row.written[static_cast<std::size_t>(it->column)] = it->was_written;
    }
    std::erase_if(rows.by_code, [&](const auto& entry) { return entry.second >= rows.held_before_unit; });
    std::erase_if(rows.by_stored_code, [&](const auto& entry) { return entry.second >= rows.held_before_unit; });
    rows.held.resize(rows.held_before_unit);
  }
  rows.undo.clear();
  rows.held_before_unit = rows.held.size();
  return rows.held.size() >= kHeldRows;
}

void BalancePosting::discard() { rows_->clear(); }

void SaldarApuntes(std::int16_t journal, const DateTime& date, std::int32_t entry, std::int32_t order,
                   const std::string& path) {
  BalancePosting posting(path);
  posting.post(journal, date, entry, order);
  posting.write();
}

}  // namespace kavelo
