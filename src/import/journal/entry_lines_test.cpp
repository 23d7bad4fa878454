// LeerApuntesAsiento and the date literal of the journal's queries.
#include "import/journal/entry_lines.h"

#include <gtest/gtest.h>

#include "db/open_retry.h"
#include "import/journal/journal_test_database.h"

namespace kavelo {
namespace {

TEST(EntryLinesQuery, NamesJournalDateAndEntryAndOrdersByOrder) {
  EXPECT_EQ(entry_lines_query(1, DateTime{2011, 3, 15}, 5),
            "SELECT * FROM F_APU WHERE DIAAPU=1 AND FECAPU=#03/15/2011# AND ASIAPU=5 ORDER BY ORDAPU;");
  EXPECT_EQ(entry_lines_query(-3, DateTime{2011, 11, 2}, -70000),
            "SELECT * FROM F_APU WHERE DIAAPU=-3 AND FECAPU=#11/02/2011# AND ASIAPU=-70000 ORDER BY ORDAPU;");
}

TEST(JetDateLiteral, WritesMonthDayYearAndATimeOnlyWhenThereIsOne) {
  EXPECT_EQ(jet_date_literal(DateTime{2011, 3, 5}), "#03/05/2011#");
  EXPECT_EQ(jet_date_literal(DateTime{987, 12, 31}), "#12/31/0987#");
  EXPECT_EQ(jet_date_literal(DateTime{2011, 3, 5, 9, 7, 0}), "#03/05/2011 09:07:00#");
}

class LeerApuntesAsientoTest : public testing::JournalTest {
 protected:
  void SetUp() override {
    JournalTest::SetUp();
    make_database(R"sql(
INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU, CUEAPU, IMEAPU) VALUES (1, '2011-03-15', 5, 3, '4770000', 30);
INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU, CUEAPU, IMEAPU) VALUES (1, '2011-03-15', 5, 1, '4300001', 10);
INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU, CUEAPU, IMEAPU) VALUES (1, '2011-03-15', 5, 2, '7000000', 20);
INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU, CUEAPU) VALUES (2, '2011-03-15', 5, 1, 'otro diario');
INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU, CUEAPU) VALUES (1, '2011-03-16', 5, 1, 'otra fecha');
INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU, CUEAPU) VALUES (1, '2011-03-15', 6, 1, 'otro asiento');
INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU, CUEAPU) VALUES (3, '2011-03-15 10:30:00', 1, 1, 'con hora');
)sql");
  }
};

TEST_F(LeerApuntesAsientoTest, GivesTheEntrysLinesInOrderByNameAndByPosition) {
  auto lines = LeerApuntesAsiento(1, DateTime{2011, 3, 15}, 5, path());
  ASSERT_EQ(lines.size(), 3u);
  std::vector<std::string> accounts;
  for (const auto& line : lines) accounts.push_back(db::to_text(line.at("CUEAPU")));
  EXPECT_EQ(accounts, (std::vector<std::string>{"4300001", "7000000", "4770000"}));

  // Every column of the table, in the table's order.
  const db::Row& first = lines.front();
  EXPECT_EQ(first.size(), 22u);
  EXPECT_EQ(first.name(4), "CUEAPU");
  EXPECT_EQ(first.at(4), first.at("cueapu"));
  EXPECT_EQ(first.at("ORDAPU"), db::Value(std::int32_t{1}));
  EXPECT_EQ(first.at("IMEAPU"), db::Value(Currency{100000}));
  EXPECT_TRUE(first.at("FCRAPU").is_null());
}

TEST_F(LeerApuntesAsientoTest, LeavesOutOtherJournalsDatesAndEntries) {
  EXPECT_TRUE(LeerApuntesAsiento(2, DateTime{2011, 3, 15}, 6, path()).empty());
  EXPECT_TRUE(LeerApuntesAsiento(1, DateTime{2011, 3, 17}, 5, path()).empty());
  EXPECT_EQ(LeerApuntesAsiento(2, DateTime{2011, 3, 15}, 5, path()).size(), 1u);
}

TEST_F(LeerApuntesAsientoTest, ADateWithoutTheTimeDoesNotFindALineStoredWithOne) {
  EXPECT_TRUE(LeerApuntesAsiento(3, DateTime{2011, 3, 15}, 1, path()).empty());
  EXPECT_EQ(LeerApuntesAsiento(3, DateTime{2011, 3, 15, 10, 30, 0}, 1, path()).size(), 1u);
}

TEST_F(LeerApuntesAsientoTest, GivingUpTheOpenShowsItsMessage) {
  std::string missing = (database_->dir() / "NADA.MDB").string();
  EXPECT_THROW(LeerApuntesAsiento(1, DateTime{2011, 3, 15}, 5, missing), db::OpenGaveUp);
  EXPECT_EQ(boxes_, (std::vector<std::string>{"No es posible abrir la base de datos: " + missing}));
}

}  // namespace
}  // namespace kavelo
