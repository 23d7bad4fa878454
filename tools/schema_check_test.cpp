#include "schema_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/company_database.h"
#include "testing/temp_database.h"
#include "schema_facts.h"

namespace kavelo::check {
namespace {

const char* const kCompany =
    "INSERT INTO F_EMP (CODEMP, NOMEMP, FRMEMP) VALUES ('DEMO', 'Demo', '1101000');\n"
    "INSERT INTO F_AUT (CODAUT, NAAAUT, NAMAUT) VALUES (1, 1, 0);\n"
    "INSERT INTO F_DIA (CODDIA, NOMDIA, ASIDIA) VALUES (1, 'General', 1), (2, 'Ventas', 5);\n";

std::vector<CheckResult> check_of(const std::string& sql, const std::optional<std::string>& company = std::nullopt) {
  // One transaction: a statement by itself would wait for the disk each time.
  kavelo::testing::TempDatabase database("BEGIN;\n" + std::string(db::company_schema_sql()) + sql + "\nCOMMIT;");
  return check_company_database(database.path(), company);
}

std::string all_lines(const std::vector<CheckResult>& results) {
  std::string text;
  for (const CheckResult& result : results) text += checklist_line(result) + "\n";
  return text;
}

std::vector<std::string> failures(const std::vector<CheckResult>& results) {
  std::vector<std::string> out;
  for (const CheckResult& result : results)
    if (!result.ok) out.push_back(result.text);
  return out;
}

// The row checks come after the table checks: the last line about a table.
CheckResult last_about(const std::vector<CheckResult>& results, const std::string& table) {
  for (auto it = results.rbegin(); it != results.rend(); ++it)
    if (it->text.starts_with(table + ":")) return *it;
  return {false, "(no line about " + table + ")"};
}

TEST(SchemaCheck, ReferenceDatabaseWithItsCompanyPassesEveryCheck) {
  std::vector<CheckResult> results = check_of(kCompany);
  EXPECT_EQ(failures(results), std::vector<std::string>{}) << all_lines(results);
  // One line per reference table, then the company, numbering, journals, sides.
  EXPECT_EQ(results.size(), 14u) << all_lines(results);
  EXPECT_EQ(checklist_line(results.front()), "[ok] F_EMP: las 3 columnas que usa kavelo");
  EXPECT_EQ(last_about(results, "F_EMP").text,
            "F_EMP: empresa DEMO, FRMEMP '1101000', niveles con saldo: 1, 2, 4 y la propia");
}

TEST(SchemaCheck, EachSchemaFaultIsNamed) {
  struct Case {
    const char* what;
    std::string sql;  // run after the company's rows
    std::vector<std::string> faults;
  };
  const std::string kJournal = "INSERT INTO F_DIA VALUES (1, 'General', 1);";
  std::string monthly_without_default = "DROP TABLE F_SAL; CREATE TABLE F_SAL (CUESAL TEXT(12), DIASAL SHORT";
  for (const char* kind : {"P", "E"})
    for (const char* side : {"D", "H"})
      for (int month = 1; month <= 12; ++month)
        monthly_without_default +=
            std::string(", ") + kind + side + std::to_string(month) + "SAL CURRENCY" + (month == 3 ? " NOT NULL" : "");
  monthly_without_default += ", UNIQUE (DIASAL, CUESAL));";

  const Case cases[] = {
      {"dropped column", "ALTER TABLE F_CLI DROP COLUMN NCOCLI;", {"F_CLI: falta la columna NCOCLI (TEXT(100))"}},
      {"missing table", "DROP TABLE F_IVS;", {"F_IVS: falta la tabla"}},
      {"types by kind and length; other spellings and case of the same kind pass",
       "DROP TABLE F_MAE; CREATE TABLE f_mae (codmae VARCHAR(12) PRIMARY KEY, NOMMAE TEXT(50), NEXMAE TEXT, "
       "NATMAE REAL, RACMAE double, RSCMAE CURRENCY, MEMMAE TEXT(255));",
       {"F_MAE: la columna NOMMAE es TEXT(50) y debe ser TEXT(100) o más larga",
        "F_MAE: la columna RSCMAE es CURRENCY y debe ser DOUBLE",
        "F_MAE: la columna MEMMAE es TEXT(255) y debe ser LONGTEXT"}},
      {"untyped column",
       "DROP TABLE F_DIA; CREATE TABLE F_DIA (CODDIA SHORT PRIMARY KEY, NOMDIA, ASIDIA LONG);" + kJournal,
       {"F_DIA: la columna NOMDIA no tiene tipo y debe ser TEXT(50)"}},
      {"view",
       "DROP TABLE F_AUT; CREATE VIEW F_AUT AS SELECT CAST(1 AS SHORT) AS CODAUT, "
       "CAST(1 AS SHORT) AS NAAAUT, CAST(0 AS SHORT) AS NAMAUT;",
       {"F_AUT: es una vista y kavelo necesita una tabla", "F_AUT: la columna CODAUT no tiene tipo y debe ser SHORT",
        "F_AUT: la columna NAAAUT no tiene tipo y debe ser SHORT",
        "F_AUT: la columna NAMAUT no tiene tipo y debe ser SHORT"}},
      {"no key to find the rows by; a key index over other columns is none either",
       "DROP TABLE F_DIA; CREATE TABLE F_DIA (CODDIA SHORT NOT NULL, NOMDIA TEXT(50) UNIQUE, ASIDIA LONG);" +
           kJournal,
       {"F_DIA: no tiene una clave principal ni un índice único sobre CODDIA: kavelo no puede encontrar sus filas"}},
      {"a required column kavelo does not write; a rowid alias and a default are fine",
       "DROP TABLE F_MAE; CREATE TABLE F_MAE (ID INTEGER NOT NULL PRIMARY KEY, CODMAE TEXT(12) NOT NULL UNIQUE, "
       "NOMMAE TEXT(100), NEXMAE TEXT(100), NATMAE DOUBLE, RACMAE DOUBLE, RSCMAE DOUBLE, MEMMAE LONGTEXT, "
       "ALTMAE DATETIME NOT NULL, BAJMAE DATETIME NOT NULL DEFAULT '2000-01-01');",
       {"F_MAE: la columna ALTMAE es obligatoria y no tiene valor por defecto: kavelo no la escribe, así que no "
        "podrá añadir filas"}},
      {"a monthly balance a new row leaves empty",
       monthly_without_default,
       {"F_SAL: la columna PD3SAL es obligatoria y no tiene valor por defecto: una fila de saldos nueva la deja sin "
        "valor y no se podría guardar",
        "F_SAL: la columna PH3SAL es obligatoria y no tiene valor por defecto: una fila de saldos nueva la deja sin "
        "valor y no se podría guardar",
        "F_SAL: la columna ED3SAL es obligatoria y no tiene valor por defecto: una fila de saldos nueva la deja sin "
        "valor y no se podría guardar",
        "F_SAL: la columna EH3SAL es obligatoria y no tiene valor por defecto: una fila de saldos nueva la deja sin "
        "valor y no se podría guardar"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<CheckResult> results = check_of(kCompany + c.sql);
    EXPECT_EQ(failures(results), c.faults) << all_lines(results);
  }
}

TEST(SchemaCheck, CompanyAndItsLevelMask) {
  struct Case {
    std::string rows;
    std::optional<std::string> company;
    bool ok;
    std::string text;
  };
  const auto row = [](const std::string& code, const std::string& mask) {
    return "INSERT INTO F_EMP (CODEMP, FRMEMP) VALUES ('" + code + "', " + mask + ");";
  };
  const Case cases[] = {
      {row("A", "'1111'"), {}, true, "F_EMP: empresa A, FRMEMP '1111', niveles con saldo: 1, 2, 3, 4 y la propia"},
      {row("A", "'0010000'"), {}, true, "F_EMP: empresa A, FRMEMP '0010000', niveles con saldo: 3 y la propia"},
      {row("A", "'000'"), {}, true, "F_EMP: empresa A, FRMEMP '000', niveles con saldo: solo la propia"},
      {row("A", "NULL"),
       {},
       false,
       "F_EMP: la empresa A no tiene máscara de niveles FRMEMP: cada apunte se saldaría solo en su propia cuenta"},
      {row("A", "''"),
       {},
       false,
       "F_EMP: la empresa A no tiene máscara de niveles FRMEMP: cada apunte se saldaría solo en su propia cuenta"},
      {row("A", "'11ñ1'"), {}, false, "F_EMP: FRMEMP '11ñ1' de la empresa A solo puede tener 0 y 1 (posición 3: 'ñ')"},
      {"", {}, false, "F_EMP: no hay ninguna empresa"},
      {row("A", "'1'") + row("B", "'01'"), {}, false, "F_EMP: hay 2 empresas (A, B): diga cuál con --company"},
      // The code compares as kavelo's lookup compares it: without regard to case.
      {row("A", "'1'") + row("B", "'01'"), "b", true,
       "F_EMP: empresa B, FRMEMP '01', niveles con saldo: 2 y la propia"},
      {row("A", "'1'") + row("B", "'01'"), "Z", false, "F_EMP: no hay empresa con el código 'Z' (hay: A, B)"},
      {"", "Z", false, "F_EMP: no hay empresa con el código 'Z' (F_EMP está vacía)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rows + " " + c.company.value_or("-"));
    CheckResult result = last_about(check_of(c.rows, c.company), "F_EMP");
    EXPECT_EQ(result.ok, c.ok);
    EXPECT_EQ(result.text, c.text);
  }
}

TEST(SchemaCheck, NumberingModeAndTheJournalsItNeeds) {
  struct Case {
    std::string sql;
    bool numbering_ok;
    std::string numbering;
    bool journals_ok;
    std::string journals;
  };
  const std::string counter = "INSERT INTO F_AUT VALUES (1, 1, 0);";
  const std::string journals = "INSERT INTO F_DIA VALUES (1, 'General', 1), (7, 'Ventas', 12);";
  const std::string counter_text =
      "F_AUT: fila 1 (NAAAUT 1, NAMAUT 0): numeración por el contador de cada diario (ASIDIA de F_DIA)";
  const Case cases[] = {
      {counter + journals, true, counter_text, true,
       "F_DIA: 2 diarios con contador (1, 7); el primer asiento a numerar de un diario que no esté aquí detiene la "
       "importación de APU.TXT"},
      {counter, true, counter_text, false,
       "F_DIA: no hay diarios y la numeración por contador los necesita: el primer asiento que kavelo tenga que "
       "numerar detiene la importación de APU.TXT (kavelo no crea diarios)"},
      {counter + "INSERT INTO F_DIA VALUES (1, 'General', 3), (2, 'Compras', NULL);", true, counter_text, false,
       "F_DIA: sin contador válido: 2 (ASIDIA vacío); el primer asiento de esos diarios que kavelo tenga que numerar "
       "detiene la importación de APU.TXT"},
      {"INSERT INTO F_AUT VALUES (1, 1, 1);", true,
       "F_AUT: fila 1 (NAAAUT 1, NAMAUT 1): numeración por diario y fecha (el mayor número del diario en esa fecha, "
       "más uno)",
       true, "F_DIA: 0 diarios; la numeración elegida no usa sus contadores"},
      {"INSERT INTO F_AUT VALUES (1, 1, NULL);" + journals, true,
       "F_AUT: fila 1 (NAAAUT 1, NAMAUT vacío): numeración por diario y fecha (el mayor número del diario en esa "
       "fecha, más uno)",
       true, "F_DIA: 2 diarios: 1, 7; la numeración elegida no usa sus contadores"},
      {"INSERT INTO F_AUT VALUES (1, NULL, 0);", true,
       "F_AUT: fila 1 (NAAAUT vacío): numeración por diario (el mayor número del diario, más uno)", true,
       "F_DIA: 0 diarios; la numeración elegida no usa sus contadores"},
      {"INSERT INTO F_AUT VALUES (2, 1, 0);" + journals, false,
       "F_AUT: no hay fila con CODAUT 1: sin ella kavelo no sabe numerar, y el primer apunte de APU.TXT con asiento 0 "
       "y orden 1 detiene la importación de APU.TXT",
       true, "F_DIA: 2 diarios: 1, 7; sin F_AUT no se sabe si hacen falta"},
      {"INSERT INTO F_AUT VALUES (1, 'uno', 0);", false,
       "F_AUT: la fila 1 no dice cómo numerar los asientos: No coinciden los tipos", true,
       "F_DIA: 0 diarios; sin F_AUT no se sabe si hacen falta"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    std::vector<CheckResult> results = check_of(c.sql);
    CheckResult numbering = last_about(results, "F_AUT");
    EXPECT_EQ(numbering.ok, c.numbering_ok);
    EXPECT_EQ(numbering.text, c.numbering);
    CheckResult journal = last_about(results, "F_DIA");
    EXPECT_EQ(journal.ok, c.journals_ok);
    EXPECT_EQ(journal.text, c.journals);
  }
}

TEST(SchemaCheck, BalanceColumnsForEverySideOfTheStoredLines) {
  const auto line = [](int order, const std::string& account, const std::string& side) {
    return "INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU, CUEAPU, \"D-HAPU\") VALUES (1, '2024-03-01', 1, " +
           std::to_string(order) + ", " + account + ", " + side + ");";
  };
  struct Case {
    std::string sql;
    std::vector<std::string> lines;  // the F_SAL lines about sides, "+" ok, "-" failed
  };
  const Case cases[] = {
      {"", {"+F_SAL: F_APU no tiene apuntes con cuenta: no hay lados que comprobar"}},
      // Sides differing in case name the same columns.
      {line(1, "'430'", "'D'") + line(2, "'700'", "'H'") + line(3, "'572'", "'d'"),
       {"+F_SAL: las 24 columnas mensuales del lado 'D' (2 apuntes)",
        "+F_SAL: las 24 columnas mensuales del lado 'H' (1 apunte)"}},
      // A line without an account posts nothing, whatever its side.
      {line(1, "NULL", "'X'") + line(2, "''", "'X'"),
       {"+F_SAL: F_APU no tiene apuntes con cuenta: no hay lados que comprobar"}},
      {line(1, "'430'", "'X'") + line(2, "'430'", "NULL"),
       {"-F_SAL: faltan columnas del lado vacío de F_APU (1 apunte): ninguna de sus 24 columnas (P1SAL a E12SAL); "
        "esos apuntes no se pueden saldar (F_SAL tiene columnas de los lados D, H)",
        "-F_SAL: faltan columnas del lado 'X' de F_APU (1 apunte): ninguna de sus 24 columnas (PX1SAL a EX12SAL); "
        "esos apuntes no se pueden saldar (F_SAL tiene columnas de los lados D, H)"}},
      {"ALTER TABLE F_SAL DROP COLUMN PD12SAL; ALTER TABLE F_SAL DROP COLUMN ED1SAL;" + line(1, "'430'", "'D'"),
       {"-F_SAL: faltan columnas del lado 'D' de F_APU (1 apunte): PD12SAL, ED1SAL; los apuntes de esos meses no se "
        "pueden saldar "
        "(F_SAL tiene columnas de los lados D, H)"}},
      // A side ending in a digit: its January column is not side "" of November.
      {"ALTER TABLE F_SAL ADD COLUMN P11SAL CURRENCY;" + line(1, "'430'", "'1'"),
       {"-F_SAL: faltan columnas del lado '1' de F_APU (1 apunte): P12SAL, P13SAL, P14SAL, P15SAL, P16SAL, P17SAL, "
        "P18SAL, P19SAL, P110SAL, P111SAL, P112SAL, E11SAL, E12SAL, E13SAL, E14SAL, E15SAL, E16SAL, E17SAL, E18SAL, "
        "E19SAL, E110SAL, E111SAL, E112SAL; los apuntes de esos meses no se pueden saldar (F_SAL tiene columnas de los "
        "lados D, H, vacío)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    std::vector<std::string> found;
    for (const CheckResult& result : check_of(kCompany + c.sql))
      if (result.text.starts_with("F_SAL:") && (result.text.find("lado") != std::string::npos))
        found.push_back((result.ok ? "+" : "-") + result.text);
    EXPECT_EQ(found, c.lines);
  }
}

// What only a store's own reader can find (a server's row identity, its exact
// decimals) goes through the same checklist: a fault of telling rows apart
// counts on every table, one of finding a new row only where kavelo adds
// rows, and neither on a view, which fails as a view.
TEST(SchemaCheck, StoreFaultsCountWhereTheyMatter) {
  class Store final : public FactReader {
   public:
    Store() {
      auto column = [](const std::string& name, const std::string& type, db::ColumnKind kind) {
        Column c;
        c.name = name;
        c.type = type;
        c.kind = kind;
        return c;
      };
      auto table = [&](const std::string& name, std::vector<Column> columns) -> Table& {
        Table& t = schema_.tables.emplace_back();
        t.name = name;
        t.columns = std::move(columns);
        return t;
      };
      Table& journals = table("f_dia", {column("CODDIA", "s", db::ColumnKind::Short),
                                        column("NOMDIA", "t", db::ColumnKind::Text),
                                        column("ASIDIA", "l", db::ColumnKind::Long)});
      journals.faults = {"sin identidad"};
      journals.new_row_faults = {"no numera filas nuevas"};
      Table& settings = table("f_aut", {});
      settings.view = true;
      settings.faults = {"vista sin identidad"};
      Column narrow = column("RETCLI", "numeric(19,2)", db::ColumnKind::Currency);
      narrow.precision = 19;
      narrow.scale = 2;
      Column wide = column("IVACLI", "numeric(24,6)", db::ColumnKind::Currency);
      wide.precision = 24;
      wide.scale = 6;
      Column misnamed = column("RECCLI", "numeric", db::ColumnKind::Currency);
      misnamed.fault = "la columna RECCLI se escribe mal";
      Table& customers = table("f_cli", {narrow, wide, misnamed});
      customers.new_row_faults = {"no numera filas nuevas"};
    }
    const Schema& schema() override { return schema_; }
    std::vector<std::vector<db::Value>> rows(const std::string&, const std::vector<db::Value>&,
                                             const std::vector<db::ColumnKind>&) override {
      return {};
    }
    std::string type_name(const Column& reference) const override { return "<" + reference.type + ">"; }

   private:
    Schema schema_;
  } store;

  std::vector<std::string> found = failures(run_checks(store, std::nullopt));
  auto has = [&](const std::string& line) { return std::find(found.begin(), found.end(), line) != found.end(); };
  std::string all;
  for (const std::string& line : found) all += line + "\n";
  EXPECT_TRUE(has("F_DIA: sin identidad")) << all;
  EXPECT_FALSE(has("F_DIA: no numera filas nuevas")) << all;
  EXPECT_TRUE(has("F_AUT: es una vista y kavelo necesita una tabla")) << all;
  EXPECT_FALSE(has("F_AUT: vista sin identidad")) << all;
  EXPECT_TRUE(has("F_CLI: no numera filas nuevas")) << all;
  // A missing column is named in the store's words.
  EXPECT_TRUE(has("F_CLI: falta la columna NCOCLI (<TEXT(100)>)")) << all;
  EXPECT_TRUE(has("F_CLI: la columna RETCLI es numeric(19,2) y debe ser <CURRENCY> o más amplia: guardaría los "
                  "importes redondeados o no los guardaría"))
      << all;
  EXPECT_TRUE(has("F_CLI: la columna RECCLI se escribe mal")) << all;
  for (const std::string& line : found) EXPECT_EQ(line.find("IVACLI"), std::string::npos) << line;
}

TEST(SchemaCheck, AFileThatIsNoDatabaseCannotBeOpened) {
  kavelo::testing::TempDatabase folder("");
  const std::string text_file = (folder.dir() / "NOTAS.TXT").string();
  std::ofstream(text_file) << "Esto no es una base de datos, aunque lo parezca por su tamaño: " << std::string(200, 'x')
                           << "\n";
  const struct {
    std::string path;
    std::string message;
  } cases[] = {
      {(folder.dir() / "FALTA.MDB").string(), "no existe el archivo"},
      {text_file, "no es una base de datos SQLite"},
      {folder.dir().string(), "es una carpeta"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    try {
      check_company_database(c.path);
      ADD_FAILURE() << "no failure";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), "No se puede abrir la base de datos '" + c.path + "': " + c.message);
    }
  }
  // Checking never makes a database where there was none.
  EXPECT_FALSE(std::filesystem::exists(folder.dir() / "FALTA.MDB"));
}

TEST(SchemaCheck, AnEmptyDatabaseLacksEveryTable) {
  kavelo::testing::TempDatabase empty("");
  std::vector<CheckResult> results = check_company_database(empty.path());
  std::vector<std::string> expected = {"F_EMP: falta la tabla",
                                       "F_AUT: falta la tabla",
                                       "F_DIA: falta la tabla",
                                       "F_MAE: falta la tabla",
                                       "F_CLI: falta la tabla",
                                       "F_PRO: falta la tabla",
                                       "F_APU: falta la tabla",
                                       "F_SAL: falta la tabla",
                                       "F_IVR: falta la tabla",
                                       "F_IVS: falta la tabla",
                                       "F_EMP: no se puede comprobar la empresa: falta la tabla F_EMP",
                                       "F_AUT: no se pueden leer los ajustes de numeración: falta la tabla F_AUT",
                                       "F_SAL: no se pueden comprobar los lados de los apuntes: falta la tabla F_APU"};
  EXPECT_EQ(failures(results), expected) << all_lines(results);
  EXPECT_EQ(last_about(results, "F_DIA").text, "F_DIA: falta la tabla F_DIA; sin F_AUT no se sabe si hacen falta");
}

}  // namespace
}  // namespace kavelo::check
