// The output-VAT and input-VAT register imports through the real program:
// register codes, columns written only from a field that is not empty, the
// fields where the two registers part, and a whole run's error report.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "import_scenario.h"

namespace kavelo::test {
namespace {

// The quoted values of the query's rows, each row's columns joined by "|".
std::vector<std::string> query(const std::string& database, const std::string& sql) {
  std::vector<std::string> rows;
  for (const QueriedRow& row : query_rows(database, sql)) {
    std::string joined;
    for (const auto& [name, value] : row) joined += (joined.empty() ? "" : "|") + value;
    rows.push_back(joined);
  }
  return rows;
}

// What a scenario needs to know of a register file. Positions count the
// identifier as 1.
struct Register {
  std::string name, table, identifier, other_identifier, label;
  int fields;
  // The fields of the kind text if not empty (dates in this schema), which a
  // complete record leaves empty.
  std::set<int> dates;
  int ffr;  // FFR, the last of them
  // An amount field to spoil, with its column and field code.
  int amount;
  std::string amount_column, amount_code;
  std::string suffix;  // IVR, IVS
  std::string key() const { return "COD" + suffix; }
  std::string col(const std::string& stem) const { return stem + suffix; }
};

void PrintTo(const Register& r, std::ostream* out) { *out << r.table; }

const Register kOutput{"IVR.TXT", "F_IVR", "R001", "S001", "IVA/IGIC repercutido: (", 65, {11, 12, 47},
                       47,        10,      "BICIVR", "09",   "IVR"};
const Register kInput{"IVS.TXT", "F_IVS", "S001", "R001", "IVA/IGIC soportado: (", 73, {11, 12, 24, 55},
                      55,        20,      "PDEIVS", "19",   "IVS"};

// LIB (position 3, TEXT(20)), COP (4, a number), FAC (5, text), FFA (11),
// FEC (12): the same in both registers.
constexpr int kLib = 3, kCop = 4, kFac = 5, kFfa = 11, kFec = 12;

class RegisterImport : public ImportScenario {
 protected:
  // A complete record of `r` with register code `code`: every field "0" but
  // the date fields, which stay empty, and `set` at their positions.
  static std::string record(const Register& r, const std::string& code, std::map<int, std::string> set = {}) {
    set.try_emplace(2, code);
    std::string text = r.identifier;
    for (int position = 2; position <= r.fields; ++position) {
      auto found = set.find(position);
      text += ";" + (found != set.end() ? found->second : r.dates.count(position) ? std::string() : "0");
    }
    return text;
  }

