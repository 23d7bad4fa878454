// The account, customer and supplier imports through the real program: rows
// added and changed, the conversions of their fields, and every way a file's
// import ends early, checked on the stored values and the error report.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "import_scenario.h"

namespace kavelo::test {
namespace {

using Row = std::map<std::string, std::string>;

// Every row of the query, column name to quoted value.
std::vector<Row> query(const std::string& database, const std::string& sql) {
  std::vector<Row> rows;
  for (const QueriedRow& row : query_rows(database, sql)) rows.emplace_back(row.begin(), row.end());
  return rows;
}

std::string record(const std::string& identifier, int fields, const std::map<int, std::string>& set) {
  std::string line = identifier;
  for (int position = 2; position <= fields; ++position) {
    auto found = set.find(position);
    line += ";" + (found == set.end() ? std::string("0") : found->second);
  }
  return line;
}

// The first `count` fields of a record.
std::string first_fields(const std::string& line, int count) {
  std::size_t end = 0;
  for (int i = 0; i < count; ++i) end = line.find(';', end) + 1;
  return line.substr(0, end - 1);
}

// An error line of the report.
class MasterImport : public ImportScenario {
 protected:
  std::vector<Row> rows(const std::string& table, const std::string& key_column) {
    return query(database, "SELECT * FROM " + table + " ORDER BY " + key_column);
  }
  // The quoted values of `columns` in the row where `where` holds.
  std::vector<std::string> values(const std::string& table, const std::string& where,
                                  const std::vector<std::string>& columns) {
    std::vector<Row> found = query(database, "SELECT * FROM " + table + " WHERE " + where);
    if (found.size() != 1) {
      ADD_FAILURE() << found.size() << " rows of " << table << " where " << where;
      return {};
    }
    std::vector<std::string> result;
    for (const std::string& column : columns) result.push_back(found[0].at(column));
    return result;
  }
  std::vector<std::string> keys(const std::string& table, const std::string& key_column) {
    std::vector<std::string> result;
    for (const Row& row : rows(table, key_column)) result.push_back(row.at(key_column));
    return result;
  }
};

// What the scenarios common to the three files need to know of each.
struct MasterFile {
  std::string name;  // MAE.TXT
  std::string table;
  std::string identifier;
  int fields;  // of a complete record
  std::string label;
  std::string key;
  int key_size;  // the n of its TEXT(n)
  // A text column of 100 characters, another text column and a number column,
  // with their positions.
  int name_position;
  std::string name_column, name_code;
  int text_position;
  std::string text_column;
  int number_position;
  std::string number_column;
};

void PrintTo(const MasterFile& f, std::ostream* out) { *out << f.table; }

const MasterFile kMasterFiles[] = {
    {"MAE.TXT", "F_MAE", "M001", 8, "Maestro: (", "CODMAE", 12, 3, "NOMMAE", "02", 4, "NEXMAE", 5, "NATMAE"},
    {"CLI.TXT", "F_CLI", "C001", 52, "Clientes: (", "CODCLI", 10, 4, "NOMCLI", "03", 6, "CIFCLI", 5, "IFICLI"},
    {"PRO.TXT", "F_PRO", "P001", 51, "Proveedores: (", "CODPRO", 10, 3, "NOMPRO", "02", 5, "CIFPRO", 4, "IFIPRO"},
};

class EachMasterFile : public MasterImport, public ::testing::WithParamInterface<MasterFile> {
 protected:
  const MasterFile& f = GetParam();
  std::string rec(const std::string& code, std::map<int, std::string> set = {}) {
    set[2] = code;
    return record(f.identifier, f.fields, set);
  }
  std::string named(const std::string& code, const std::string& name) { return rec(code, {{f.name_position, name}}); }
  std::vector<std::string> stored_keys() { return keys(f.table, f.key); }
};

INSTANTIATE_TEST_SUITE_P(Files, EachMasterFile, ::testing::ValuesIn(kMasterFiles),
                         [](const auto& file) { return file.param.table; });

TEST_P(EachMasterFile, AddsNewRowsAndOverwritesTheImportedColumnsOfExistingOnes) {
  // A column that the import does not write, and an existing row to change.
  const std::string suffix = f.table.substr(2);
  const std::string extra = "EXT" + suffix;
  const std::string sql = "ALTER TABLE " + f.table + " ADD COLUMN " + extra + " TEXT(10) DEFAULT 'nuevo';\n" +
                          "INSERT INTO " + f.table + " (" + f.key + ", " + f.name_column + ", " + f.text_column +
                          ", " + f.number_column + ", " + extra + ") VALUES ('B', 'Viejo', 'viejo', 9, 'guardado');";
  file(f.name, {rec("A", {{f.name_position, "Nuevo"}, {f.text_position, "X1"},
                          {f.number_position, "3"}}),
                // Empty fields empty the text column and set 0.
                rec("B", {{f.name_position, "Cambiado"}, {f.text_position, ""}, {f.number_position, ""}})});
  EXPECT_EQ(import(sql), "");
  const std::vector<std::string> columns = {f.name_column, f.text_column, f.number_column, extra};
  EXPECT_EQ(values(f.table, f.key + "='A'", columns), (std::vector<std::string>{"'Nuevo'", "'X1'", "3.0", "'nuevo'"}));
  EXPECT_EQ(values(f.table, f.key + "='B'", columns),
            (std::vector<std::string>{"'Cambiado'", "''", "0.0", "'guardado'"}));
}

TEST_P(EachMasterFile, TwoRecordsWithOneKeyLeaveTheSecondsValues) {
  file(f.name, {named("A", "Primero"), named("A", "Segundo")});
  EXPECT_EQ(import(), "");
  EXPECT_EQ(stored_keys(), std::vector<std::string>{"'A'"});
  EXPECT_EQ(values(f.table, f.key + "='A'", {f.name_column}), std::vector<std::string>{"'Segundo'"});
}

// A table larger than a record set keeps in memory is searched by the store:
// new keys are added, known ones changed, and the summary counts each as
// what it was.
TEST_P(EachMasterFile, InALargeTableNewKeysAreAddedAndKnownOnesChanged) {
  std::string sql = "INSERT INTO " + f.table + " (" + f.key + ", " + f.name_column + ", " + f.text_column + ", " +
                    f.number_column + ") VALUES ('K0', 'Viejo', 'viejo', 9)";
  for (int i = 1; i < 100; ++i) sql += fmt::format(", ('K{}', 'Viejo', 'viejo', 9)", i);
  file(f.name, {named("A", "Nuevo"), named("K5", "Cambiado"), named("K6", "Cambiado"), named("B", "Nuevo"),
                named("A", "Otra vez")});
  EXPECT_EQ(import(sql + ";"), "");
  EXPECT_EQ(stored_keys().size(), 102u);
  for (const auto& [key, name] : std::vector<std::pair<std::string, std::string>>{
           {"A", "'Otra vez'"}, {"B", "'Nuevo'"}, {"K5", "'Cambiado'"}, {"K6", "'Cambiado'"}, {"K7", "'Viejo'"}})
    EXPECT_EQ(values(f.table, f.key + "='" + key + "'", {f.name_column}), std::vector<std::string>{name}) << key;
  // Read, added, changed, duplicates.
  std::istringstream summary(last_run.err.substr(last_run.err.find("\n" + f.name) + 1));
  std::string name;
  long read = 0, added = 0, changed = 0, duplicates = 0;
  summary >> name >> read >> added >> changed >> duplicates;
  EXPECT_EQ(std::vector<long>({read, added, changed, duplicates}), std::vector<long>({5, 2, 3, 0})) << last_run.err;
}

TEST_P(EachMasterFile, CodeWithAQuoteImportsAsItself) {
  file(f.name, {named("O'BRIEN", "Primero"), named("O'BRIEN", "Segundo")});
  EXPECT_EQ(import(), "");
  EXPECT_EQ(stored_keys(), std::vector<std::string>{"'O'BRIEN'"});
  EXPECT_EQ(values(f.table, f.key + "='O''BRIEN'", {f.name_column}), std::vector<std::string>{"'Segundo'"});
}

TEST_P(EachMasterFile, CodeKeepsLeadingBlanksAndLosesTrailingOnes) {
  file(f.name, {named("  A  ", "Primero"), named("  A", "Segundo")});
  EXPECT_EQ(import(), "");
  EXPECT_EQ(stored_keys(), std::vector<std::string>{"'  A'"});
  EXPECT_EQ(values(f.table, f.key + "='  A'", {f.name_column}), std::vector<std::string>{"'Segundo'"});
}

// A bad record ends the file's import: the record before it stays, the one
// after it is not read.
TEST_P(EachMasterFile, RecordThatIsNotOfTheFileEndsItsImport) {
  std::string lower = f.identifier;
  lower[0] = static_cast<char>(lower[0] - 'A' + 'a');
  struct Case {
    std::vector<std::string> bad_lines;
    int record;
  };
  const Case cases[] = {
      {{record(lower, f.fields, {{2, "B"}})}, 2},
      {{"X001;B;Nombre"}, 2},
      {{""}, 2},
      // The line after a comment is a record whatever it begins with.
      {{"'comentario", "'otro comentario"}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bad_lines[0]);
    std::vector<std::string> lines = {named("A", "Antes")};
    lines.insert(lines.end(), c.bad_lines.begin(), c.bad_lines.end());
    lines.push_back(named("C", "Después"));
    file(f.name, lines);
    EXPECT_EQ(import(), error_line(f.label, c.record, "00", "Identificador de registro no válido."));
    EXPECT_EQ(stored_keys(), std::vector<std::string>{"'A'"});
    start_again();
  }
}

TEST_P(EachMasterFile, CommentLinesAreSkippedAndOneAtTheEndReadsPastIt) {
  file(f.name, {"'primer comentario", named("A", "Uno"), "'" + named("X", "comentado"), named("B", "Dos"),
                "'comentario final"});
  // The record number counts records only: the comment at the end is the
  // third, read when no field code is in force.
  EXPECT_EQ(import(), error_line(f.label, 3, "", "La entrada ha sobrepasado el final del archivo"));
  EXPECT_EQ(stored_keys(), (std::vector<std::string>{"'A'", "'B'"}));
}

TEST_P(EachMasterFile, TextTooLongForItsColumnEndsTheImportWithItsFieldCode) {
  file(f.name, {named("A", std::string(100, 'n')), named("B", std::string(101, 'n')), named("C", "Después")});
  EXPECT_EQ(import(), error_line(f.label, 2, f.name_code,
                           "El campo '" + f.name_column +
                               "' es demasiado pequeño para aceptar la cantidad de datos que intentó agregar."));
  EXPECT_EQ(stored_keys(), std::vector<std::string>{"'A'"});
}

// The code is written under field code "01", after the look-up.
TEST_P(EachMasterFile, CodeTooLongForItsColumnEndsTheImportWithFieldCodeOne) {
  file(f.name, {named(std::string(f.key_size, 'A'), "Cabe"), named(std::string(f.key_size + 1, 'B'), "Sobra"),
                named("C", "Después")});
  EXPECT_EQ(import(), error_line(f.label, 2, "01",
                           "El campo '" + f.key +
                               "' es demasiado pequeño para aceptar la cantidad de datos que intentó agregar."));
  EXPECT_EQ(stored_keys(), std::vector<std::string>{"'" + std::string(f.key_size, 'A') + "'"});
}

TEST_P(EachMasterFile, DuplicateInAnotherUniqueIndexIsSkippedWithoutALine) {
  file(f.name, {rec("A", {{f.text_position, "X"}}), rec("B", {{f.text_position, "X"}}),
                rec("C", {{f.text_position, "Y"}})});
  EXPECT_EQ(import("CREATE UNIQUE INDEX unico ON " + f.table + " (" + f.text_column + ");"), "");
  EXPECT_EQ(stored_keys(), (std::vector<std::string>{"'A'", "'C'"}));
}

TEST_P(EachMasterFile, FieldsBeyondTheRecordAreIgnored) {
  file(f.name, {named("A", "Largo") + ";sobra;" + std::string(300, 'x') + ";"});
  EXPECT_EQ(import(), "");
  EXPECT_EQ(stored_keys(), std::vector<std::string>{"'A'"});
}

TEST_P(EachMasterFile, MissingFileIsRecordZeroAndTheNextFileStillImports) {
  std::filesystem::remove(inter + "/" + f.name);
  // The file after this one in the run.
  const bool accounts = f.table == "F_MAE";
  file(accounts ? "CLI.TXT" : "IVR.TXT",
       {accounts ? record("C001", 52, {{2, "C"}}) : record("R001", 65, {{2, "4"}, {11, ""}, {12, ""}, {47, ""}})});
  EXPECT_EQ(import(), error_line(f.label, 0, "", "No se encontró el archivo"));
  EXPECT_EQ(keys(accounts ? "F_CLI" : "F_IVR", accounts ? "CODCLI" : "CODIVR"),
            std::vector<std::string>{accounts ? "'C'" : "4"});
}

// An empty file does not open its table's record set, yet a table that is
// not there is reported as it is for a file with records.
TEST_P(EachMasterFile, AnEmptyFileReportsAMissingTableAsAFileWithRecords) {
  const std::string drop = "DROP TABLE " + f.table + ";\n";
  const std::string empty = import(drop);
  start_again();
  file(f.name, {rec("X")});
  const std::string with_a_record = import(drop);
  EXPECT_NE(empty, "");
  EXPECT_EQ(empty, with_a_record);
}

// The number conversion reads "." as its only decimal point and stops at the
// first character that does not belong to a number.
TEST_P(EachMasterFile, NumberFields) {
  struct Case {
    std::string field, stored;
  };
  const Case cases[] = {
      {"12,5", "12.0"}, {"1.234,56", "1.234"}, {"1.5E2", "150.0"}, {" 7 ", "7.0"},  {"2.5", "2.5"},
      {"-3", "-3.0"},   {"abc", "0.0"},         {"", "0.0"},       {"&H1F", "31.0"}, {"1D3", "1000.0"},
  };
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < std::size(cases); ++i)
    lines.push_back(rec("N" + std::to_string(i), {{f.number_position, cases[i].field}}));
  file(f.name, lines);
  EXPECT_EQ(import(), "");
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(values(f.table, f.key + "='N" + std::to_string(i) + "'", {f.number_column}),
              std::vector<std::string>{cases[i].stored})
        << cases[i].field;
}

TEST_P(EachMasterFile, TextKeepsLeadingBlanksAndLosesTrailingOnes) {
  file(f.name, {named("A", "  Nombre  ")});
  EXPECT_EQ(import(), "");
  EXPECT_EQ(values(f.table, f.key + "='A'", {f.name_column}), std::vector<std::string>{"'  Nombre'"});
}

TEST_F(MasterImport, AccountRecordThatEndsAfterTheNameEmptiesAndZeroesTheRest) {
  file("MAE.TXT", {"M001;100;Caja;;1;0;0;", "M001;101;Bancos"});
  EXPECT_EQ(import("INSERT INTO F_MAE VALUES ('101', 'x', 'x', 1, 2, 3, 'x');"), "");
  const std::vector<std::string> columns = {"NOMMAE", "NEXMAE", "NATMAE", "RACMAE", "RSCMAE", "MEMMAE"};
  EXPECT_EQ(values("F_MAE", "CODMAE='100'", columns),
            (std::vector<std::string>{"'Caja'", "''", "1.0", "0.0", "0.0", "''"}));
  EXPECT_EQ(values("F_MAE", "CODMAE='101'", columns),
            (std::vector<std::string>{"'Bancos'", "''", "0.0", "0.0", "0.0", "''"}));
}

// Amounts are read by the regional settings (decimal ",", grouping ".") and
// fail on the empty text and on anything that is not a number.
struct AmountCase {
  std::string file, table, identifier, label;
  int fields, position;
  std::string column, code;
};
const AmountCase kAmounts[] = {
    {"CLI.TXT", "F_CLI", "C001", "Clientes: (", 52, 17, "RETCLI", "16"},
    {"CLI.TXT", "F_CLI", "C001", "Clientes: (", 52, 21, "IVACLI", "20"},
    {"CLI.TXT", "F_CLI", "C001", "Clientes: (", 52, 22, "RECCLI", "21"},
    {"PRO.TXT", "F_PRO", "P001", "Proveedores: (", 51, 16, "RETPRO", "15"},
    {"PRO.TXT", "F_PRO", "P001", "Proveedores: (", 51, 21, "IVAPRO", "20"},
    {"PRO.TXT", "F_PRO", "P001", "Proveedores: (", 51, 22, "RECPRO", "21"},
};

TEST_F(MasterImport, AmountFields) {
  for (const AmountCase& a : kAmounts) {
    SCOPED_TRACE(a.column);
    const std::string key = "COD" + a.table.substr(2);
    file(a.file, {record(a.identifier, a.fields, {{2, "A"}, {a.position, "1.234,56"}}),
                  record(a.identifier, a.fields, {{2, "B"}, {a.position, "-12,5"}}),
                  record(a.identifier, a.fields, {{2, "C"}, {a.position, "0,00005"}})});
    EXPECT_EQ(import(), "");
    EXPECT_EQ(keys(a.table, key), (std::vector<std::string>{"'A'", "'B'", "'C'"}));
    EXPECT_EQ(values(a.table, key + "='A'", {a.column}), std::vector<std::string>{"1234.56"});
    EXPECT_EQ(values(a.table, key + "='B'", {a.column}), std::vector<std::string>{"-12.5"});
    // Four decimals, the half to even.
    EXPECT_EQ(values(a.table, key + "='C'", {a.column}), std::vector<std::string>{"0"});
    start_again();
  }
}

// A company whose table lacks a column of the file: the first record that
// writes it ends the import, named by its field code and the column.
TEST_F(MasterImport, ATableWithoutAColumnOrAKeyToFindItsRowsByEndsTheImport) {
  struct Case {
    const char* sql;
    std::string line;
  };
  for (const Case& c : std::vector<Case>{
           {"ALTER TABLE F_MAE DROP COLUMN NATMAE;",
            error_line("Maestro: (", 1, "04", "Elemento no encontrado en esta colección: 'NATMAE'.")},
           {"DROP TABLE F_MAE; CREATE TABLE F_MAE (CODMAE TEXT(12), NOMMAE TEXT(100), NEXMAE TEXT(100), "
            "NATMAE DOUBLE, RACMAE DOUBLE, RSCMAE DOUBLE, MEMMAE LONGTEXT);",
            error_line("Maestro: (", 1, "", "No hay una clave principal ni un índice único de la tabla F_MAE sobre "
                                            "CODMAE: kavelo no puede encontrar sus filas.")},
       }) {
    start_again();
    file("MAE.TXT", {"M001;100;Caja;;1;0;0;", "M001;101;Bancos;;1;0;0;"});
    EXPECT_EQ(import(c.sql), c.line);
    EXPECT_EQ(keys("F_MAE", "CODMAE"), std::vector<std::string>{});
  }
}

// A write that takes the whole transaction with it (SQLite rolls it back): the
// failing record's line, then one naming the first record lost with it, every
// record before that one stored; one line when they are the same record.
TEST_F(MasterImport, AWriteThatLosesTheTransactionNamesTheFirstRecordLost) {
  if (on_server()) GTEST_SKIP() << "a server keeps the transaction of a statement that fails";
  const std::string lose_all =
      "CREATE TRIGGER lose_all BEFORE INSERT ON F_MAE WHEN NEW.CODMAE = 'X' "
      "BEGIN SELECT RAISE(ROLLBACK, 'todo perdido'); END;\n";
  for (int failing : {1, 3}) {
    SCOPED_TRACE(failing);
    std::vector<std::string> records;
    for (int i = 1; i <= 4; ++i)
      records.push_back(fmt::format("M001;{};Cuenta;;1;0;0;", i == failing ? "X" : std::to_string(i)));
    file("MAE.TXT", records);
    const std::string errors = import(lose_all);
    const int stored = static_cast<int>(keys("F_MAE", "CODMAE").size());
    EXPECT_LT(stored, failing);
    const std::string refused = "Uno o más valores no son válidos según la regla de validación de 'todo perdido'.";
    std::string expected = error_line("Maestro: (", failing, "", refused);
    if (stored + 1 < failing) expected += error_line("Maestro: (", stored + 1, "", refused);
    EXPECT_EQ(errors, expected);
    start_again();
  }
}

TEST_F(MasterImport, AmountThatIsEmptyOrNotANumberEndsTheImportWithItsFieldCode) {
  for (const AmountCase& a : kAmounts) {
    for (const std::string bad : {"", "abc", "12,5x"}) {
      SCOPED_TRACE(a.column + " " + bad);
      const std::string key = "COD" + a.table.substr(2);
      file(a.file, {record(a.identifier, a.fields, {{2, "A"}}),
                    record(a.identifier, a.fields, {{2, "B"}, {a.position, bad}}),
                    record(a.identifier, a.fields, {{2, "C"}})});
      EXPECT_EQ(import(), error_line(a.label, 2, a.code, "No coinciden los tipos"));
      EXPECT_EQ(keys(a.table, key), std::vector<std::string>{"'A'"});
      start_again();
    }
  }
}

// A record that ends before its last amount field fails there; one that ends
// after it is stored, the fields it lacks empty.
TEST_F(MasterImport, ShortCustomerAndSupplierRecords) {
  struct Case {
    std::string file, table, identifier, label;
    int fields;
  };
  const Case cases[] = {{"CLI.TXT", "F_CLI", "C001", "Clientes: (", 52},
                        {"PRO.TXT", "F_PRO", "P001", "Proveedores: (", 51}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    const std::string key = "COD" + c.table.substr(2);
    const std::string full = record(c.identifier, c.fields, {{2, "A"}});
    file(c.file, {first_fields(full, 22), first_fields(record(c.identifier, c.fields, {{2, "B"}}), 21)});
    EXPECT_EQ(import(), error_line(c.label, 2, "21", "No coinciden los tipos"));
    ASSERT_EQ(rows(c.table, key).size(), 1u);
    // Text columns after position 22 empty, number columns 0.
    const Row row = rows(c.table, key)[0];
    const std::string suffix = c.table.substr(2);
    EXPECT_EQ(row.at("NCO" + suffix), "''");
    EXPECT_EQ(row.at("CPA5" + suffix), "''");
    EXPECT_EQ(row.at("DEP" + suffix), "0.0");
    EXPECT_EQ(row.at("CPO" + suffix), c.table == "F_CLI" ? "''" : "0.0");
    EXPECT_EQ(row.at("REC" + suffix), "0");
    start_again();
  }
}

// Where the two records differ: the supplier's postal code is a number, the
// customer's text, and the columns after RET stand one place apart.
TEST_F(MasterImport, CustomerAndSupplierRecordsPartWhereTheyDiffer) {
  file("CLI.TXT", {record("C001", 52, {{2, "C"}, {3, "1"}, {17, "17"}, {18, "18"}, {27, "08001"}, {44, "m"},
                                       {45, "45"}, {46, "46"}, {52, "fin"}})});
  file("PRO.TXT", {record("P001", 51, {{2, "P"}, {16, "16"}, {17, "17"}, {18, "18"}, {27, "08001"}, {44, "m"},
                                       {45, "45"}, {51, "fin"}})});
  EXPECT_EQ(import(), "");
  EXPECT_EQ(values("F_CLI", "CODCLI='C'",
                   {"TFCCLI", "RETCLI", "COPCLI", "CPOCLI", "MEMCLI", "FELCLI", "DEPCLI", "CPA5CLI"}),
            (std::vector<std::string>{"1.0", "17", "18.0", "'08001'", "'m'", "45.0", "46.0", "'fin'"}));
  EXPECT_EQ(values("F_PRO", "CODPRO='P'", {"RETPRO", "TDEPRO", "COPPRO", "CPOPRO", "MEMPRO", "DEPPRO", "CPA5PRO"}),
            (std::vector<std::string>{"16", "17.0", "18.0", "8001.0", "'m'", "45.0", "'fin'"}));
}

TEST_F(MasterImport, SupplierPostalCodeWithLettersFirstIsZero) {
  file("PRO.TXT", {record("P001", 51, {{2, "P"}, {27, "E-08001"}})});
  EXPECT_EQ(import(), "");
  EXPECT_EQ(values("F_PRO", "CODPRO='P'", {"CPOPRO"}), std::vector<std::string>{"0.0"});
}

TEST_F(MasterImport, AllFilesMissingGiveOneLinePerImport) {
  for (const char* name : kInterchangeFiles) std::filesystem::remove(inter + "/" + name);
  EXPECT_EQ(import(),
            "Maestro: (0/) No se encontró el archivo\r\n"
            "Clientes: (0/) No se encontró el archivo\r\n"
            "Proveedores: (0/) No se encontró el archivo\r\n"
            "Apuntes: (0/) No se encontró el archivo\r\n"
            "IVA/IGIC repercutido: (0/) No se encontró el archivo\r\n"
            "IVA/IGIC soportado: (0/) No se encontró el archivo\r\n");
}

}  // namespace
}  // namespace kavelo::test
