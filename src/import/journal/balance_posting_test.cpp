// SaldarApuntes: the levels, the queries, the month's columns and the sums.
#include "import/journal/balance_posting.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <string_view>

#include "db/open_retry.h"
#include "import/journal/journal_test_database.h"
#include "platform/failure.h"

namespace kavelo {
namespace {

const DateTime kMarch{2011, 3, 15};

TEST(PostingQueries, AreWrittenAsTheApplicationWritesThem) {
  EXPECT_EQ(posting_selection(1, kMarch, 5, 2),
            "SELECT * FROM F_APU WHERE  (DIAAPU=1) AND  FECAPU=#03/15/2011# AND ASIAPU=5 AND ORDAPU=2 "
            "ORDER BY DIAAPU, FECAPU, ASIAPU, ORDAPU ASC;");
  EXPECT_EQ(balance_rows_query("1", {"4300001", "430", "43", "4"}),
            "SELECT * FROM F_SAL WHERE DIASAL=1 AND (CUESAL='4300001' OR CUESAL='430' OR CUESAL='43' OR CUESAL='4' );");
  EXPECT_EQ(balance_rows_query("2", {"O'B"}), "SELECT * FROM F_SAL WHERE DIASAL=2 AND (CUESAL='O''B' );");
}

TEST(BalanceLevels, AreTheAccountItselfAndTheMarkedShorterLengths) {
  struct Case {
    const char* account;
    db::Value frmemp;
    std::vector<std::string> levels;
  };
  for (const auto& c : std::vector<Case>{
           {"4300001", db::Value("111"), {"4300001", "430", "43", "4"}},
           {"4300001", db::Value("1101001"), {"4300001", "4300", "43", "4"}},
           {"43", db::Value("111"), {"43", "4"}},
           {"4300001", db::Value("0000000000"), {"4300001"}},
           {"4300001", db::Value("1"), {"4300001", "4"}},
           {"4300001", db::Value(), {"4300001"}},
           {"4300001", db::Value(""), {"4300001"}},
           {"ÑÁ12", db::Value("11"), {"ÑÁ12", "ÑÁ", "Ñ"}},
           {"abc", db::Value("é1"), {"abc", "ab"}},
       }) {
    EXPECT_EQ(balance_levels(c.account, c.frmemp), c.levels) << c.account << " " << db::to_text(c.frmemp);
  }
}

TEST(AddAmount, CountsAMissingValueAsZero) {
  const db::Value ten{Currency{100000}}, five{Currency{50000}};
  EXPECT_EQ(add_amount(ten, five), db::Value(Currency{150000}));
  EXPECT_EQ(add_amount(db::Value(), five), five);
  EXPECT_EQ(add_amount(ten, db::Value()), ten);
  EXPECT_EQ(add_amount(db::Value(), db::Value()), db::Value(Currency{}));
  EXPECT_EQ(add_amount(db::Value(1.5), five), db::Value(6.5));
  EXPECT_THROW(add_amount(db::Value(Currency{INT64_MAX}), db::Value(Currency{1})), Failure);
  EXPECT_THROW(add_amount(db::Value("mucho"), five), Failure);
}

class SaldarApuntesTest : public testing::JournalTest {
 protected:
  void SetUp() override {
    JournalTest::SetUp();
    make_database(R"sql(
INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU, CUEAPU, "D-HAPU", IMEAPU, IMPAPU)
  VALUES (1, '2011-03-15', 5, 1, '4300001', 'D', 100, 16638.6);
INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU, CUEAPU, "D-HAPU", IMEAPU, IMPAPU)
  VALUES (1, '2011-03-15', 5, 3, '', 'D', 1, 1);
INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU, CUEAPU, "D-HAPU", IMEAPU, IMPAPU)
  VALUES (1, '2011-03-15', 5, 4, NULL, 'D', 1, 1);
)sql");
  }
  std::string balance(const std::string& column, const std::string& account, int journal = 1) {
    return outside("SELECT " + column + " FROM F_SAL WHERE DIASAL = " + std::to_string(journal) + " AND CUESAL = '" +
                   account + "'");
  }
  std::string rows() { return outside("SELECT count(*) FROM F_SAL"); }
};

TEST_F(SaldarApuntesTest, CreatesEveryLevelsRowThenAddsToIt) {
  SaldarApuntes(1, kMarch, 5, 1, path());
  EXPECT_EQ(outside("SELECT group_concat(CUESAL, ' ') FROM (SELECT CUESAL FROM F_SAL ORDER BY rowid)"),
            "4300001 430 43 4");
  for (const char* account : {"4300001", "430", "43", "4"}) {
    EXPECT_EQ(balance("ED3SAL", account), "100") << account;
    EXPECT_EQ(balance("PD3SAL", account), "16638.6") << account;
    EXPECT_EQ(balance("PH3SAL", account), "0") << account;
  }
  SaldarApuntes(1, kMarch, 5, 1, path());
  EXPECT_EQ(rows(), "4");
  EXPECT_EQ(balance("ED3SAL", "43"), "200") << "a line posted twice adds twice";
}

TEST_F(SaldarApuntesTest, NothingIsPostedForALineWithoutAnAccountOrForNoLine) {
  run().RegistroEmpresa.reset();  // not even read
  SaldarApuntes(1, kMarch, 5, 3, path());
  SaldarApuntes(1, kMarch, 5, 4, path());
  SaldarApuntes(1, kMarch, 5, 9, path());
  EXPECT_EQ(rows(), "0");
}

