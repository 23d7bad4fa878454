// prc_APU in this process: what the window shows, and which SQL the engine
// runs for a journal, seen through SQLite's own statement trace.
#include "import/journal/journal_import.h"

#include <gtest/gtest.h>
#include <fmt/format.h>
#include <sqlite3.h>

#include <fstream>
#include <map>

#include "db/statement_trace.h"
#include "import/journal/balance_invariant.h"
#include "import/journal/journal_test_database.h"

namespace kavelo {
namespace {

using db::testing::StatementTrace;

// The plan SQLite makes for `sql` on the database at `path`, one step a line.
std::string query_plan(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* s = nullptr;
  std::string plan;
  if (sqlite3_prepare_v2(db, ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, &s, nullptr) != SQLITE_OK)
    plan = std::string("not prepared: ") + sqlite3_errmsg(db);
  while (s && sqlite3_step(s) == SQLITE_ROW)
    plan += reinterpret_cast<const char*>(sqlite3_column_text(s, 3)) + std::string("\n");
  sqlite3_finalize(s);
  sqlite3_close(db);
  return plan;
}

class JournalImportTest : public testing::JournalTest {
 protected:
  class LabelWindow : public testing::RecordingWindow {
   public:
    LabelWindow(std::vector<std::string>* boxes, std::vector<std::string>* labels)
        : RecordingWindow(boxes), labels_(labels) {}
    void set_label(Label which, const std::string& text) override {
      if (which == Label::Label3) labels_->push_back(text);
    }

   private:
    std::vector<std::string>* labels_;
  };

  void SetUp() override {
    JournalTest::SetUp();
    set_main_window(std::make_unique<LabelWindow>(&boxes_, &labels_));
  }
  void TearDown() override {
    JournalTest::TearDown();
    run().TextoErrores.clear();
  }

  void import(const std::string& settings_sql, const std::string& apu) {
    make_database("INSERT INTO F_EMP (CODEMP, FRMEMP) VALUES ('E1', '111');\n" + settings_sql);
    std::ofstream(database_->dir() / "APU.TXT", std::ios::binary) << apu;
    RunSettings& settings = run().settings;
    settings.DirIntercambio = database_->dir().string() + "/";
    settings.Separador = "|";
    settings.RutaBase = path();
    prc_APU();
    db::Engine::instance().commit();
  }

  std::vector<std::string> labels_;
};

// `entries` entries of three lines, spread over three journals and a few
// days, numbered by the connector.
std::string journal_file(int entries) {
  std::string text;
  for (int e = 0; e < entries; ++e) {
    std::string head = fmt::format("A001|{}|{:02}/0{}/2011|0|", 1 + e % 3, 1 + e % 28, 1 + e % 9);
    text += head + "1|4300001|Venta|F1|D|121,00|20132,71||||0||||0||0||\r\n";
    text += head + "2|7000000|Venta|F1|H|100,00|16638,60||||0||||0||0||\r\n";
    text += head + "3|4770000|Venta|F1|H|21,00|3494,11||||0||||0||0||\r\n";
  }
  return text;
}

TEST_F(JournalImportTest, NoStatementScansTheLinesOrTheBalances) {
  for (const char* settings : {"INSERT INTO F_AUT VALUES (1, 1, 0);", "INSERT INTO F_AUT VALUES (1, 1, 1);",
                               "INSERT INTO F_AUT VALUES (1, 0, 0);"}) {
    std::map<std::string, std::int64_t> statements;
    {
      StatementTrace trace;
      import(std::string(settings) + "INSERT INTO F_DIA (CODDIA) VALUES (1), (2), (3);", journal_file(60));
      statements = trace.statements;
    }
    ASSERT_EQ(run().TextoErrores, "");
    ASSERT_TRUE(check_balances(path()).ok());

    for (const auto& [sql, scanned_rows] : statements) {
      std::string plan = query_plan(path(), sql);
      // Only the first rows of the whole journal, which the import's record set
      // reads when it opens (a bounded few), may come from a scan.
      if (sql.starts_with("SELECT rowid, ") && sql.find(R"( FROM "F_APU" LIMIT )") != std::string::npos) continue;
      // The schema is scanned too, once for each table the import opens.
      if (sql.find(" FROM sqlite_master ") != std::string::npos) continue;
      EXPECT_EQ(plan.find("SCAN F_APU"), std::string::npos) << settings << "\n" << sql << "\n" << plan;
      EXPECT_EQ(plan.find("SCAN F_SAL"), std::string::npos) << settings << "\n" << sql << "\n" << plan;
      EXPECT_EQ(scanned_rows, 0) << sql;
    }
    EXPECT_GT(statements.size(), 10u);
    db::Engine::instance().shutdown();
  }
}

TEST_F(JournalImportTest, ShowsJournalAndDateOfEachLine) {
  import("INSERT INTO F_AUT VALUES (1, 1, 1);",
         "A001|1|15/03/2011|0|1|4300001|Venta|F1|D|121,00|20132,71||||0||||0||0||\r\n"
         "A001|12|1/4/2011|7|1|4300001|Venta|F1|D|121,00|20132,71||||0||||0||0||\r\n");
  EXPECT_EQ(labels_, (std::vector<std::string>{"Convirtiendo apuntes: 1 - 15/03/2011",
                                               "Convirtiendo apuntes: 12 - 01/04/2011"}));
}

// An unattended run (a terminal window without a terminal) shows no progress:
// no line's label is made, and every line is stored all the same.
TEST_F(JournalImportTest, AWindowThatShowsNoLabelsGetsNoLineLabels) {
  class Unattended : public LabelWindow {
   public:
    using LabelWindow::LabelWindow;
    bool shows_labels() const override { return false; }
  };
  set_main_window(std::make_unique<Unattended>(&boxes_, &labels_));
  import("INSERT INTO F_AUT VALUES (1, 1, 1);",
         "A001|1|15/03/2011|0|1|4300001|Venta|F1|D|121,00|20132,71||||0||||0||0||\r\n"
         "A001|12|1/4/2011|7|1|4300001|Venta|F1|H|121,00|20132,71||||0||||0||0||\r\n");
  EXPECT_TRUE(labels_.empty());
  EXPECT_EQ(outside("SELECT count(*) FROM F_APU"), "2");
  EXPECT_EQ(outside("SELECT count(*) FROM F_SAL WHERE CUESAL = '4300001'"), "2");
}

}  // namespace
}  // namespace kavelo
