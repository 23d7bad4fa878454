// The output-VAT and input-VAT register imports through the real program:
// register codes, columns written only from a field that is not empty, the
// fields where the two registers part, and a whole run's error report.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "test_support.h"

namespace kavelo::test {
namespace {

using Rows = std::vector<std::string>;

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
  std::string col(const std::string& stem) const { return stem + suffix; }
  // A complete record with register code `code`: the dates empty, `set` at
  // their positions.
  std::string record(const std::string& code, std::map<int, std::string> set = {}) const {
    set.try_emplace(2, code);
    return kavelo::test::record(identifier, fields, set, dates);
  }
};

void PrintTo(const Register& r, std::ostream* out) { *out << r.table; }

const Register kOutput{"IVR.TXT", "F_IVR", "R001", "S001", "IVA/IGIC repercutido: (", 65, {11, 12, 47},
                       47,        10,      "BICIVR", "09",   "IVR"};
const Register kInput{"IVS.TXT", "F_IVS", "S001", "R001", "IVA/IGIC soportado: (", 73, {11, 12, 24, 55},
                      55,        20,      "PDEIVS", "19",   "IVS"};

// LIB (position 3, TEXT(20)), COP (4, a number), FAC (5, text), FFA (11),
// FEC (12): the same in both registers.
constexpr int kLib = 3, kCop = 4, kFac = 5, kFfa = 11, kFec = 12;

// LIB and FFA of the first record of the scenarios that end early.
const std::string kFirst = "1|'" + std::string(20, 'x') + "'|'2011-02-28'";

class RegisterImport : public ImportScenario {};

class EachRegister : public ImportScenario, public ::testing::WithParamInterface<Register> {
 protected:
  const Register& r = GetParam();
  std::string named(const std::string& code, const std::string& lib) { return r.record(code, {{kLib, lib}}); }
  // "code|column|column..." for every row, by code.
  Rows stored(const std::string& columns, const std::string& where = "1 = 1") {
    return rows("SELECT COD" + r.suffix + ", " + columns + " FROM " + r.table + " WHERE " + where + " ORDER BY COD" +
                r.suffix);
  }
};

INSTANTIATE_TEST_SUITE_P(Registers, EachRegister, ::testing::Values(kOutput, kInput),
                         [](const auto& reg) { return reg.param.table; });

// One run of records that all import: new entries and changed ones, a code
// twice, the register codes, number and amount fields, and a duplicate in
// another unique index passed over without a line.
TEST_P(EachRegister, RecordsThatImport) {
  // A column that the import does not write, an existing entry to change
  // (the input register's IFINIVS a date of its own) and a unique index.
  const std::string extra = r.col("EXT");
  const std::string sql = fmt::format(
      "ALTER TABLE {0} ADD COLUMN EXT{1} TEXT(10) DEFAULT 'nuevo';\n"
      "INSERT INTO {0} (COD{1}, LIB{1}, COP{1}, FFA{1}, FEC{1}, FFR{1}, EXT{1}{2}) VALUES (5, 'viejo', 9, "
      "'2011-01-01', '2011-01-02', '2011-01-03', 'guardado'{3});\n"
      "CREATE UNIQUE INDEX unico ON {0} (FAC{1});",
      r.table, r.suffix, r.suffix == "IVS" ? ", IFINIVS" : "", r.suffix == "IVS" ? ", '2011-01-04'" : "");
  // Every record's FAC is unique unless it says.
  auto line = [&](const std::string& code, std::map<int, std::string> set) {
    set.try_emplace(kFac, "f" + code);
    return r.record(code, set);
  };
  file(r.name, {
      // New: the dates that are given, the table's defaults for the rest.
      line("7", {{kLib, "Nuevo"}, {kCop, "3"}, {kFec, "15/03/2011"}}),
      // Existing: empty text and number fields are written, empty dates are
      // not; a date that is given is.
      line("5", {{kLib, ""}, {kCop, ""}, {r.ffr, "31/12/2011"}}),
      line("3", {{kLib, "Primero"}, {kFec, "01/02/2011"}}), line("3", {{kLib, "Segundo"}}),
      // The register code is a 32-bit whole number: the number conversion
      // rounded half to even.
      line("12.5", {{kLib, "12.5"}}), line("13.5", {{kLib, "13.5"}}), line("21abc", {{kLib, "21abc"}}),
      line("", {{kLib, "vacío"}}), line("-3", {{kLib, "-3"}}), line(" 4 ", {{kLib, "4"}}),
      line("1.5E1", {{kLib, "1.5E1"}}), line("2147483647", {{kLib, "máximo"}}),
      // A number and an amount read the same text differently.
      line("31", {{kCop, "1.234,56"}, {r.amount, "1.234,56"}}), line("32", {{kCop, "12,5"}, {r.amount, "12,5"}}),
      line("33", {{kCop, "1.5E2"}, {r.amount, "-0,5"}}),
      line("41", {{kFac, "F-1"}}), line("42", {{kFac, "F-1"}}), line("43", {{kFac, "F-2"}}),
  });
  EXPECT_EQ(import(sql), "");
  EXPECT_EQ(stored(r.col("LIB") + ", " + r.col("COP") + ", " + r.col("FFA") + ", " + r.col("FEC") + ", " +
                       r.col("FFR") + ", " + extra,
                   "COD" + r.suffix + " IN (3, 5, 7)"),
            (Rows{"3|'Segundo'|0.0|NULL|'2011-02-01'|NULL|'nuevo'",
                  "5|''|0.0|'2011-01-01'|'2011-01-02'|'2011-12-31'|'guardado'",
                  "7|'Nuevo'|3.0|NULL|'2011-03-15'|NULL|'nuevo'"}));
  if (r.suffix == "IVS") {
    EXPECT_EQ(stored("IFINIVS", "CODIVS IN (5, 7)"), (Rows{"5|'2011-01-04'", "7|NULL"}));
  }
  EXPECT_EQ(stored(r.col("LIB"), "COD" + r.suffix + " NOT IN (3, 5, 7, 31, 32, 33, 41, 42, 43)"),
            (Rows{"-3|'-3'", "0|'vacío'", "4|'4'", "12|'12.5'", "14|'13.5'", "15|'1.5E1'", "21|'21abc'",
                  "2147483647|'máximo'"}));
  EXPECT_EQ(stored(r.col("COP") + ", " + r.amount_column, "COD" + r.suffix + " IN (31, 32, 33)"),
            (Rows{"31|1.234|1234.56", "32|12.0|12.5", "33|150.0|-0.5"}));
  EXPECT_EQ(stored(r.col("FAC"), "COD" + r.suffix + " IN (41, 42, 43)"), (Rows{"41|'F-1'", "43|'F-2'"}));
}

// A bad record ends the file's import: the records before it stay, the ones
// after it are not read. (Identifiers, empty lines and comments are read as in
// every file: the master files' scenario.)
TEST_P(EachRegister, ARecordThatFailsEndsTheImport) {
  const std::string bad_identifier = error_line(r.label, 2, "00", "Identificador de registro no válido.");
  const std::string not_a_number = error_line(r.label, 2, r.amount_code, "No coinciden los tipos");
  const std::string short_record = named("2", "corto");
  struct Case {
    std::string bad;  // the lines after the first, before named("3", "después")
    std::string error;
    Rows stored = {kFirst};
  };
  const Case cases[] = {
      // A record of the other register.
      {r.other_identifier + r.record("2").substr(4), bad_identifier},
      // The code is converted under field code "00", before its row is looked up.
      {named("2147483648", "fuera"), error_line(r.label, 2, "00", "Desbordamiento")},
      {r.record("2", {{r.amount, ""}}), not_a_number},
      {r.record("2", {{r.amount, "abc"}}), not_a_number},
      // The last field is an amount: a record one field short is never stored.
      {short_record.substr(0, short_record.rfind(';')),
       error_line(r.label, 2, std::to_string(r.fields - 1), "No coinciden los tipos")},
      {named("2", std::string(21, 'x')),
       error_line(r.label, 2, "02",
                  "El campo '" + r.col("LIB") +
                      "' es demasiado pequeño para aceptar la cantidad de datos que intentó agregar.")},
      // A date field that is not empty is written as text, and the column
      // turns it into a date by the regional settings, or refuses it.
      {r.record("2", {{kFec, "30/02/2011"}}),
       error_line(r.label, 2, "11", "Error en la conversión del tipo de datos.")},
      // The record number counts records only: a comment at the end is read
      // past when no field code is in force.
      {"'" + named("9", "comentado") + "\n" + named("2", "dos") + "\n'final",
       error_line(r.label, 3, "", "La entrada ha sobrepasado el final del archivo"),
       {kFirst, "2|'dos'|NULL"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error + c.bad);
    start_again();
    // A text the column takes whole and a date it takes; fields beyond a
    // record are ignored.
    std::vector<std::string> lines = {r.record("1", {{kLib, std::string(20, 'x')}, {kFfa, "28/02/2011"}}) + ";sobra;x"};
    for (std::size_t at = 0, end; at != std::string::npos; at = end == std::string::npos ? end : end + 1)
      lines.push_back(c.bad.substr(at, (end = c.bad.find('\n', at)) - at));
    // A comment that ends the file stays last.
    if (!c.bad.ends_with("'final")) lines.push_back(named("3", "después"));
    file(r.name, lines);
    EXPECT_EQ(import(), c.error);
    EXPECT_EQ(stored(r.col("LIB") + ", " + r.col("FFA")), c.stored);
  }
}

// From 347 on, the input register's fields stand eight places after the
// output register's; before it the input register has nine of its own where
// the output one has IEL.
TEST_F(RegisterImport, WhereTheTwoRegistersPart) {
  file("IVR.TXT", {kOutput.record("1", {{18, "ofd"}, {19, "19"}, {20, "20"}, {21, "cue"}, {26, "26"}, {65, "65"}})});
  file("IVS.TXT", {kInput.record("1", {{18, "ofd"}, {19, "ded"}, {20, "20"}, {21, "inv"}, {22, "iide"}, {23, "23"},
                                       {24, "24/01/2011"}, {25, "25"}, {26, "iien"}, {27, "27"}, {28, "28"},
                                       {29, "cue"}, {34, "34"}, {55, "05/05/2011"}, {73, "73"}})});
  EXPECT_EQ(import(), "");
  EXPECT_EQ(rows("SELECT OFDIVR, IELIVR, \"347IVR\", CUEIVR, TOTIVR, RFR3IVR FROM F_IVR"),
            Rows{"'ofd'|19.0|20.0|'cue'|26|65"});
  EXPECT_EQ(rows("SELECT OFDIVS, DEDIVS, PDEIVS, INVIVS, IIDEIVS, IPROIVS, IFINIVS, IRAIIVS, IIENIVS, IRDEIVS, "
                 "\"347IVS\", CUEIVS, TOTIVS, FFRIVS, RFR3IVS FROM F_IVS"),
            Rows{"'ofd'|'ded'|20|'inv'|'iide'|23|'2011-01-24'|25|'iien'|27|28.0|'cue'|34|'2011-05-05'|73"});
}

// One run in which five files fail in five ways: the report holds a line for
// each, in the order of the run, and an empty line at its end.
TEST_F(RegisterImport, ReportOfARunByteForByte) {
  file("MAE.TXT", {"M001;100;Caja;;0;0;0;", "M001;101;" + std::string(101, 'n')});
  file("CLI.TXT", {"c001;C1;0;Cliente"});
  file("PRO.TXT", {"'sin proveedores"});
  file("IVR.TXT", {kOutput.record("1"), kOutput.record("1e10")});
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
  EXPECT_EQ(rows("SELECT CODMAE FROM F_MAE"), Rows{"'100'"});
  EXPECT_EQ(rows("SELECT CODIVR FROM F_IVR"), Rows{"1"});
}

}  // namespace
}  // namespace kavelo::test