TEST_F(SaldarApuntesTest, ACompanyRecordWithoutLevelsFails) {
  run().RegistroEmpresa = db::Row();
  EXPECT_THROW(SaldarApuntes(1, kMarch, 5, 1, path()), Failure);
  run().RegistroEmpresa.reset();
  EXPECT_THROW(SaldarApuntes(1, kMarch, 5, 1, path()), Failure);
}

TEST_F(SaldarApuntesTest, GivingUpTheOpenShowsItsMessage) {
  std::string missing = (database_->dir() / "NADA.MDB").string();
  EXPECT_THROW(SaldarApuntes(1, kMarch, 5, 1, missing), db::OpenGaveUp);
  EXPECT_EQ(boxes_, (std::vector<std::string>{
                        "Error al abrir la base de datos en el proceso de saldar apuntes: " + missing}));
}

// The posting of a journal import: rows held over many record units.
class BalancePostingTest : public testing::JournalTest {
 protected:
  // Posts one line as the import does, in a record unit of its own that is
  // kept when the posting succeeds.
  void post_in_unit(BalancePosting& posting, std::int32_t order) {
    db::RecordUnit unit = db::Engine::instance().begin_record(path());
    posting.post(1, kMarch, 5, order);
    unit.commit();
  }
  std::string balance(const std::string& column, const std::string& account) {
    return outside("SELECT " + column + " FROM F_SAL WHERE DIASAL = 1 AND CUESAL = '" + account + "'");
  }
};

TEST_F(BalancePostingTest, AUnitUndoneTakesBackWhatItChangedInTheRowsHeld) {
  // Row 4 is close to the largest amount: the second line overflows it after
  // its other levels have changed in memory.
  make_database(R"sql(
INSERT INTO F_SAL (CUESAL, DIASAL, PD3SAL) VALUES ('4', 1, 900000000000000);
INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU, CUEAPU, "D-HAPU", IMEAPU, IMPAPU) VALUES
  (1, '2011-03-15', 5, 1, '4300001', 'D', 1, 10),
  (1, '2011-03-15', 5, 2, '4300002', 'D', 1, 30000000000000),
  (1, '2011-03-15', 5, 3, '4300A', 'D', 1, 1),
  (1, '2011-03-15', 5, 4, '4300a', 'D', 1, 1);
)sql");
  {
    BalancePosting posting(path());
    post_in_unit(posting, 1);
    try {
      post_in_unit(posting, 2);
      ADD_FAILURE() << "the second line overflows row 4";
    } catch (const Failure& f) {
      EXPECT_EQ(f.number(), 6);
    }
    // Codes that differ only in case name one row of a column compared
    // without regard to case, held or not.
    post_in_unit(posting, 3);
    post_in_unit(posting, 4);
  }
  EXPECT_EQ(outside("SELECT group_concat(CUESAL, ' ') FROM (SELECT CUESAL FROM F_SAL ORDER BY rowid)"),
            "4 4300001 430 43 4300A");
  EXPECT_EQ(balance("PD3SAL", "430"), "12");
  EXPECT_EQ(balance("PD3SAL", "43"), "12");
  EXPECT_EQ(balance("PD3SAL", "4300A"), "2");
  EXPECT_EQ(balance("PD3SAL", "4"), "900000000000012");
  EXPECT_EQ(balance("ED3SAL", "4"), "3");
}

// The updates of each F_SAL row by rowid, counted on every connection opened
// while it is on: a trigger would count them too, but a table with a trigger
// has each line write its changes at once.
std::map<sqlite3_int64, int>* g_sal_updates = nullptr;

int count_sal_updates(sqlite3* db, const char**, const sqlite3_api_routines*) {
  sqlite3_update_hook(
      db,
      [](void*, int op, const char*, const char* table, sqlite3_int64 rowid) {
        if (op == SQLITE_UPDATE && std::string_view(table) == "F_SAL" && g_sal_updates) ++(*g_sal_updates)[rowid];
      },
      nullptr);
  return SQLITE_OK;
}

TEST_F(BalancePostingTest, ManyRowsAreWrittenBetweenRecordsAndAddUpAsOne) {
  // More accounts than rows are held: the rows are written once between two
  // records, then read again.
  const int lines = static_cast<int>(BalancePosting::kHeldRows) + 100;
  make_database(R"sql(
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < )sql" +
                std::to_string(lines) + R"sql()
INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU, CUEAPU, "D-HAPU", IMEAPU, IMPAPU)
  SELECT 1, '2011-03-15', 5, i, printf('43%05d', i), 'H', 1, 0.5 FROM n;
)sql");
  std::map<sqlite3_int64, int> updates;
  g_sal_updates = &updates;
  sqlite3_auto_extension(reinterpret_cast<void (*)()>(count_sal_updates));
  {
    BalancePosting posting(path());
    for (int order = 1; order <= lines; ++order) post_in_unit(posting, order);
  }
  sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(count_sal_updates));
  g_sal_updates = nullptr;
  EXPECT_EQ(outside("SELECT count(*) FROM F_SAL"), std::to_string(lines + 3));
  EXPECT_EQ(balance("EH3SAL", "4"), std::to_string(lines));
  EXPECT_EQ(balance("PH3SAL", "43"), std::to_string(lines / 2) + (lines % 2 ? ".5" : ""));
  EXPECT_EQ(balance("EH3SAL", "4300007"), "1");
  EXPECT_EQ(updates[std::stoll(outside("SELECT rowid FROM F_SAL WHERE CUESAL = '4'"))], 2);
}

}  // namespace
}  // namespace kavelo
