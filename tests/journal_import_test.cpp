// The journal import through the real program: the numbering of new entries in
// its three modes, the posting of every stored line to the balances, the ways
// the import of APU.TXT ends early, and after every scenario the balance
// invariant (kavelo-db verify against a copy of the database taken before).
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace kavelo::test {
namespace {

// One record of APU.TXT; what a scenario does not set is a plain debit line.
struct Apu {
  std::string journal = "1", date = "15/03/2011", entry = "0", order = "1", account = "4300001", side = "D",
              euros = "100,00", pesetas = "16638,60", created = "";  // FCRAPU

  std::string text() const {
    return "A001|" + journal + "|" + date + "|" + entry + "|" + order + "|" + account + "|Concepto|DOC-1|" + side +
           "|" + euros + "|" + pesetas + "|E|||0||||1|" + created + "|0||{GUID}";
  }
};

Apu line(std::string date, std::string entry, std::string order, std::string journal = "1") {
  Apu a;
  a.date = std::move(date), a.entry = std::move(entry), a.order = std::move(order), a.journal = std::move(journal);
  return a;
}

std::string stored_line(int journal, const std::string& date, int entry) {
  return fmt::format("INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU) VALUES ({}, '{}', {}, 1);\n", journal, date,
                     entry);
}

class JournalImportTest : public ImportScenario {
 protected:
  JournalImportTest() { write_connection_file(conn, connection_lines(inter, data, "EMP", "01", "|")); }

  // A new company EMP with levels 1, 2 and 3 (FRMEMP), the numbering
  // settings and journals 1 (counter at 10) and 2 (at 1), every file empty.
  void company(const std::string& frmemp_sql, const std::string& naaaut, const std::string& namaut,
               const std::string& extra_sql = "") {
    start_again();
    database = make_company(data, "EMP", "01",
                            fmt::format("INSERT INTO F_EMP (CODEMP, FRMEMP) VALUES ('EMP', {});\n"
                                        "INSERT INTO F_AUT (CODAUT, NAAAUT, NAMAUT) VALUES (1, {}, {});\n"
                                        "INSERT INTO F_DIA (CODDIA, ASIDIA) VALUES (1, 10), (2, 1);\n",
                                        frmemp_sql, naaaut, namaut) +
                                extra_sql);
  }
  void counter_mode(const std::string& extra_sql = "") { company("'111'", "1", "0", extra_sql); }

  // Imports APU.TXT made of `records` and checks the balances against the
  // database as it was before.
  RunResult run(const std::vector<Apu>& records) {
    std::string text;
    for (const Apu& r : records) text += r.text() + "\r\n";
    write_bytes(inter + "/APU.TXT", cp1252(text));
    copy_company(database, baseline);
    RunResult result = run_program({bin_path("kavelo"), conn});
    balance_check = kavelo_db({"verify", database, "--baseline", baseline});
    return result;
  }
  // A run that reported nothing and left the balances as the lines say.
  void clean(const RunResult& result) {
    EXPECT_EQ(result.exit_status, 0) << errors();
    expect_balanced();
  }
  void expect_balanced() { EXPECT_EQ(balance_check.exit_status, 0) << balance_check.out << balance_check.err; }
  std::string errors() const { return error_report(inter); }
  std::string value(const std::string& sql) const { return values(database, sql); }
  // The imported lines' numbers, in the order of their keys, which the
  // scenarios' files follow.
  std::string entries() const {
    return value("SELECT ASIAPU FROM F_APU WHERE CUEAPU = '4300001' ORDER BY DIAAPU, FECAPU, ASIAPU, ORDAPU");
  }
  std::string counter() const { return value("SELECT ASIDIA FROM F_DIA WHERE CODDIA = 1"); }
  std::string balance(const std::string& column, const std::string& account) const {
    return value("SELECT " + column + " FROM F_SAL WHERE DIASAL = 1 AND CUESAL = '" + account + "'");
  }

  const std::string baseline = tmp / "ANTES.MDB";
  RunResult balance_check;
};

// The numbering of entries: by the journal's counter (NAAAUT 1, NAMAUT 0), by
// the highest number stored for the journal and date (1, 1) or for the
// journal (0, 1); a number of the file is kept in every mode.
TEST_F(JournalImportTest, Numbering) {
  struct Case {
    const char* what;
    const char *naaaut, *namaut;
    std::string stored;
    std::vector<Apu> lines;
    const char* entries;  // of the imported lines
    const char* counter;  // of journal 1 after the run
  };
  const std::vector<Apu> kept = {line("15/03/2011", "25", "1"), line("15/03/2011", "0", "2")};
  const Case cases[] = {
      {"the counter moves on once per entry", "1", "0", "",
       {line("15/03/2011", "0", "1"), line("15/03/2011", "0", "2"), line("15/03/2011", "0", "3"),
        line("15/03/2011", "0", "1")},
       "10 10 10 11", "12"},
      {"the counter skips numbers taken that day", "1", "0",
       stored_line(1, "2011-03-15", 10) + stored_line(1, "2011-03-15", 11), {line("15/03/2011", "0", "1")}, "12",
       "13"},
      {"a number taken on another day is no obstacle", "1", "0", stored_line(1, "2011-03-16", 10),
       {line("15/03/2011", "0", "1")}, "10", "11"},
      // 25 is above the counter of 10; then 0/2 continues the last numbered
      // entry, of which there is none.
      {"a number of the file, by counter", "1", "0", "", kept, "0 25", "10"},
      {"a number of the file, by journal and date", "1", "1", "", kept, "0 25", "10"},
      {"a number of the file, by journal", "0", "0", "", kept, "0 25", "10"},
      {"a further line takes the last numbered entry, not the file's number", "1", "0", "",
       {line("15/03/2011", "0", "1"), line("15/03/2011", "7", "1"), line("15/03/2011", "0", "2")}, "7 10 10", "11"},
      {"by journal and date counts only that date", "1", "1",
       stored_line(1, "2011-03-15", 1) + stored_line(1, "2011-03-15", 2) + stored_line(1, "2011-03-15", 3) +
           stored_line(1, "2011-03-15", 4) + stored_line(1, "2011-03-16", 40),
       {line("15/03/2011", "0", "1"), line("15/03/2011", "0", "2"), line("15/03/2011", "0", "1"),
        line("17/03/2011", "0", "1"), line("15/03/2011", "0", "1", "2")},
       "5 5 6 1 1", "10"},
      {"by journal counts every date", "0", "1", stored_line(1, "2010-06-30", 57) + stored_line(2, "2011-03-15", 90),
       {line("15/03/2011", "0", "1"), line("16/03/2011", "0", "1"), line("15/03/2011", "0", "1", "3")}, "58 59 1",
       "10"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    company("'111'", c.naaaut, c.namaut, c.stored);
    clean(run(c.lines));
    EXPECT_EQ(entries(), c.entries);
    EXPECT_EQ(counter(), c.counter);
  }
}

// Every level is created in order, then added to: in the column of the line's
// month and side, in euros and pesetas read with the Spanish decimal comma,
// an account with a quote like any other.
TEST_F(JournalImportTest, Posting) {
  counter_mode();
  clean(run({line("15/03/2011", "0", "1")}));
  EXPECT_EQ(value("SELECT CUESAL FROM F_SAL ORDER BY CUESAL"), "4 43 430 4300001");
  // A file keeps the order its rows were added in: the account's own first.
  if (!on_server()) {
    EXPECT_EQ(value("SELECT CUESAL FROM F_SAL ORDER BY rowid"), "4300001 430 43 4");
  }

  Apu credit = line("20/03/2011", "0", "1"), quoted = line("16/03/2011", "0", "1"),
      comma = line("17/03/2011", "0", "1");
  credit.side = "H", credit.euros = "0,5", credit.pesetas = "83,19";
  quoted.account = "43'01";
  comma.account = "6000001", comma.euros = "1.180,50", comma.pesetas = "196418,67", comma.created = "14/03/2011";
  clean(run({line("16/03/2011", "0", "1"), credit, quoted, comma, line("02/11/2011", "0", "1"),
             line("30/09/2011", "0", "1")}));
  EXPECT_EQ(value("SELECT CUESAL FROM F_SAL ORDER BY CUESAL"), "4 43 43' 43'01 430 4300001 6 60 600 6000001");
  for (const char* account : {"4300001", "430", "43", "4"}) {
    const bool with_quoted = account == std::string("43") || account == std::string("4");
    EXPECT_EQ(balance("ED3SAL", account), with_quoted ? "300" : "200") << account;
    EXPECT_EQ(balance("PD3SAL", account), with_quoted ? "49915.8" : "33277.2") << account;
    EXPECT_EQ(balance("EH3SAL", account), "0.5") << account;
    EXPECT_EQ(balance("PH3SAL", account), "83.19") << account;
    EXPECT_EQ(balance("ED11SAL", account), "100") << account;
    EXPECT_EQ(balance("ED9SAL", account), "100") << account;
    EXPECT_EQ(balance("ED1SAL", account), "0") << account << ": not month 11 read as 1";
  }
  EXPECT_EQ(balance("ED3SAL", "43''"), "100");
  EXPECT_EQ(value("SELECT IMEAPU, IMPAPU, FCRAPU FROM F_APU WHERE CUEAPU = '6000001'"),
            "1180.5 196418.67 2011-03-14");
  EXPECT_EQ(balance("ED3SAL", "6"), "1180.5");
  EXPECT_EQ(balance("PD3SAL", "6"), "196418.67");
}

TEST_F(JournalImportTest, AnEmptyAccountPostsNothingAndNoLevelsPostTheAccountAlone) {
  company("NULL", "1", "0");
  Apu empty = line("15/03/2011", "0", "2");
  empty.account = "";
  clean(run({line("15/03/2011", "0", "1"), empty}));
  EXPECT_EQ(value("SELECT count(*) FROM F_APU"), "2");
  EXPECT_EQ(value("SELECT CUESAL FROM F_SAL"), "4300001");
}

// A line found again is rewritten and posted again.
std::string refusing_trigger(const std::string& event, const std::string& when, const std::string& message);

// A line sent again replaces the line and its posting: its old amounts leave
// the balances they went to (its account, side and month as stored) as the
// new ones go in, so the balances follow the lines whatever is sent, and a
// line passed over as a duplicate posts nothing; whether the changes are
// summed per group or, where F_SAL may refuse one (a trigger here), written
// line by line.
TEST_F(JournalImportTest, ALineSentAgainMovesItsPosting) {
  struct Case {
    const char* what;
    Apu again;
    const char* balances;  // account 4 and 5, euros of March, debit then credit
  };
  Apu first = line("15/03/2011", "25", "1");
  auto changed = [&](auto change) {
    Apu a = first;
    change(a);
    return a;
  };
  const Case cases[] = {
      {"the same line", first, "100 0 0 0"},
      {"another amount", changed([](Apu& a) { a.euros = "50,00"; }), "50 0 0 0"},
      {"another account", changed([](Apu& a) { a.account = "5720001"; }), "0 0 100 0"},
      {"another side", changed([](Apu& a) { a.side = "H"; }), "0 100 0 0"},
      {"a date with a time, found again", changed([](Apu& a) { a.date = "15/03/2011 10:30"; }), "100 0 0 0"},
      {"a duplicate of another line's GUID", changed([](Apu& a) { a.entry = "26"; }), "100 0 0 0"},
  };
  for (const bool per_line : {false, true})
  for (const Case& c : cases) {
    SCOPED_TRACE(fmt::format("{}{}", c.what, per_line ? ", line by line" : ""));
    counter_mode("CREATE UNIQUE INDEX f_apu_guid ON F_APU (GUIDAPU);\n" +
                 (per_line ? refusing_trigger("UPDATE", "NEW.PD3SAL < -1000000000", "nunca") : ""));
    Apu a = first;
    if (std::string(c.what).starts_with("a date")) a.date = c.again.date;
    clean(run({a}));
    clean(run({c.again}));
    EXPECT_EQ(value("SELECT count(*) FROM F_APU"), "1");
    std::string balances;
    for (const char* account : {"4", "5"})
      for (const char* column : {"ED3SAL", "EH3SAL"}) {
        std::string amount = balance(column, account);
        balances += (balances.empty() ? "" : " ") + (amount.empty() ? "0" : amount);
      }
    EXPECT_EQ(balances, c.balances);
  }
}

// A trigger that refuses a change of F_SAL with `message`, on `event` and
// where `when` holds, on either backend.
std::string refusing_trigger(const std::string& event, const std::string& when, const std::string& message) {
  if (on_server())
    return fmt::format(
        "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RAISE EXCEPTION '{2}'; END $$;\n"
        "CREATE TRIGGER refuse BEFORE {0} ON F_SAL FOR EACH ROW WHEN ({1}) EXECUTE FUNCTION refuse();\n",
        event, when, message);
  return fmt::format("CREATE TRIGGER refuse BEFORE {} ON F_SAL WHEN {} BEGIN SELECT RAISE(ABORT, '{}'); END;\n",
                     event, when, message);
}

// The import of the file ends at the first record that fails: a key field
// that cannot be converted, a numbering that cannot be made (under the
// order's code), a field that cannot be written or a posting that fails
// after the entry's number was taken, which stays taken. The failing line's
// posting is taken back with it.
TEST_F(JournalImportTest, ARecordThatFailsEndsTheImport) {
  struct Case {
    std::string schema;
    Apu record;
    const char* line;      // the report's line; nullptr: the engine's words
    const char* counters;  // CODDIA ASIDIA of every journal after the run
  };
  Apu bad_euros = line("15/03/2011", "0", "1"), no_column = bad_euros, refused = bad_euros;
  bad_euros.euros = "mucho";
  no_column.side = "X";
  refused.account = "5720001";
  const Case cases[] = {
      {"", line("15/03/2011", "0", "1", "40000"), "Apuntes: (2/01) Desbordamiento", "1 11 2 1"},
      {"", line("31/02/2011", "0", "1"), "Apuntes: (2/02) No coinciden los tipos", "1 11 2 1"},
      {"", line("", "0", "1"), "Apuntes: (2/02) No coinciden los tipos", "1 11 2 1"},
      {"", line("15/03/2011", "3000000000", "1"), "Apuntes: (2/03) Desbordamiento", "1 11 2 1"},
      {"", line("15/03/2011", "0", "-3000000000"), "Apuntes: (2/04) Desbordamiento", "1 11 2 1"},
      // No counter is made.
      {"DELETE FROM F_DIA WHERE CODDIA = 2;", line("15/03/2011", "0", "1", "2"),
       "Apuntes: (2/04) Elemento no encontrado en esta colección: 'ASIDIA'.", "1 11"},
      {"", bad_euros, "Apuntes: (2/09) Error en la conversión del tipo de datos.", "1 12 2 1"},
      // A side without balance columns.
      {"", no_column, "Apuntes: (2/) Elemento no encontrado en esta colección: 'PX3SAL'.", "1 12 2 1"},
      // Levels 5720001, 572 and 57 are stored before 5 is refused.
      {refusing_trigger("INSERT", "NEW.CUESAL = '5'", "sin grupo 5"), refused, nullptr, "1 12 2 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line ? c.line : "sin grupo 5");
    counter_mode(c.schema);
    RunResult result = run({line("14/03/2011", "0", "1"), c.record, line("16/03/2011", "0", "1")});
    EXPECT_EQ(result.exit_status, 1);
    if (c.line) {
      EXPECT_EQ(errors(), cp1252(std::string(c.line) + "\r\n\r\n"));
    } else {
      EXPECT_TRUE(errors().starts_with("Apuntes: (2/) ")) << errors();
    }
    EXPECT_EQ(value("SELECT FECAPU, ASIAPU FROM F_APU"), "2011-03-14 10");
    EXPECT_EQ(value("SELECT CODDIA, ASIDIA FROM F_DIA ORDER BY CODDIA"), c.counters);
    EXPECT_EQ(value("SELECT CUESAL FROM F_SAL ORDER BY CUESAL"), "4 43 430 4300001");
    EXPECT_EQ(balance("ED3SAL", "4"), "100");
    expect_balanced();
  }
}

TEST_F(JournalImportTest, AMonthlyColumnWithoutValueTakesTheAmount) {
  // A balance table whose monthly columns may hold no value, with one such row.
  counter_mode(R"sql(
DROP TABLE F_SAL;
CREATE TABLE F_SAL (CUESAL TEXT(12) NOT NULL COLLATE NOCASE, DIASAL SHORT NOT NULL DEFAULT 0,
  PD3SAL CURRENCY, ED3SAL CURRENCY, PH3SAL CURRENCY, EH3SAL CURRENCY, UNIQUE (DIASAL, CUESAL));
INSERT INTO F_SAL (CUESAL, DIASAL, PD3SAL, ED3SAL) VALUES ('43', 1, NULL, 7);
)sql");
  clean(run({line("15/03/2011", "0", "1")}));
  EXPECT_EQ(balance("PD3SAL", "43"), "16638.6");
  EXPECT_EQ(balance("ED3SAL", "43"), "107");
  EXPECT_EQ(balance("PD3SAL", "4"), "16638.6") << "a new row without defaults";
}

// A balance table whose March debit in pesetas must stay under 100, by a
// CHECK rule or by a trigger: the line whose change it refuses fails, the
// lines before it stay posted, and the files after the journal import.
TEST_F(JournalImportTest, ABalanceChangeTheTableRefusesFailsTheLineThatMakesIt) {
  for (const bool check_rule : {true, false}) {
    for (const char* fourth : {"1", "-200"}) {  // the pesetas of the fourth line
      SCOPED_TRACE(fmt::format("{}, fourth line {}", check_rule ? "CHECK" : "trigger", fourth));
      // Every column the posting may write is there.
      std::string columns = "CUESAL TEXT(12) NOT NULL COLLATE NOCASE, DIASAL SHORT NOT NULL DEFAULT 0";
      for (const char* kind : {"PD", "PH", "ED", "EH"})
        for (int month = 1; month <= 12; ++month)
          columns += fmt::format(", {}{}SAL CURRENCY NOT NULL DEFAULT 0", kind, month);
      company("''", "1", "0",
              "DROP TABLE F_SAL;\nCREATE TABLE F_SAL (" + columns + ", UNIQUE (DIASAL, CUESAL)" +
                  (check_rule ? ", CHECK (\"PD3SAL\" < 100));\n"
                              : ");\n" + refusing_trigger("UPDATE", "NEW.PD3SAL >= 100", "saldo excesivo")) +
                  "INSERT INTO F_SAL (CUESAL, DIASAL) VALUES ('4300001', 1);\n");
      std::vector<Apu> lines;
      for (const char* pesetas : {"10", "20", "200", fourth}) {
        lines.push_back(line("15/03/2011", "5", std::to_string(lines.size() + 1)));
        lines.back().pesetas = pesetas;
      }
      write_bytes(inter + "/IVR.TXT", record("R001", 65, {{2, "7"}}, {11, 12, 47}, "|") + "\r\n");
      RunResult result = run(lines);
      EXPECT_EQ(result.exit_status, 1);
      EXPECT_TRUE(errors().starts_with("Apuntes: (3/) ")) << errors();
      if (check_rule && !on_server()) {
        EXPECT_EQ(errors(), cp1252("Apuntes: (3/) Uno o más valores no son válidos según la regla de validación de "
                                   "'PD3SAL'.\r\n\r\n"));
      }
      if (!check_rule) {
        EXPECT_NE(errors().find("saldo excesivo"), std::string::npos) << errors();
      }
      EXPECT_EQ(value("SELECT ORDAPU FROM F_APU ORDER BY ORDAPU"), "1 2");
      EXPECT_EQ(balance("PD3SAL", "4300001"), "30");
      EXPECT_EQ(value("SELECT CODIVR FROM F_IVR"), "7");
      expect_balanced();
    }
  }
}

// A group written again record by record begins where the group began: a
// line that continues the entry begun in the group before joins that entry.
TEST_F(JournalImportTest, AGroupWrittenAgainContinuesTheEntryBegunBeforeIt) {
  company("'111'", "0", "0");
  std::vector<Apu> lines;
  for (int i = 1; i <= 1500; ++i) lines.push_back(line(i == 1400 ? "31/02/2011" : "15/03/2011", "0", std::to_string((i - 1) % 3 + 1)));
  EXPECT_EQ(run(lines).exit_status, 1);
  EXPECT_EQ(errors(), error_line("Apuntes: (", 1400, "02", "No coinciden los tipos") + "\r\n");
  expect_balanced();
  // Lines 1000 to 1002 are the entry 334; 1399, the first of 467, failed after it.
  EXPECT_EQ(value("SELECT count(*), min(ASIAPU), max(ASIAPU) FROM F_APU"), "1399 1 467");
  EXPECT_EQ(value("SELECT ASIAPU FROM F_APU WHERE ASIAPU = 334 ORDER BY ORDAPU"), "334 334 334");
}

// A check run posts every line in one transaction that it undoes at the end,
// yet each balance it meets holds what the lines before it posted, across
// groups: the line that a balance cannot take is refused as in a real run, and
// one undone in a check run of every error leaves the balances without it.
TEST_F(JournalImportTest, ACheckRunRefusesTheLineARealRunRefuses) {
  counter_mode();
  std::vector<Apu> lines(2600, line("15/03/2011", "0", "1"));
  for (Apu& a : lines) a.euros = "1,00", a.pesetas = "1";  // exact beside the large ones, even as doubles
  lines[0].euros = "900.000.000.000.000,00";     // a balance holds it
  lines[1999].euros = "120.000.000.000.000,00";  // not after line 1
  lines[2499].euros = "10.000.000.000.000,00";   // after line 1 alone
  std::string text;
  for (const Apu& a : lines) text += a.text() + "\r\n";
  write_bytes(inter + "/APU.TXT", cp1252(text));
  auto check = [&](const std::string& option) {
    std::vector<std::string> argv = {bin_path("kavelo"), "--check"};
    if (!option.empty()) argv.push_back(option);
    argv.push_back(conn);
    EXPECT_EQ(run_program(argv).exit_status, 1) << option;
    EXPECT_EQ(value("SELECT count(*) FROM F_APU") + value("SELECT count(*) FROM F_SAL"), "00") << option;
    return errors();
  };
  const std::string every = check("--all-errors"), first = check("");
  EXPECT_TRUE(first.starts_with("Apuntes: (2000/) ")) << first;
  EXPECT_EQ(every, first);
  EXPECT_EQ(run(lines).exit_status, 1);
  EXPECT_EQ(errors(), first);
  EXPECT_EQ(value("SELECT count(*) FROM F_APU"), "1999");
  expect_balanced();
}

}  // namespace
}  // namespace kavelo::test
