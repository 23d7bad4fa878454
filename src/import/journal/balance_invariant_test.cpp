// The balance invariant: it holds after real postings and catches every way
// the balances can disagree with the lines.
#include "import/journal/balance_invariant.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "import/journal/balance_posting.h"
#include "import/journal/journal_test_database.h"

namespace kavelo {
namespace {

TEST(MonthlyColumn, ReadsKindSideAndMonth) {
  struct Case {
    const char* name;
    bool monthly;
    char kind;
    const char* side;
    int month;
  };
  for (const auto& c : std::vector<Case>{
           {"PD1SAL", true, 'P', "D", 1},
           {"eh12sal", true, 'E', "H", 12},
           {"PH10SAL", true, 'P', "H", 10},
           {"P3SAL", true, 'P', "", 3},
           {"PX19SAL", true, 'P', "X1", 9},
           {"CUESAL", false, 0, "", 0},
           {"DIASAL", false, 0, "", 0},
           {"PD13SAL", true, 'P', "D1", 3},
           {"PD0SAL", false, 0, "", 0},
           {"PDSAL", false, 0, "", 0},
       }) {
    auto column = monthly_column(c.name);
    ASSERT_EQ(column.has_value(), c.monthly) << c.name;
    if (!column) continue;
    EXPECT_EQ(column->kind, c.kind) << c.name;
    EXPECT_EQ(column->side, c.side) << c.name;
    EXPECT_EQ(column->month, c.month) << c.name;
  }
}

TEST(FormatAmount, UsesTwoDecimalsUnlessMoreAreNeeded) {
  EXPECT_EQ(format_amount(Currency{11800000}), "1180,00");
  EXPECT_EQ(format_amount(Currency{-5}), "-0,0005");
  EXPECT_EQ(format_amount(Currency{0}), "0,00");
}

class BalanceInvariantTest : public testing::JournalTest {
 protected:
  void SetUp() override {
    JournalTest::SetUp();
    make_database(R"sql(
INSERT INTO F_EMP (CODEMP, FRMEMP) VALUES ('E1', '111');
INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU, CUEAPU, "D-HAPU", IMEAPU, IMPAPU)
  VALUES (1, '2011-03-15', 5, 1, '4300001', 'D', 100, 16638.6);
INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU, CUEAPU, "D-HAPU", IMEAPU, IMPAPU)
  VALUES (1, '2011-03-15', 5, 2, '7000000', 'H', 100, 16638.6);
INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU, CUEAPU, "D-HAPU", IMEAPU, IMPAPU)
  VALUES (2, '2011-11-02', 1, 1, '43', 'd', 0.0001, 1);
INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU, CUEAPU, "D-HAPU", IMEAPU, IMPAPU)
  VALUES (2, '2011-11-02', 1, 2, '', 'H', 5, 5);
)sql");
  }
  void post_all() {
    SaldarApuntes(1, DateTime{2011, 3, 15}, 5, 1, path());
    SaldarApuntes(1, DateTime{2011, 3, 15}, 5, 2, path());
    SaldarApuntes(2, DateTime{2011, 11, 2}, 1, 1, path());
    SaldarApuntes(2, DateTime{2011, 11, 2}, 1, 2, path());
    db::Engine::instance().commit();
  }
  void change(const std::string& sql) {
    outside("SELECT 1");  // commits what the engine holds
    db::Engine::instance().shutdown();
    database_->outside_query(sql);
  }
  BalanceCheck check(const std::optional<std::string>& baseline = std::nullopt) {
    db::Engine::instance().commit();
    return check_balances(path(), baseline);
  }
  std::string copy() {
    db::Engine::instance().shutdown();
    std::string baseline = (database_->dir() / "ANTES.MDB").string();
    std::filesystem::copy_file(path(), baseline);
    return baseline;
  }
};

TEST_F(BalanceInvariantTest, HoldsAfterTheLinesArePosted) {
  post_all();
  BalanceCheck result = check();
  EXPECT_TRUE(result.ok()) << ::testing::PrintToString(result.mismatches);
  EXPECT_EQ(result.lines, 4);
  EXPECT_EQ(result.rows, 10);  // four levels of two accounts in journal 1, two of 43 in journal 2
}

