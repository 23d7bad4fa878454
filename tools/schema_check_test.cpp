#include "schema_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/company_database.h"
#include "schema_facts.h"
#include "testing/temp_database.h"

namespace kavelo::check {
namespace {

const std::string kDemo = "INSERT INTO F_EMP (CODEMP, NOMEMP, FRMEMP) VALUES ('DEMO', 'Demo', '1101000');\n";
// Numbering by the journals' counters, and two journals.
const std::string kSettings =
    "INSERT INTO F_AUT (CODAUT, NAAAUT, NAMAUT) VALUES (1, 1, 0);\n"
    "INSERT INTO F_DIA (CODDIA, NOMDIA, ASIDIA) VALUES (1, 'General', 1), (2, 'Ventas', 5);\n";

// The checks of a database of the reference schema and then `sql`; of an empty
// file without `sql`.
std::vector<CheckResult> check_of(const std::optional<std::string>& sql,
                                  const std::optional<std::string>& company = std::nullopt) {
  // One transaction: a statement by itself would wait for the disk each time.
  kavelo::testing::TempDatabase database(sql ? "BEGIN;\n" + std::string(db::company_schema_sql()) + *sql + "\nCOMMIT;"
                                             : "");
  return check_company_database(database.path(), company);
}

// Each case names every check that fails ("-" and its text) and some that pass ("+").
TEST(SchemaCheck, EachFaultIsNamedAndEachRowCheckSaysWhatItFound) {
  const auto company = [](const std::string& code, const std::string& mask) {
    return "INSERT INTO F_EMP (CODEMP, FRMEMP) VALUES ('" + code + "', " + mask + ");";
  };
  const auto only_a = [&](const std::string& mask) { return company("A", mask) + kSettings; };
  const std::string a_and_b = company("A", "'1'") + company("B", "'01'") + kSettings;
  const auto line = [](int order, const std::string& account, const std::string& side) {
    return "INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU, CUEAPU, \"D-HAPU\") VALUES (1, '2024-03-01', 1, " +
           std::to_string(order) + ", " + account + ", " + side + ");";
  };
  std::string monthly_without_default = "DROP TABLE F_SAL; CREATE TABLE F_SAL (CUESAL TEXT(12), DIASAL SHORT";
  for (const char* side : {"PD", "PH", "ED", "EH"})
    for (int month = 1; month <= 12; ++month)
      monthly_without_default += ", " + (side + std::to_string(month)) + "SAL CURRENCY" + (month == 3 ? " NOT NULL" : "");
  monthly_without_default += ", UNIQUE (DIASAL, CUESAL));";
  const std::string counter = "INSERT INTO F_AUT VALUES (1, 1, 0);";
  const std::string journals = "INSERT INTO F_DIA VALUES (1, 'General', 1), (7, 'Ventas', 12);";
  const std::string counter_text =
      "F_AUT: fila 1 (NAAAUT 1, NAMAUT 0): numeración por el contador de cada diario (ASIDIA de F_DIA)";
  const std::string no_levels =
      "no tiene máscara de niveles FRMEMP: cada apunte se saldaría solo en su propia cuenta";
  const std::string new_balance_row =
      "es obligatoria y no tiene valor por defecto: una fila de saldos nueva la deja sin valor y no se podría guardar";

  struct Case {
    std::string what;
    std::optional<std::string> sql;  // after the reference schema; none: an empty file
    std::vector<std::string> lines;
    std::optional<std::string> company = std::nullopt;
  };
  const Case cases[] = {
      {"the reference database", kDemo + kSettings,
       {"+F_EMP: las 3 columnas que usa kavelo",
        "+F_EMP: empresa DEMO, FRMEMP '1101000', niveles con saldo: 1, 2, 4 y la propia",
        "+F_SAL: F_APU no tiene apuntes con cuenta: no hay lados que comprobar"}},
      {"an empty file", std::nullopt,
       {"-F_EMP: falta la tabla", "-F_AUT: falta la tabla", "-F_DIA: falta la tabla", "-F_MAE: falta la tabla",
        "-F_CLI: falta la tabla", "-F_PRO: falta la tabla", "-F_APU: falta la tabla", "-F_SAL: falta la tabla",
        "-F_IVR: falta la tabla", "-F_IVS: falta la tabla",
        "-F_EMP: no se puede comprobar la empresa: falta la tabla F_EMP",
        "-F_AUT: no se pueden leer los ajustes de numeración: falta la tabla F_AUT",
        "-F_SAL: no se pueden comprobar los lados de los apuntes: falta la tabla F_APU",
        "+F_DIA: falta la tabla F_DIA; sin F_AUT no se sabe si hacen falta"}},

      // The tables and their columns.
      {"missing table", kDemo + kSettings + "DROP TABLE F_IVS;", {"-F_IVS: falta la tabla"}},
      {"types by kind and length; other spellings and case of the same kind pass",
       kDemo + kSettings +
           "DROP TABLE F_MAE; CREATE TABLE f_mae (codmae VARCHAR(12) PRIMARY KEY, NOMMAE TEXT(50), NEXMAE TEXT, "
           "NATMAE REAL, RACMAE double, RSCMAE CURRENCY, MEMMAE TEXT(255));",
       {"-F_MAE: la columna NOMMAE es TEXT(50) y debe ser TEXT(100) o más larga",
        "-F_MAE: la columna RSCMAE es CURRENCY y debe ser DOUBLE",
        "-F_MAE: la columna MEMMAE es TEXT(255) y debe ser LONGTEXT"}},
      {"untyped column; a required column is no fault where kavelo adds no rows",
       kDemo + kSettings +
           "DROP TABLE F_DIA; CREATE TABLE F_DIA (CODDIA SHORT PRIMARY KEY, NOMDIA, ASIDIA LONG, X SHORT NOT NULL);"
           "INSERT INTO F_DIA VALUES (1, 'General', 1, 0);",
       {"-F_DIA: la columna NOMDIA no tiene tipo y debe ser TEXT(50)"}},
      {"view",
       kDemo + kSettings +
           "DROP TABLE F_AUT; CREATE VIEW F_AUT AS SELECT CAST(1 AS SHORT) AS CODAUT, "
           "CAST(1 AS SHORT) AS NAAAUT, CAST(0 AS SHORT) AS NAMAUT;",
       {"-F_AUT: es una vista y kavelo necesita una tabla", "-F_AUT: la columna CODAUT no tiene tipo y debe ser SHORT",
        "-F_AUT: la columna NAAAUT no tiene tipo y debe ser SHORT",
        "-F_AUT: la columna NAMAUT no tiene tipo y debe ser SHORT"}},
      {"no key to find the rows by; a key index over other columns is none either",
       kDemo + kSettings +
           "DROP TABLE F_DIA; CREATE TABLE F_DIA (CODDIA SHORT NOT NULL, NOMDIA TEXT(50) UNIQUE, ASIDIA LONG);"
           "INSERT INTO F_DIA VALUES (1, 'General', 1);",
       {"-F_DIA: no tiene una clave principal ni un índice único sobre CODDIA: kavelo no puede encontrar sus filas"}},
      {"a required column kavelo does not write; a rowid alias and a default are fine",
       kDemo + kSettings +
           "DROP TABLE F_MAE; CREATE TABLE F_MAE (ID INTEGER NOT NULL PRIMARY KEY, CODMAE TEXT(12) NOT NULL UNIQUE, "
           "NOMMAE TEXT(100), NEXMAE TEXT(100), NATMAE DOUBLE, RACMAE DOUBLE, RSCMAE DOUBLE, MEMMAE LONGTEXT, "
           "ALTMAE DATETIME NOT NULL, BAJMAE DATETIME NOT NULL DEFAULT '2000-01-01');",
       {"-F_MAE: la columna ALTMAE es obligatoria y no tiene valor por defecto: kavelo no la escribe, así que no "
        "podrá añadir filas"}},
      {"a monthly balance a new row leaves empty", kDemo + kSettings + monthly_without_default,
       {"-F_SAL: la columna PD3SAL " + new_balance_row, "-F_SAL: la columna PH3SAL " + new_balance_row,
        "-F_SAL: la columna ED3SAL " + new_balance_row, "-F_SAL: la columna EH3SAL " + new_balance_row}},

      // The company and its level mask; its code compares as kavelo's lookup
      // compares it, without regard to case.
      {"", only_a("'1111'"), {"+F_EMP: empresa A, FRMEMP '1111', niveles con saldo: 1, 2, 3, 4 y la propia"}},
      {"", only_a("'0010000'"), {"+F_EMP: empresa A, FRMEMP '0010000', niveles con saldo: 3 y la propia"}},
      {"", only_a("'000'"), {"+F_EMP: empresa A, FRMEMP '000', niveles con saldo: solo la propia"}},
      {"", only_a("NULL"), {"-F_EMP: la empresa A " + no_levels}},
      {"", only_a("''"), {"-F_EMP: la empresa A " + no_levels}},
      {"", only_a("'11ñ1'"), {"-F_EMP: FRMEMP '11ñ1' de la empresa A solo puede tener 0 y 1 (posición 3: 'ñ')"}},
      {"", kSettings, {"-F_EMP: no hay ninguna empresa"}},
      {"", a_and_b, {"-F_EMP: hay 2 empresas (A, B): diga cuál con --company"}},
      {"", a_and_b, {"+F_EMP: empresa B, FRMEMP '01', niveles con saldo: 2 y la propia"}, "b"},
      {"", a_and_b, {"-F_EMP: no hay empresa con el código 'Z' (hay: A, B)"}, "Z"},
      {"", kSettings, {"-F_EMP: no hay empresa con el código 'Z' (F_EMP está vacía)"}, "Z"},

      // The numbering mode and the journals it needs.
      {"", kDemo + counter + journals,
       {"+" + counter_text,
        "+F_DIA: 2 diarios con contador (1, 7); el primer asiento a numerar de un diario que no esté aquí detiene "
        "la importación de APU.TXT"}},
      {"", kDemo + counter,
       {"+" + counter_text,
        "-F_DIA: no hay diarios y la numeración por contador los necesita: el primer asiento que kavelo tenga que "
        "numerar detiene la importación de APU.TXT (kavelo no crea diarios)"}},
      {"", kDemo + counter + "INSERT INTO F_DIA VALUES (1, 'General', 3), (2, 'Compras', NULL);",
       {"+" + counter_text,
        "-F_DIA: sin contador válido: 2 (ASIDIA vacío); el primer asiento de esos diarios que kavelo tenga que "
        "numerar detiene la importación de APU.TXT"}},
      {"", kDemo + "INSERT INTO F_AUT VALUES (1, 1, 1);",
       {"+F_AUT: fila 1 (NAAAUT 1, NAMAUT 1): numeración por diario y fecha (el mayor número del diario en esa "
        "fecha, más uno)",
        "+F_DIA: 0 diarios; la numeración elegida no usa sus contadores"}},
      {"", kDemo + "INSERT INTO F_AUT VALUES (1, 1, NULL);" + journals,
       {"+F_AUT: fila 1 (NAAAUT 1, NAMAUT vacío): numeración por diario y fecha (el mayor número del diario en esa "
        "fecha, más uno)",
        "+F_DIA: 2 diarios: 1, 7; la numeración elegida no usa sus contadores"}},
      {"", kDemo + "INSERT INTO F_AUT VALUES (1, NULL, 0);",
       {"+F_AUT: fila 1 (NAAAUT vacío): numeración por diario (el mayor número del diario, más uno)",
        "+F_DIA: 0 diarios; la numeración elegida no usa sus contadores"}},
      {"", kDemo + "INSERT INTO F_AUT VALUES (2, 1, 0);" + journals,
       {"-F_AUT: no hay fila con CODAUT 1: sin ella kavelo no sabe numerar, y el primer apunte de APU.TXT con "
        "asiento 0 y orden 1 detiene la importación de APU.TXT",
        "+F_DIA: 2 diarios: 1, 7; sin F_AUT no se sabe si hacen falta"}},
      {"", kDemo + "INSERT INTO F_AUT VALUES (1, 'uno', 0);",
       {"-F_AUT: la fila 1 no dice cómo numerar los asientos: No coinciden los tipos",
        "+F_DIA: 0 diarios; sin F_AUT no se sabe si hacen falta"}},

      // The balance columns for every side of the stored lines; sides that
      // differ in case name the same columns, and a line without an account
      // posts nothing, whatever its side.
      {"", kDemo + kSettings + line(1, "'430'", "'D'") + line(2, "'700'", "'H'") + line(3, "'572'", "'d'"),
       {"+F_SAL: las 24 columnas mensuales del lado 'D' (2 apuntes)",
        "+F_SAL: las 24 columnas mensuales del lado 'H' (1 apunte)"}},
      {"", kDemo + kSettings + line(1, "NULL", "'X'") + line(2, "''", "'X'"),
       {"+F_SAL: F_APU no tiene apuntes con cuenta: no hay lados que comprobar"}},
      {"", kDemo + kSettings + line(1, "'430'", "'X'") + line(2, "'430'", "NULL"),
       {"-F_SAL: faltan columnas del lado vacío de F_APU (1 apunte): ninguna de sus 24 columnas (P1SAL a E12SAL); "
        "esos apuntes no se pueden saldar (F_SAL tiene columnas de los lados D, H)",
        "-F_SAL: faltan columnas del lado 'X' de F_APU (1 apunte): ninguna de sus 24 columnas (PX1SAL a EX12SAL); "
        "esos apuntes no se pueden saldar (F_SAL tiene columnas de los lados D, H)"}},
      {"", kDemo + kSettings + "ALTER TABLE F_SAL DROP COLUMN PD12SAL; ALTER TABLE F_SAL DROP COLUMN ED1SAL;" +
               line(1, "'430'", "'D'"),
       {"-F_SAL: falta la columna PD12SAL (CURRENCY)", "-F_SAL: falta la columna ED1SAL (CURRENCY)",
        "-F_SAL: faltan columnas del lado 'D' de F_APU (1 apunte): PD12SAL, ED1SAL; los apuntes de esos meses no "
        "se pueden saldar (F_SAL tiene columnas de los lados D, H)"}},
      // A side ending in a digit: its January column is not side "" of November.
      {"", kDemo + kSettings + "ALTER TABLE F_SAL ADD COLUMN P11SAL CURRENCY;" + line(1, "'430'", "'1'"),
       {"-F_SAL: faltan columnas del lado '1' de F_APU (1 apunte): P12SAL, P13SAL, P14SAL, P15SAL, P16SAL, P17SAL, "
        "P18SAL, P19SAL, P110SAL, P111SAL, P112SAL, E11SAL, E12SAL, E13SAL, E14SAL, E15SAL, E16SAL, E17SAL, E18SAL, "
        "E19SAL, E110SAL, E111SAL, E112SAL; los apuntes de esos meses no se pueden saldar (F_SAL tiene columnas de los "
        "lados D, H, vacío)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what + " " + c.sql.value_or("(empty file)") + " " + c.company.value_or("-"));
    std::string passed = "\n", failed, expected_failed;
    for (const CheckResult& r : check_of(c.sql, c.company))
      (r.ok ? passed : failed) += (r.ok ? "+" : "-") + r.text + "\n";
    for (const std::string& expected : c.lines)
      if (expected[0] == '-') expected_failed += expected + "\n";
      else EXPECT_NE(passed.find("\n" + expected + "\n"), std::string::npos) << expected << passed;
    EXPECT_EQ(failed, expected_failed);
  }
  // One line per reference table, then the company, numbering, journals, sides.
  EXPECT_EQ(check_of(kDemo + kSettings).size(), 14u);
}

}  // namespace
}  // namespace kavelo::check