  // "key|column|column..." for every row, by key.
  std::vector<std::string> rows(const Register& r, const std::vector<std::string>& stems) {
    std::string columns = r.key();
    for (const std::string& stem : stems) columns += ", " + r.col(stem);
    return query(database, "SELECT " + columns + " FROM " + r.table + " ORDER BY " + r.key());
  }
};

class EachRegister : public RegisterImport, public ::testing::WithParamInterface<Register> {
 protected:
  const Register& r = GetParam();
  std::string rec(const std::string& code, std::map<int, std::string> set = {}) { return record(r, code, set); }
  std::string named(const std::string& code, const std::string& lib) { return rec(code, {{kLib, lib}}); }
};

INSTANTIATE_TEST_SUITE_P(Registers, EachRegister, ::testing::Values(kOutput, kInput),
                         [](const auto& reg) { return reg.param.table; });

TEST_P(EachRegister, AddsNewEntriesAndOverwritesExistingOnesButTheirEmptyDates) {
  const std::string extra = r.col("EXT");
  const std::string input_only = r.suffix == "IVS" ? ", IFINIVS" : "";
  const std::string sql = "ALTER TABLE " + r.table + " ADD COLUMN " + extra + " TEXT(10) DEFAULT 'nuevo';\n" +
                          "INSERT INTO " + r.table + " (" + r.key() + ", " + r.col("LIB") + ", " + r.col("COP") +
                          ", " + r.col("FFA") + ", " + r.col("FEC") + ", " + r.col("FFR") + input_only + ", " +
                          extra + ") VALUES (5, 'viejo', 9, '2011-01-01', '2011-01-02', '2011-01-03'" +
                          (input_only.empty() ? "" : ", '2011-01-04'") + ", 'guardado');";
  file(r.name, {// New: the dates that are given, the table's defaults for the rest.
                rec("7", {{kLib, "Nuevo"}, {kCop, "3"}, {kFec, "15/03/2011"}}),
                // Existing: empty text and number fields are written, empty
                // dates are not; a date that is given is.
                rec("5", {{kLib, ""}, {kCop, ""}, {r.ffr, "31/12/2011"}})});
  EXPECT_EQ(import(sql), "");
  EXPECT_EQ(rows(r, {"LIB", "COP", "FFA", "FEC", "FFR", "EXT"}),
            (std::vector<std::string>{"5|''|0.0|'2011-01-01'|'2011-01-02'|'2011-12-31'|'guardado'",
                                      "7|'Nuevo'|3.0|NULL|'2011-03-15'|NULL|'nuevo'"}));
  if (r.suffix == "IVS") {
    EXPECT_EQ(query(database, "SELECT IFINIVS FROM F_IVS ORDER BY CODIVS"),
              (std::vector<std::string>{"'2011-01-04'", "NULL"}));
  }
}

TEST_P(EachRegister, TwoRecordsWithOneCodeLeaveTheSecondsValues) {
  file(r.name, {rec("3", {{kLib, "Primero"}, {kFec, "01/02/2011"}}), named("3", "Segundo")});
  EXPECT_EQ(import(), "");
  EXPECT_EQ(rows(r, {"LIB", "FEC"}), std::vector<std::string>{"3|'Segundo'|'2011-02-01'"});
}

// The register code is a 32-bit whole number: the number conversion rounded
// half to even.
TEST_P(EachRegister, RegisterCodes) {
  file(r.name, {named("12.5", "12.5"), named("13.5", "13.5"), named("21abc", "21abc"), named("", "vacío"),
                named("-3", "-3"), named(" 4 ", "4"), named("1.5E1", "1.5E1"), named("2147483647", "máximo")});
  EXPECT_EQ(import(), "");
  EXPECT_EQ(rows(r, {"LIB"}),
            (std::vector<std::string>{"-3|'-3'", "0|'vacío'", "4|'4'", "12|'12.5'", "14|'13.5'", "15|'1.5E1'",
                                      "21|'21abc'", "2147483647|'máximo'"}));
}

// The code is converted under field code "00", before its row is looked up.
TEST_P(EachRegister, CodeBeyondThirtyTwoBitsEndsTheImportUnderFieldCodeZero) {
  file(r.name, {named("1", "antes"), named("2147483648", "fuera"), named("2", "después")});
  EXPECT_EQ(import(), error_line(r.label, 2, "00", "Desbordamiento"));
  EXPECT_EQ(rows(r, {"LIB"}), std::vector<std::string>{"1|'antes'"});
}

TEST_P(EachRegister, NumberAndAmountReadTheSameTextDifferently) {
  file(r.name, {rec("1", {{kCop, "1.234,56"}, {r.amount, "1.234,56"}}), rec("2", {{kCop, "12,5"}, {r.amount, "12,5"}}),
                rec("3", {{kCop, "1.5E2"}, {r.amount, "-0,5"}})});
  EXPECT_EQ(import(), "");
  EXPECT_EQ(query(database, "SELECT " + r.col("COP") + ", " + r.amount_column + " FROM " + r.table + " ORDER BY " +
                                r.key()),
            (std::vector<std::string>{"1.234|1234.56", "12.0|12.5", "150.0|-0.5"}));
}

TEST_P(EachRegister, AmountThatIsEmptyOrNotANumberEndsTheImportWithItsFieldCode) {
  for (const std::string bad : {"", "abc"}) {
    SCOPED_TRACE(bad);
    file(r.name, {named("1", "antes"), rec("2", {{r.amount, bad}}), named("3", "después")});
    EXPECT_EQ(import(), error_line(r.label, 2, r.amount_code, "No coinciden los tipos"));
    EXPECT_EQ(rows(r, {"LIB"}), std::vector<std::string>{"1|'antes'"});
    start_again();
  }
}

// The last field is an amount: a record one field short is never stored.
TEST_P(EachRegister, ShortRecordFailsAtItsLastAmountAndLongOneIgnoresTheRest) {
  const std::string full = named("2", "corto");
  file(r.name, {named("1", "largo") + ";sobra;x", full.substr(0, full.rfind(';')), named("3", "después")});
  EXPECT_EQ(import(), error_line(r.label, 2, std::to_string(r.fields - 1), "No coinciden los tipos"));
  EXPECT_EQ(rows(r, {"LIB"}), std::vector<std::string>{"1|'largo'"});
}

TEST_P(EachRegister, RecordThatIsNotOfTheFileEndsItsImport) {
  std::string lower = r.identifier;
  lower[0] = static_cast<char>(lower[0] - 'A' + 'a');
  const std::vector<std::string> bad_lines[] = {
      {lower + rec("2").substr(4)},
      // A record of the other register.
      {r.other_identifier + rec("2").substr(4)},
      {""},
      {"'comentario", "'comentario"},
  };
  for (const auto& bad : bad_lines) {
    SCOPED_TRACE(bad[0]);
    std::vector<std::string> lines = {named("1", "antes")};
    lines.insert(lines.end(), bad.begin(), bad.end());
    lines.push_back(named("3", "después"));
    file(r.name, lines);
    EXPECT_EQ(import(), error_line(r.label, 2, "00", "Identificador de registro no válido."));
    EXPECT_EQ(rows(r, {"LIB"}), std::vector<std::string>{"1|'antes'"});
    start_again();
  }
}

TEST_P(EachRegister, CommentLinesAreSkippedAndOneAtTheEndReadsPastIt) {
  file(r.name, {"'comentario", named("1", "uno"), "'" + named("9", "comentado"), named("2", "dos"), "'final"});
  EXPECT_EQ(import(), error_line(r.label, 3, "", "La entrada ha sobrepasado el final del archivo"));
  EXPECT_EQ(rows(r, {"LIB"}), (std::vector<std::string>{"1|'uno'", "2|'dos'"}));
}

TEST_P(EachRegister, TextTooLongForItsColumnEndsTheImportWithItsFieldCode) {
  file(r.name, {named("1", std::string(20, 'x')), named("2", std::string(21, 'x')), named("3", "después")});
  EXPECT_EQ(import(), error_line(r.label, 2, "02",
                           "El campo '" + r.col("LIB") +
                               "' es demasiado pequeño para aceptar la cantidad de datos que intentó agregar."));
  EXPECT_EQ(rows(r, {"LIB"}), std::vector<std::string>{"1|'" + std::string(20, 'x') + "'"});
}

// A date field that is not empty is written as text, and the column turns it
// into a date by the regional settings, or refuses it.
TEST_P(EachRegister, DateTheColumnCannotTakeEndsTheImportWithItsFieldCode) {
  file(r.name, {rec("1", {{kFfa, "28/02/2011"}}), rec("2", {{kFec, "30/02/2011"}}), rec("3")});
  EXPECT_EQ(import(), error_line(r.label, 2, "11", "Error en la conversión del tipo de datos."));
  EXPECT_EQ(rows(r, {"FFA"}), std::vector<std::string>{"1|'2011-02-28'"});
}

TEST_P(EachRegister, DuplicateInAnotherUniqueIndexIsSkippedWithoutALine) {
  file(r.name, {rec("1", {{kFac, "F-1"}}), rec("2", {{kFac, "F-1"}}), rec("3", {{kFac, "F-2"}})});
  EXPECT_EQ(import("CREATE UNIQUE INDEX unico ON " + r.table + " (" + r.col("FAC") + ");"), "");
  EXPECT_EQ(rows(r, {"FAC"}), (std::vector<std::string>{"1|'F-1'", "3|'F-2'"}));
}

// From 347 on, the input register's fields stand eight places after the
// output register's; before it the input register has nine of its own where
// the output one has IEL.
TEST_F(RegisterImport, WhereTheTwoRegistersPart) {
  file("IVR.TXT", {record(kOutput, "1", {{18, "ofd"}, {19, "19"}, {20, "20"}, {21, "cue"}, {26, "26"}, {65, "65"}})});
  file("IVS.TXT", {record(kInput, "1",
                          {{18, "ofd"}, {19, "ded"}, {20, "20"}, {21, "inv"}, {22, "iide"}, {23, "23"},
                           {24, "24/01/2011"}, {25, "25"}, {26, "iien"}, {27, "27"}, {28, "28"}, {29, "cue"},
                           {34, "34"}, {55, "05/05/2011"}, {73, "73"}})});
  EXPECT_EQ(import(), "");
  EXPECT_EQ(query(database, "SELECT OFDIVR, IELIVR, \"347IVR\", CUEIVR, TOTIVR, RFR3IVR FROM F_IVR"),
            std::vector<std::string>{"'ofd'|19.0|20.0|'cue'|26|65"});
  EXPECT_EQ(query(database,
                  "SELECT OFDIVS, DEDIVS, PDEIVS, INVIVS, IIDEIVS, IPROIVS, IFINIVS, IRAIIVS, IIENIVS, IRDEIVS, "
                  "\"347IVS\", CUEIVS, TOTIVS, FFRIVS, RFR3IVS FROM F_IVS"),
            std::vector<std::string>{
                "'ofd'|'ded'|20|'inv'|'iide'|23|'2011-01-24'|25|'iien'|27|28.0|'cue'|34|'2011-05-05'|73"});
}

TEST_F(RegisterImport, MissingOutputRegisterDoesNotStopTheInputOne) {
  std::filesystem::remove(inter + "/IVR.TXT");
  file("IVS.TXT", {record(kInput, "1")});
  EXPECT_EQ(import(), error_line(kOutput.label, 0, "", "No se encontró el archivo"));
  EXPECT_EQ(query(database, "SELECT CODIVS FROM F_IVS"), std::vector<std::string>{"1"});
}

// One run in which five files fail in five ways: the report holds a line for
// each, in the order of the run, and an empty line at its end.
TEST_F(RegisterImport, ReportOfARunByteForByte) {
  file("MAE.TXT", {"M001;100;Caja;;0;0;0;", "M001;101;" + std::string(101, 'n')});
  file("CLI.TXT", {"c001;C1;0;Cliente"});
  file("PRO.TXT", {"'sin proveedores"});
  file("IVR.TXT", {record(kOutput, "1"), record(kOutput, "1e10")});
  std::filesystem::remove(inter + "/IVS.TXT");
  database = make_company(data, "EMP", "01", kCompanySql);
  RunResult result = run_program({bin_path("kavelo"), conn});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(read_bytes(inter + "/ERRORES.TXT"),
            cp1252("Maestro: (2/02) El campo 'NOMMAE' es demasiado pequeño para aceptar la cantidad de datos que "
                   "intentó agregar.\r\n"
                   "Clientes: (1/00) Identificador de registro no válido.\r\n"
                   "Proveedores: (1/) La entrada ha sobrepasado el final del archivo\r\n"
                   "IVA/IGIC repercutido: (2/00) Desbordamiento\r\n"
                   "IVA/IGIC soportado: (0/) No se encontró el archivo\r\n"
                   "\r\n"));
  EXPECT_EQ(read_bytes(inter + "/FINAL.TXT"), expected_final_txt());
  EXPECT_EQ(query(database, "SELECT CODMAE FROM F_MAE"), std::vector<std::string>{"'100'"});
  EXPECT_EQ(query(database, "SELECT CODIVR FROM F_IVR"), std::vector<std::string>{"1"});
}

}  // namespace
}  // namespace kavelo::test
