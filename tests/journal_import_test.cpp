// The journal import through the real program: the numbering of new entries in
// its three modes, the posting of every stored line to the balances, the ways
// the import of APU.TXT ends early, and after every scenario the balance
// invariant (kavelo-db verify against a copy of the database taken before).
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "import_scenario.h"

namespace kavelo::test {
namespace {

// One record of APU.TXT; what a scenario does not set is a plain debit line.
struct Apu {
  std::string journal = "1";
  std::string date = "15/03/2011";
  std::string entry = "0";
  std::string order = "1";
  std::string account = "4300001";
  std::string side = "D";
  std::string euros = "100,00";
  std::string pesetas = "16638,60";
  std::string created = "";  // FCRAPU

  std::string text() const {
    return "A001|" + journal + "|" + date + "|" + entry + "|" + order + "|" + account + "|Concepto|DOC-1|" + side +
           "|" + euros + "|" + pesetas + "|E|||0||||1|" + created + "|0||{GUID}";
  }
};

class JournalImportTest : public ::testing::Test {
 protected:
  void SetUp() override { KAVELO_REQUIRE_BACKEND(); }

  JournalImportTest() {
    make_dir(inter);
    make_dir(data);
    // No locale: the Spanish regional settings, whatever the machine has.
    for (const char* name : {"LC_ALL", "LC_NUMERIC", "LC_TIME", "LANG"}) {
      if (const char* value = std::getenv(name)) saved_.emplace_back(name, value);
      unsetenv(name);
    }
  }
  ~JournalImportTest() override {
    for (const auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
  }

  // The company EMP with levels 1, 2 and 3, the numbering settings and journals.
  void company(const std::string& frmemp_sql, const std::string& naaaut, const std::string& namaut,
               const std::string& extra_sql = "") {
    database = make_company(data, "EMP", "01",
                            "INSERT INTO F_EMP (CODEMP, FRMEMP) VALUES ('EMP', " + frmemp_sql + ");\n" +
                                "INSERT INTO F_AUT (CODAUT, NAAAUT, NAMAUT) VALUES (1, " + naaaut + ", " + namaut +
                                ");\n" + "INSERT INTO F_DIA (CODDIA, ASIDIA) VALUES (1, 10), (2, 1);\n" + extra_sql);
  }
  void counter_mode(const std::string& extra_sql = "") { company("'111'", "1", "0", extra_sql); }

  // Imports APU.TXT made of `records` (the other five files empty) and checks
  // the balances against the database as it was before.
  // `kept`: other files the scenario wrote, which are not emptied.
  RunResult import(const std::vector<Apu>& records, const std::vector<std::string>& kept = {}) {
    std::string text;
    for (const Apu& r : records) text += r.text() + "\r\n";
    return import_text(text, kept);
  }
  RunResult import_text(const std::string& apu, const std::vector<std::string>& kept = {}) {
    for (const char* name : {"MAE.TXT", "CLI.TXT", "PRO.TXT", "IVR.TXT", "IVS.TXT"})
      if (std::find(kept.begin(), kept.end(), name) == kept.end()) write_bytes(inter + "/" + name, "");
    write_bytes(inter + "/APU.TXT", cp1252(apu));
    copy_company(database, baseline);
    write_connection_file(conn, connection_lines(inter + "/", data + "/", "EMP", "01", "|"));
    RunResult result = run_program({bin_path("kavelo"), conn});
    balance_check = run_program({bin_path("kavelo-db"), "verify", database, "--baseline", baseline});
    return result;
  }
  // A run that reported nothing and left the balances as the lines say.
  void clean(const RunResult& result) {
    EXPECT_EQ(result.exit_status, 0) << errors();
    expect_balanced();
  }
  void expect_balanced() { EXPECT_EQ(balance_check.exit_status, 0) << balance_check.out << balance_check.err; }
  std::string errors() const {
    std::string path = inter + "/ERRORES.TXT";
    return exists(path) ? read_bytes(path) : "";
  }

  // The values of every column of every row, joined by blanks: text without
  // its quotes, NULL for Null.
  std::string value(const std::string& sql) const {
    std::string result;
    for (const QueriedRow& row : query_rows(database, sql)) {
      for (const auto& [name, quoted] : row) {
        if (!result.empty()) result += ' ';
        result += unquoted(quoted);
      }
    }
    return result;
  }
  // In the order of the lines' keys, which the scenarios' files follow.
  std::string entries() const { return value("SELECT ASIAPU FROM F_APU ORDER BY DIAAPU, FECAPU, ASIAPU, ORDAPU"); }
  std::string counter(int journal = 1) const {
    return value("SELECT ASIDIA FROM F_DIA WHERE CODDIA = " + std::to_string(journal));
  }
  std::string balance(const std::string& column, const std::string& account, int journal = 1) const {
    return value("SELECT " + column + " FROM F_SAL WHERE DIASAL = " + std::to_string(journal) + " AND CUESAL = '" +
                 account + "'");
  }

  TempDir tmp;
  const std::string inter = tmp / "intercambio";
  const std::string data = tmp / "datos";
  const std::string conn = tmp / "kavelo.conn";
  const std::string baseline = tmp / "ANTES.MDB";
  std::string database;
  RunResult balance_check;

 private:
  std::vector<std::pair<std::string, std::string>> saved_;
};

Apu line(std::string date, std::string entry, std::string order, std::string journal = "1") {
  Apu a;
  a.date = std::move(date), a.entry = std::move(entry), a.order = std::move(order), a.journal = std::move(journal);
  return a;
}

std::string stored_line(int journal, const std::string& date, int entry) {
  return "INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU) VALUES (" + std::to_string(journal) + ", '" + date +
         "', " + std::to_string(entry) + ", 1);\n";
}

// Numbering by the journal's counter.

TEST_F(JournalImportTest, TheCounterGivesItsNumberAndMovesOnOncePerEntry) {
  counter_mode();
  clean(import({line("15/03/2011", "0", "1"), line("15/03/2011", "0", "2"), line("15/03/2011", "0", "3"),
                line("15/03/2011", "0", "1")}));
  EXPECT_EQ(entries(), "10 10 10 11");
  EXPECT_EQ(counter(), "12");
}

TEST_F(JournalImportTest, TheCounterSkipsNumbersTakenOnTheSameDateOnly) {
  struct Case {
    const char* what;
    std::string stored;
    const char* number;
    const char* counter_after;
  };
  for (const auto& c : std::vector<Case>{
           {"10 and 11 taken that day", stored_line(1, "2011-03-15", 10) + stored_line(1, "2011-03-15", 11), "12",
            "13"},
           {"10 taken on another day", stored_line(1, "2011-03-16", 10), "10", "11"},
       }) {
    std::filesystem::remove_all(data);
    make_dir(data);
    counter_mode(c.stored);
    clean(import({line("15/03/2011", "0", "1")}));
    EXPECT_EQ(value("SELECT ASIAPU FROM F_APU WHERE CUEAPU = '4300001'"), c.number) << c.what;
    EXPECT_EQ(counter(), c.counter_after) << c.what;
  }
}

TEST_F(JournalImportTest, ANumberOfTheFileIsKeptAndMovesNothing) {
  using Settings = std::pair<const char*, const char*>;
  for (const auto& [naaaut, namaut] : std::vector<Settings>{{"1", "0"}, {"1", "1"}, {"0", "0"}}) {
    std::filesystem::remove_all(data);
    make_dir(data);
    company("'111'", naaaut, namaut);
    // 25 is above the counter of 10; then 0/2 continues the last numbered entry, of which there is none.
    clean(import({line("15/03/2011", "25", "1"), line("15/03/2011", "0", "2")}));
    EXPECT_EQ(entries(), "0 25") << naaaut << namaut;
    EXPECT_EQ(counter(), "10");
  }
}

TEST_F(JournalImportTest, AFurtherLineTakesTheLastNumberedEntryNotTheFilesNumber) {
  counter_mode();
  clean(import({line("15/03/2011", "0", "1"), line("15/03/2011", "7", "1"), line("15/03/2011", "0", "2")}));
  EXPECT_EQ(entries(), "7 10 10");
  EXPECT_EQ(counter(), "11");
}

// Numbering by the highest number stored.

TEST_F(JournalImportTest, PerJournalAndDateCountsOnlyThatDate) {
  std::string stored;
  for (int entry = 1; entry <= 4; ++entry) stored += stored_line(1, "2011-03-15", entry);
  company("'111'", "1", "1", stored + stored_line(1, "2011-03-16", 40));
  clean(import({line("15/03/2011", "0", "1"), line("15/03/2011", "0", "2"), line("15/03/2011", "0", "1"),
                line("17/03/2011", "0", "1"), line("15/03/2011", "0", "1", "2")}));
  EXPECT_EQ(value("SELECT ASIAPU FROM F_APU WHERE CUEAPU = '4300001' ORDER BY DIAAPU, FECAPU, ASIAPU, ORDAPU"),
            "5 5 6 1 1");
  EXPECT_EQ(counter(), "10");
}

TEST_F(JournalImportTest, PerJournalCountsEveryDate) {
  company("'111'", "0", "1", stored_line(1, "2010-06-30", 57) + stored_line(2, "2011-03-15", 90));
  clean(import({line("15/03/2011", "0", "1"), line("16/03/2011", "0", "1"), line("15/03/2011", "0", "1", "3")}));
  EXPECT_EQ(value("SELECT ASIAPU FROM F_APU WHERE CUEAPU = '4300001' ORDER BY DIAAPU, FECAPU, ASIAPU, ORDAPU"),
            "58 59 1");
}

// The posting.

TEST_F(JournalImportTest, EveryLevelIsCreatedInOrderThenAddedTo) {
  counter_mode();
  clean(import({line("15/03/2011", "0", "1")}));
  EXPECT_EQ(value("SELECT CUESAL FROM F_SAL ORDER BY CUESAL"), "4 43 430 4300001");
  // A file keeps the order its rows were added in: the account's own first.
  if (!on_server()) {
    EXPECT_EQ(value("SELECT CUESAL FROM F_SAL ORDER BY rowid"), "4300001 430 43 4");
  }

  Apu credit = line("20/03/2011", "0", "1");
  credit.side = "H", credit.euros = "0,5", credit.pesetas = "83,19";
  clean(import({line("16/03/2011", "0", "1"), credit}));
  EXPECT_EQ(value("SELECT count(*) FROM F_SAL"), "4");
  for (const char* account : {"4300001", "430", "43", "4"}) {
    EXPECT_EQ(balance("ED3SAL", account), "200") << account;
    EXPECT_EQ(balance("PD3SAL", account), "33277.2") << account;
    EXPECT_EQ(balance("EH3SAL", account), "0.5") << account;
    EXPECT_EQ(balance("PH3SAL", account), "83.19") << account;
  }
}

TEST_F(JournalImportTest, TheMonthOfTheLineNamesTheColumns) {
  counter_mode();
  clean(import({line("02/11/2011", "0", "1"), line("30/09/2011", "0", "1")}));
  EXPECT_EQ(balance("ED11SAL", "43"), "100");
  EXPECT_EQ(balance("ED9SAL", "43"), "100");
  EXPECT_EQ(balance("ED3SAL", "43"), "0");
  EXPECT_EQ(balance("ED1SAL", "43"), "0") << "not month 11 read as 1";
}

TEST_F(JournalImportTest, AnEmptyAccountPostsNothingAndNoLevelsPostTheAccountAlone) {
  company("NULL", "1", "0");
  Apu empty = line("15/03/2011", "0", "2");
  empty.account = "";
  clean(import({line("15/03/2011", "0", "1"), empty}));
  EXPECT_EQ(value("SELECT count(*) FROM F_APU"), "2");
  EXPECT_EQ(value("SELECT CUESAL FROM F_SAL"), "4300001");
}

TEST_F(JournalImportTest, AFileImportedTwicePostsTwice) {
  counter_mode();
  Apu a = line("15/03/2011", "25", "1");
  clean(import({a}));
  RunResult again = import({a});
  EXPECT_EQ(again.exit_status, 0) << errors();
  EXPECT_EQ(value("SELECT count(*) FROM F_APU"), "1") << "the line is rewritten";
  EXPECT_EQ(balance("ED3SAL", "4"), "200") << "and posted again";
  // Which the invariant tells: the line was already in the balances before.
  EXPECT_EQ(balance_check.exit_status, 3);
  EXPECT_NE(balance_check.out.find("Diario 1, cuenta 4, ED3SAL: debería ser 100,00 y es 200,00."), std::string::npos)
      << balance_check.out;
}

TEST_F(JournalImportTest, AmountsAreReadWithTheSpanishDecimalComma) {
  counter_mode();
  Apu a = line("15/03/2011", "0", "1");
  a.euros = "1.180,50", a.pesetas = "196418,67";
  a.created = "14/03/2011";
  clean(import({a}));
  EXPECT_EQ(value("SELECT IMEAPU, IMPAPU, FCRAPU FROM F_APU"), "1180.5 196418.67 2011-03-14");
  EXPECT_EQ(balance("ED3SAL", "4"), "1180.5");
}

// The import of the file ends at the first record that fails.

TEST_F(JournalImportTest, KeyFieldsThatCannotBeConvertedEndTheImportUnderTheirCode) {
  struct Case {
    Apu record;
    const char* line;
  };
  Apu journal = line("15/03/2011", "0", "1", "40000");
  Apu date = line("31/02/2011", "0", "1");
  Apu entry = line("15/03/2011", "3000000000", "1");
  Apu order = line("15/03/2011", "0", "-3000000000");
  Apu no_date = line("", "0", "1");
  for (const auto& c : std::vector<Case>{
           {journal, "Apuntes: (2/01) Desbordamiento"},
           {date, "Apuntes: (2/02) No coinciden los tipos"},
           {no_date, "Apuntes: (2/02) No coinciden los tipos"},
           {entry, "Apuntes: (2/03) Desbordamiento"},
           {order, "Apuntes: (2/04) Desbordamiento"},
       }) {
    std::filesystem::remove_all(data);
    make_dir(data);
    counter_mode();
    RunResult result = import({line("14/03/2011", "0", "1"), c.record, line("16/03/2011", "0", "1")});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(errors(), cp1252(std::string(c.line) + "\r\n\r\n"));
    EXPECT_EQ(value("SELECT FECAPU FROM F_APU"), "2011-03-14") << c.line;
    expect_balanced();
  }
}

TEST_F(JournalImportTest, ANumberingThatCannotBeMadeEndsTheImportUnderTheOrdersCode) {
  counter_mode("DELETE FROM F_DIA WHERE CODDIA = 2;");
  RunResult result = import({line("14/03/2011", "0", "1"), line("15/03/2011", "0", "1", "2")});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(errors(), cp1252("Apuntes: (2/04) Elemento no encontrado en esta colección: 'ASIDIA'.\r\n\r\n"));
  EXPECT_EQ(value("SELECT count(*) FROM F_DIA"), "1") << "no counter is made";
  expect_balanced();
}

TEST_F(JournalImportTest, AFieldThatCannotBeWrittenEndsTheImportAndTheNumberStaysTaken) {
  counter_mode();
  Apu bad = line("15/03/2011", "0", "1");
  bad.euros = "mucho";
  RunResult result = import({line("14/03/2011", "0", "1"), bad, line("16/03/2011", "0", "1")});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(errors(), cp1252("Apuntes: (2/09) Error en la conversión del tipo de datos.\r\n\r\n"));
  EXPECT_EQ(entries(), "10");
  EXPECT_EQ(counter(), "12");
  expect_balanced();
}

TEST_F(JournalImportTest, AnAccountWithAQuoteIsPostedLikeAnyOther) {
  counter_mode();
  Apu a = line("15/03/2011", "0", "1");
  a.account = "43'01";
  clean(import({a, line("16/03/2011", "0", "1")}));
  EXPECT_EQ(value("SELECT CUESAL FROM F_SAL ORDER BY CUESAL"), "4 43 43' 43'01 430 4300001");
  EXPECT_EQ(balance("ED3SAL", "43''"), "100");
  EXPECT_EQ(balance("ED3SAL", "43"), "200");
}

TEST_F(JournalImportTest, AMonthlyColumnWithoutValueTakesTheAmount) {
  // A balance table whose monthly columns may hold no value, with one such row.
  counter_mode(R"sql(
DROP TABLE F_SAL;
CREATE TABLE F_SAL (CUESAL TEXT(12) NOT NULL COLLATE NOCASE, DIASAL SHORT NOT NULL DEFAULT 0,
  PD3SAL CURRENCY, ED3SAL CURRENCY, PH3SAL CURRENCY, EH3SAL CURRENCY, UNIQUE (DIASAL, CUESAL));
INSERT INTO F_SAL (CUESAL, DIASAL, PD3SAL, ED3SAL) VALUES ('43', 1, NULL, 7);
)sql");
  clean(import({line("15/03/2011", "0", "1")}));
  EXPECT_EQ(balance("PD3SAL", "43"), "16638.6");
  EXPECT_EQ(balance("ED3SAL", "43"), "107");
  EXPECT_EQ(balance("PD3SAL", "4"), "16638.6") << "a new row without defaults";
}

// A balance table that refuses the row of account 5.
constexpr const char* kRefuseGroup5 =
    "CREATE TRIGGER no_group_5 BEFORE INSERT ON F_SAL WHEN NEW.CUESAL = '5' "
    "BEGIN SELECT RAISE(ABORT, 'sin grupo 5'); END;";
constexpr const char* kRefuseGroup5OnServer =
    "CREATE FUNCTION no_group_5() RETURNS trigger LANGUAGE plpgsql AS $$ "
    "BEGIN RAISE EXCEPTION 'sin grupo 5'; END $$;\n"
    "CREATE TRIGGER no_group_5 BEFORE INSERT ON F_SAL FOR EACH ROW WHEN (NEW.CUESAL = '5') "
    "EXECUTE FUNCTION no_group_5();";

TEST_F(JournalImportTest, APostingThatFailsTakesItsLineBackAndEndsTheImport) {
  struct Case {
    const char* what;
    std::string schema;
    Apu record;
    const char* line;
  };
  Apu no_column = line("16/03/2011", "0", "1");
  no_column.side = "X";
  Apu refused = line("16/03/2011", "0", "1");
  refused.account = "5720001";
  for (const auto& c : std::vector<Case>{
           {"a side without columns", "", no_column,
            "Apuntes: (2/) Elemento no encontrado en esta colección: 'PX3SAL'."},
           // Levels 5720001, 572 and 57 are stored before 5 is refused.
           {"the last level refused", on_server() ? kRefuseGroup5OnServer : kRefuseGroup5, refused, nullptr},
       }) {
    std::filesystem::remove_all(data);
    make_dir(data);
    counter_mode(c.schema);
    RunResult result = import({line("15/03/2011", "0", "1"), c.record, line("17/03/2011", "0", "1")});
    EXPECT_EQ(result.exit_status, 1) << c.what;
    if (c.line) {
      EXPECT_EQ(errors(), cp1252(std::string(c.line) + "\r\n\r\n")) << c.what;
    }
    EXPECT_TRUE(errors().starts_with("Apuntes: (2/) ")) << c.what << ": " << errors();
    EXPECT_EQ(value("SELECT FECAPU FROM F_APU"), "2011-03-15") << c.what;
    EXPECT_EQ(value("SELECT CUESAL FROM F_SAL ORDER BY CUESAL"), "4 43 430 4300001") << c.what;
    EXPECT_EQ(balance("ED3SAL", "4"), "100") << c.what;
    EXPECT_EQ(counter(), "12") << c.what << ": the failed entry's number stays taken";
    expect_balanced();
  }
}

// A balance table whose March debit in pesetas must stay under 100, by a
// CHECK rule or by a trigger. Every column the posting may write is there.
std::string balances_under_100(bool check_rule) {
  std::string columns = "CUESAL TEXT(12) NOT NULL COLLATE NOCASE, DIASAL SHORT NOT NULL DEFAULT 0";
  for (const char* kind : {"PD", "PH", "ED", "EH"})
    for (int month = 1; month <= 12; ++month) columns += fmt::format(", {}{}SAL CURRENCY NOT NULL DEFAULT 0", kind, month);
  std::string sql = "DROP TABLE F_SAL;\nCREATE TABLE F_SAL (" + columns + ", UNIQUE (DIASAL, CUESAL)" +
                    (check_rule ? ", CHECK (\"PD3SAL\" < 100)" : "") + ");\n";
  if (!check_rule)
    sql += on_server() ? "CREATE FUNCTION under_100() RETURNS trigger LANGUAGE plpgsql AS $$ "
                         "BEGIN RAISE EXCEPTION 'saldo excesivo'; END $$;\n"
                         "CREATE TRIGGER under_100 BEFORE UPDATE ON F_SAL FOR EACH ROW WHEN (NEW.PD3SAL >= 100) "
                         "EXECUTE FUNCTION under_100();\n"
                       : "CREATE TRIGGER under_100 BEFORE UPDATE ON F_SAL WHEN NEW.PD3SAL >= 100 "
                         "BEGIN SELECT RAISE(ABORT, 'saldo excesivo'); END;\n";
  return sql + "INSERT INTO F_SAL (CUESAL, DIASAL) VALUES ('4300001', 1);\n";
}

TEST_F(JournalImportTest, ABalanceChangeTheTableRefusesFailsTheLineThatMakesIt) {
  struct Case {
    bool check_rule;
    const char* fourth;  // the pesetas of the fourth line
  };
  for (const Case& c : std::vector<Case>{{true, "1"}, {true, "-200"}, {false, "1"}, {false, "-200"}}) {
    const std::string what = fmt::format("{}, fourth line {}", c.check_rule ? "CHECK" : "trigger", c.fourth);
    std::filesystem::remove_all(data);
    make_dir(data);
    company("''", "1", "0", balances_under_100(c.check_rule));
    std::vector<Apu> lines;
    for (const char* pesetas : {"10", "20", "200", c.fourth}) {
      Apu a = line("15/03/2011", "5", std::to_string(lines.size() + 1));
      a.pesetas = pesetas;
      lines.push_back(a);
    }
    // An output-VAT record after the journal.
    std::string output_vat = "R001|7";
    for (int position = 3; position <= 65; ++position)
      output_vat += position == 11 || position == 12 || position == 47 ? "|" : "|0";
    write_bytes(inter + "/IVR.TXT", cp1252(output_vat + "\r\n"));
    RunResult result = import(lines, {"IVR.TXT"});
    EXPECT_EQ(result.exit_status, 1) << what;
    EXPECT_TRUE(errors().starts_with("Apuntes: (3/) ")) << what << ": " << errors();
    if (c.check_rule && !on_server()) {
      EXPECT_EQ(errors(), cp1252("Apuntes: (3/) Uno o más valores no son válidos según la regla de validación de "
                                 "'PD3SAL'.\r\n\r\n"));
    }
    if (!c.check_rule) {
      EXPECT_NE(errors().find("saldo excesivo"), std::string::npos) << what << ": " << errors();
    }
    EXPECT_EQ(value("SELECT ORDAPU FROM F_APU ORDER BY ORDAPU"), "1 2") << what;
    EXPECT_EQ(balance("PD3SAL", "4300001"), "30") << what;
    EXPECT_EQ(value("SELECT CODIVR FROM F_IVR"), "7") << what;
    expect_balanced();
  }
}

TEST_F(JournalImportTest, ADateWithATimeIsFoundAgainAndPosted) {
  counter_mode();
  Apu a = line("15/03/2011 10:30", "25", "1");
  clean(import({a}));
  a.euros = "50,00";
  RunResult again = import({a});
  EXPECT_EQ(again.exit_status, 0) << errors();
  EXPECT_EQ(value("SELECT FECAPU, IMEAPU FROM F_APU"), "2011-03-15 10:30:00 50") << "rewritten, not refused";
  EXPECT_EQ(balance("ED3SAL", "4"), "150");
  expect_balanced();
}

}  // namespace
}  // namespace kavelo::test
