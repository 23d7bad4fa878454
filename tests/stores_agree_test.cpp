// Files that meet the edges of a store: codes that differ in more than case,
// bytes without a character, refusals that a group of records meets as a
// whole, rules and helper names of the store's own. Every scenario runs on a
// company file and again on the server company (tests/postgres.cmake), and
// expects the same reports and rows of both.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "db/company_database.h"
#include "test_support.h"

namespace kavelo::test {
namespace {

using Rows = std::vector<std::string>;
using namespace std::string_literals;

// The reference schema's table made again with `addition` among its columns:
// SQLite adds no NOT NULL column and no CHECK rule to a table.
std::string rebuilt(const std::string& table, const std::string& addition) {
  const std::string schema = db::company_schema_sql();
  const auto start = schema.find("CREATE TABLE " + table + " (");
  const auto end = schema.find("\n);", start);
  return "DROP TABLE " + table + ";\n" + schema.substr(start, end - start) + ",\n  " + addition + "\n);\n";
}

// Accounts 1 to `last` but `but` stored before the run, named `name`, each
// with the NEXMAE "N" & its number, and `extra` (", 'x'") for the columns of
// `extra_columns` (", EXTMAE").
std::string stored_accounts(int last, int but, const std::string& name, const std::string& extra_columns = "",
                            const std::string& extra = "") {
  return fmt::format(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < {0}) "
      "INSERT INTO F_MAE (CODMAE, NOMMAE, NEXMAE{2}) SELECT substr('0000' || i, length('0000' || i) - 4, 5), '{1}', "
      "'N' || i{3} FROM n WHERE i <> {4};\n",
      last, name, extra_columns, extra, but);
}

std::string code(int i) { return fmt::format("{:05}", i); }

std::string account(int i, const std::string& name, const std::string& nex = "") {
  return record("M001", 8, {{2, code(i)}, {3, name}, {4, nex.empty() ? "N" + std::to_string(i) : nex}});
}

class StoresAgree : public ImportScenario {
 protected:
  Rows sorted(const std::string& sql) const {
    Rows r = rows(sql);
    std::sort(r.begin(), r.end());
    return r;
  }
  // The codes of the accounts named `name`, as numbers.
  std::set<int> named(const std::string& name) const {
    std::set<int> codes;
    for (const std::string& c : rows("SELECT CODMAE FROM F_MAE WHERE NOMMAE = '" + name + "'"))
      codes.insert(std::stoi(unquoted(c)));
    return codes;
  }
  static std::set<int> range(int first, int last, int but = 0) {
    std::set<int> codes;
    for (int i = first; i <= last; ++i)
      if (i != but) codes.insert(i);
    return codes;
  }
  void expect_verified() {
    RunResult check = kavelo_db({"verify", database});
    EXPECT_EQ(check.exit_status, 0) << check.out << check.err;
  }
};

// Two codes are one key only when they differ in letter case: a compatibility
// form, a no-break space, a soft hyphen, a control character or an ellipsis
// makes another customer. A NUL byte fails its field on either store.
TEST_F(StoresAgree, CodesThatDifferInMoreThanCaseAreOtherRows) {
  const char* stored[] = {"NO1", "A2", "C 1", "AB", "X-1", "Tres..."};
  std::string sql;
  for (const char* c : stored) sql += fmt::format("INSERT INTO F_CLI (CODCLI, NOMCLI) VALUES ('{}', 'viejo');\n", c);
  const std::string codes[] = {"N\u00BA1", "A\u00B2", "C\u00A01", "A\u00ADB", "X-\u00011", "Tres\u2026"};
  std::vector<std::string> lines;
  for (const std::string& c : codes) lines.push_back(record("C001", 52, {{2, c}, {4, "nuevo"}}));
  lines.push_back(record("C001", 52, {{2, "ab"}, {4, "nuevo ab"}}));
  file("CLI.TXT", lines);
  EXPECT_EQ(import(sql), "");
  Rows expected = {"'NO1'|'viejo'", "'A2'|'viejo'", "'C 1'|'viejo'", "'ab'|'nuevo ab'", "'X-1'|'viejo'",
                   "'Tres...'|'viejo'"};
  for (const std::string& c : codes) expected.push_back("'" + c + "'|'nuevo'");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(sorted("SELECT CODCLI, NOMCLI FROM F_CLI"), expected);
  EXPECT_NE(last_run.err.find("CLI.TXT          7         6         1          0"), std::string::npos) << last_run.err;

  start_again();
  file("CLI.TXT", {record("C001", 52, {{2, "C1"}, {4, "Uno"}}), record("C001", 52, {{2, "C2"}, {4, "D\0s"s}}),
                   record("C001", 52, {{2, "C3"}, {4, "Tres"}})});
  EXPECT_EQ(import(), error_line("Clientes: (", 2, "03",
                                 "El texto para el campo 'NOMCLI' contiene el carácter nulo (código 0), que no se "
                                 "guarda en un texto."));
  EXPECT_EQ(rows("SELECT CODCLI FROM F_CLI"), Rows{"'C1'"});
}

// Account codes with a soft hyphen or a byte that is no character are codes
// of their own, and so are their balances.
TEST_F(StoresAgree, AccountCodesAndTheirBalancesKeepEveryByte) {
  write_bytes(inter + "/MAE.TXT", "M001;100;a\r\nM001;1\xAD" "00;b\r\nM001;200;c\r\nM001;2\x81" "00;d\r\n");
  write_bytes(inter + "/APU.TXT",
              "A001;1;15/03/2011;0;1;43\xAD;Concepto;DOC-1;D;10,00;1663,86;E;;;0;;;;1;;0;;{GUID}\r\n");
  EXPECT_EQ(import("INSERT INTO F_DIA (CODDIA, ASIDIA) VALUES (1, 1);"), "");
  EXPECT_EQ(sorted("SELECT CODMAE, NOMMAE FROM F_MAE"),
            (Rows{"'100'|'a'", "'1\u00AD00'|'b'", "'200'|'c'", "'2\u008100'|'d'"}));
  EXPECT_EQ(sorted("SELECT CUESAL, ED3SAL FROM F_SAL"), (Rows{"'4'|10", "'43'|10", "'43\u00AD'|10"}));
  expect_verified();
}

// Amounts in a column of fewer decimals are posted as that column stores them.
TEST_F(StoresAgree, BalancesTakeTheAmountsAsStored) {
  const std::string cents = on_server() ? "ALTER TABLE f_apu ALTER COLUMN imeapu TYPE numeric(19,2), "
                                          "ALTER COLUMN impapu TYPE numeric(19,2);\n"
                                        : "";
  std::string lines;
  for (auto [order, side, euros] : {std::tuple{1, "D", "0,005"}, {2, "D", "0,005"}, {3, "H", "0,01"}})
    lines += fmt::format("A001;1;15/03/2011;7;{};4300001;C;D;{};{};{};E;;;0;;;;1;;0;;{{G{}}}\r\n", order, side, euros,
                         euros, order);
  write_bytes(inter + "/APU.TXT", lines);
  EXPECT_EQ(import("INSERT INTO F_DIA (CODDIA, ASIDIA) VALUES (1, 1);\n" + cents), "");
  EXPECT_EQ(rows("SELECT sum(IMEAPU) FROM F_APU WHERE \"D-HAPU\" = 'D'"),
            rows("SELECT ED3SAL FROM F_SAL WHERE CUESAL = '4300001'"));
  EXPECT_EQ(rows("SELECT ED3SAL FROM F_SAL WHERE CUESAL = '4300001'"), Rows{on_server() ? "0.02" : "0.01"});
  expect_verified();
}

// A column that must hold a value and has no default refuses the new
// record only: the changed ones before it in its group are stored, wherever
// it stands.
TEST_F(StoresAgree, ARequiredColumnRefusesTheNewRecordAmongChangedOnes) {
  for (int refused : {1, 999, 1000, 1001, 2500}) {
    SCOPED_TRACE(refused);
    start_again();
    std::vector<std::string> lines;
    for (int i = 1; i <= 3000; ++i) lines.push_back(account(i, "Nueva"));
    file("MAE.TXT", lines);
    EXPECT_EQ(import(rebuilt("F_MAE", "EXTMAE TEXT(10) NOT NULL") +
                     stored_accounts(3000, refused, "Vieja", ", EXTMAE", ", 'x'")),
              error_line("Maestro: (", refused, "", "El campo 'EXTMAE' no puede contener un valor nulo."));
    EXPECT_EQ(named("Nueva"), range(1, refused - 1));
    EXPECT_EQ(named("Vieja"), range(refused + 1, 3000));
  }
}

// What a table refuses of the record 1,200 of 1,500, in a group of new rows
// and in one of rows it holds: the record's error line (a duplicate of
// another unique column is passed over), every record before it stored.
TEST_F(StoresAgree, ARefusalInAGroupIsTheRecordsWhereverTheGroupMeetsIt) {
  struct Case {
    const char* what;
    std::string sql;        // before the accounts are stored
    std::string name, nex;  // of the refused record
    std::string error;      // "" when it is passed over
    bool server_only = false;
  };
  const Case cases[] = {
      {"a CHECK rule", rebuilt("F_MAE", "CONSTRAINT nommae_bueno CHECK (NOMMAE <> 'MALO')"), "MALO", "",
       "Uno o más valores no son válidos según la regla de validación de 'nommae_bueno'."},
      {"another unique column", "CREATE UNIQUE INDEX f_mae_nexmae ON F_MAE (NEXMAE);\n", "Nueva", "N5", ""},
      // A file's table keeps no foreign key kavelo's connection enforces.
      {"a foreign key checked at the end of the transaction",
       "CREATE TABLE nexos (nex TEXT(100) PRIMARY KEY);\n"
       "INSERT INTO nexos SELECT 'N' || g FROM generate_series(1, 1500) g;\n"
       "ALTER TABLE f_mae ADD FOREIGN KEY (nexmae) REFERENCES nexos DEFERRABLE INITIALLY DEFERRED;\n",
       "Nueva", "N9999", "Error del motor de base de datos: ", true},
      {"a column too narrow for the value", "ALTER TABLE f_mae ALTER COLUMN natmae TYPE numeric(4,1);\n", "Nueva",
       "", "Desbordamiento", true},
  };
  for (const Case& c : cases) {
    if (c.server_only && !on_server()) continue;
    for (const bool held : {false, true}) {
      SCOPED_TRACE(fmt::format("{}, {} rows", c.what, held ? "changed" : "new"));
      start_again();
      std::vector<std::string> lines;
      for (int i = 1; i <= 1500; ++i) lines.push_back(i == 1200 ? account(i, c.name, c.nex) : account(i, "Nueva"));
      if (std::string(c.what) == "a column too narrow for the value")
        lines[1199] = record("M001", 8, {{2, code(1200)}, {3, "Nueva"}, {4, "N1200"}, {5, "99999"}});
      file("MAE.TXT", lines);
      const std::string errors = import(c.sql + (held ? stored_accounts(1500, 0, "Vieja") : ""));
      if (c.error.empty()) {
        EXPECT_EQ(errors, "");
        EXPECT_EQ(named("Nueva"), range(1, 1500, 1200));
        EXPECT_EQ(named("Vieja"), held ? std::set<int>{1200} : std::set<int>{});
        continue;
      }
      EXPECT_TRUE(errors.starts_with(cp1252("Maestro: (1200/) " + c.error))) << errors;
      EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
      EXPECT_EQ(named("Nueva"), range(1, 1199));
      EXPECT_EQ(named("Vieja"), held ? range(1200, 1500) : std::set<int>{});
    }
  }
}

// The accounts, new and then written again, and a journal of 100 lines,
// with what a company may have and a store must respect: an audit trail of
// the accounts (a rule on the server, a trigger in a file) that sees each new
// row once, whichever way the store writes it, and columns named as the
// store names its own helpers; or (`restricted`, on the server) a role that
// may make no temporary table.
class Rewritten : public StoresAgree {
 protected:
  void run_twice(const std::string& sql, bool restricted) {
    std::vector<std::string> lines;
    for (int i = 1; i <= 2000; ++i) lines.push_back(account(i, "Nueva"));
    file("MAE.TXT", lines);
    std::string journal;
    for (int i = 1; i <= 100; ++i)
      journal += fmt::format("A001;1;15/03/2011;0;1;43{:05};C;D;D;1,00;166,39;E;;;0;;;;1;;0;;{{G{}}}\r\n", i % 7, i);
    write_bytes(inter + "/APU.TXT", journal);
    database = make_company(data, "EMP", "01", std::string(kCompanySql) + "INSERT INTO F_DIA (CODDIA, ASIDIA) VALUES (1, 1);\n" + sql);
    if (restricted) {
      const std::string name = unquoted(rows("SELECT current_database()").front());
      rows("DO $$ BEGIN CREATE ROLE kavelo_sin_temp LOGIN; EXCEPTION WHEN duplicate_object THEN NULL; END $$");
      rows("GRANT ALL ON ALL TABLES IN SCHEMA public TO kavelo_sin_temp");
      rows("REVOKE TEMPORARY ON DATABASE " + name + " FROM PUBLIC");
      write_bytes(database, std::regex_replace(read_bytes(database), std::regex("Uid=postgres"), "Uid=kavelo_sin_temp"));
    }
    EXPECT_EQ(import_again(), "");
    for (std::string& line : lines) line = std::regex_replace(line, std::regex("Nueva"), "Otra");
    file("MAE.TXT", lines);
    write_bytes(inter + "/APU.TXT", "");
    EXPECT_EQ(import_again(), "");
    EXPECT_EQ(named("Otra"), range(1, 2000));
    EXPECT_EQ(rows("SELECT count(*) FROM F_APU"), Rows{"100"});
    expect_verified();
  }
};

TEST_F(Rewritten, AnAuditTrailAndColumnsNamedAsTheStoresHelpers) {
  run_twice("CREATE TABLE AUDITORIA (COD TEXT(12));\n" +
                std::string(on_server() ? "CREATE RULE auditoria AS ON INSERT TO f_mae DO ALSO INSERT INTO auditoria "
                                          "VALUES (NEW.codmae);\n"
                                        : "CREATE TRIGGER auditoria AFTER INSERT ON F_MAE BEGIN INSERT INTO AUDITORIA "
                                          "VALUES (NEW.CODMAE); END;\n") +
                "ALTER TABLE F_MAE ADD COLUMN kavelo_group LONG;\nALTER TABLE F_MAE ADD COLUMN kavelo_n LONG;\n"
                "ALTER TABLE F_SAL ADD COLUMN kavelo_group LONG;\n",
            false);
  EXPECT_EQ(rows("SELECT count(*), count(DISTINCT COD) FROM AUDITORIA"), Rows{"2000|2000"});
}

TEST_F(Rewritten, ByARoleWithoutTemporaryTables) {
  if (!on_server()) GTEST_SKIP() << "a company file has no roles";
  run_twice("", true);
}

}  // namespace
}  // namespace kavelo::test