TEST_F(BalanceInvariantTest, CatchesEveryDisagreement) {
  post_all();
  struct Case {
    const char* what;
    const char* sql;
    const char* mismatch;
  };
  for (const auto& c : std::vector<Case>{
           {"a wrong amount", "UPDATE F_SAL SET PD3SAL = PD3SAL + 0.0001 WHERE CUESAL = '43' AND DIASAL = 1",
            "Diario 1, cuenta 43, PD3SAL: debería ser 16638,60 y es 16638,6001."},
           {"a row too many", "INSERT INTO F_SAL (CUESAL, DIASAL) VALUES ('5', 1)",
            "Sobra la fila de saldos del diario 1, cuenta 5: ningún apunte va a ella."},
           {"a row missing", "DELETE FROM F_SAL WHERE CUESAL = '4' AND DIASAL = 2",
            "Falta la fila de saldos del diario 2, cuenta 4."},
           {"a line not posted",
            "INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU, CUEAPU, \"D-HAPU\", IMEAPU, IMPAPU) "
            "VALUES (1, '2011-03-20', 6, 1, '4300001', 'H', 1, 2)",
            "Diario 1, cuenta 4300001, EH3SAL: debería ser 1,00 y es 0,00."},
           {"a side without columns",
            "INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU, CUEAPU, \"D-HAPU\", IMEAPU, IMPAPU) "
            "VALUES (1, '2011-03-20', 6, 1, '4300001', 'X', 1, 2)",
            "F_SAL no tiene la columna PX3SAL, a la que van apuntes guardados."},
       }) {
    std::string baseline = copy();
    change(c.sql);
    BalanceCheck result = check();
    EXPECT_FALSE(result.ok()) << c.what;
    EXPECT_NE(std::find(result.mismatches.begin(), result.mismatches.end(), c.mismatch), result.mismatches.end())
        << c.what << ": " << ::testing::PrintToString(result.mismatches);
    // Back to the posted state for the next case.
    db::Engine::instance().shutdown();
    std::filesystem::remove(path());
    std::filesystem::rename(baseline, path());
  }
}

TEST_F(BalanceInvariantTest, StartsFromTheBaselinesBalancesAndCountsOnlyNewOrChangedLines) {
  // Before the import: opening balances, and every line but the second posted.
  change("INSERT INTO F_SAL (CUESAL, DIASAL, ED1SAL) VALUES ('5720001', 1, 500)");
  change("UPDATE F_APU SET IMEAPU = 999 WHERE ORDAPU = 2 AND DIAAPU = 1");
  SaldarApuntes(1, DateTime{2011, 3, 15}, 5, 1, path());
  SaldarApuntes(2, DateTime{2011, 11, 2}, 1, 1, path());
  std::string baseline = copy();

  // The import rewrites the second line with other amounts and adds a line.
  change("UPDATE F_APU SET IMEAPU = 100 WHERE ORDAPU = 2 AND DIAAPU = 1");
  change(
      "INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU, CUEAPU, \"D-HAPU\", IMEAPU, IMPAPU) "
      "VALUES (1, '2011-01-20', 6, 1, '5720001', 'D', 1, 2)");
  SaldarApuntes(1, DateTime{2011, 3, 15}, 5, 2, path());
  SaldarApuntes(1, DateTime{2011, 1, 20}, 6, 1, path());

  BalanceCheck result = check(baseline);
  EXPECT_TRUE(result.ok()) << ::testing::PrintToString(result.mismatches);
  EXPECT_EQ(result.lines, 2);
  EXPECT_FALSE(check().ok()) << "without the baseline the opening balance belongs to no line";
}

TEST_F(BalanceInvariantTest, NeedsToKnowTheCompanyWhenThereAreSeveral) {
  change("INSERT INTO F_EMP (CODEMP, FRMEMP) VALUES ('E2', '')");
  post_all();
  EXPECT_THROW(check_balances(path()), std::runtime_error);
  EXPECT_TRUE(check_balances(path(), std::nullopt, "e1").ok());
  EXPECT_FALSE(check_balances(path(), std::nullopt, "E2").ok()) << "E2 has no levels";
}

}  // namespace
}  // namespace kavelo
