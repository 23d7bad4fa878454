// NumerarAsiento: its three modes, the current entry number and its queries.
#include "import/journal/entry_numbering.h"

#include <gtest/gtest.h>

#include "db/record_lookup.h"
#include "import/journal/journal_test_database.h"
#include "platform/failure.h"

namespace kavelo {
namespace {

const DateTime kDay{2011, 3, 15};
const DateTime kOtherDay{2011, 3, 16};

TEST(NumberingQueries, AreWrittenAsTheApplicationWritesThem) {
  EXPECT_EQ(counter_query(3), "SELECT ASIDIA FROM F_DIA WHERE CODDIA=3;");
  EXPECT_EQ(highest_on_date_query(1, kDay),
            "SELECT MAX(F_APU.ASIAPU) AS MAX, DIAAPU, FECAPU FROM F_APU GROUP BY DIAAPU, FECAPU "
            "HAVING (DIAAPU=1) AND (FECAPU=#03/15/2011#);");
  EXPECT_EQ(highest_in_journal_query(-2),
            "SELECT Max(F_APU.ASIAPU) AS MAXI, F_APU.DIAAPU From F_APU GROUP BY F_APU.DIAAPU  "
            "HAVING (((F_APU.DIAAPU)=-2));");
}

db::Row settings(db::Value naaaut, db::Value namaut) {
  db::Row row;
  row.add("CODAUT", db::Value(std::int16_t{1}));
  row.add("NAAAUT", naaaut);
  row.add("NAMAUT", namaut);
  return row;
}

TEST(NumberingMode, IsChosenByNaaautAndNamaut) {
  const db::Value one{std::int16_t{1}}, zero{std::int16_t{0}}, two{std::int16_t{2}}, null;
  struct Case {
    db::Value naaaut, namaut;
    NumberingMode mode;
  };
  for (const auto& c : std::vector<Case>{
           {one, zero, NumberingMode::JournalCounter},
           {one, two, NumberingMode::JournalAndDate},
           {one, null, NumberingMode::JournalAndDate},
           {zero, zero, NumberingMode::Journal},
           {two, zero, NumberingMode::Journal},
           {null, zero, NumberingMode::Journal},
           {db::Value(1.0), db::Value(0.0), NumberingMode::JournalCounter},
       }) {
    EXPECT_EQ(numbering_mode(settings(c.naaaut, c.namaut)), c.mode)
        << db::to_text(c.naaaut) << "/" << db::to_text(c.namaut);
  }
  // No F_AUT row: the settings cannot be read.
  EXPECT_THROW(numbering_mode(db::Row()), Failure);
}

class EntryNumberingTest : public testing::JournalTest {
 protected:
  // F_AUT row 1 with these settings, journal 1 with counter 10, and `lines`.
  EntryNumbering numbering(const char* naaaut, const char* namaut, const std::string& lines = "") {
    make_database(std::string("INSERT INTO F_AUT VALUES (1, ") + naaaut + ", " + namaut +
                  ");\nINSERT INTO F_DIA (CODDIA, ASIDIA) VALUES (1, 10);\n" + lines);
    return EntryNumbering(db::LeerRegistro("F_AUT", path(), {{"CODAUT", db::Value(std::int16_t{1})}}), path());
  }
  std::string counter() { return outside("SELECT ASIDIA FROM F_DIA WHERE CODDIA = 1"); }
  static std::string line(int journal, const char* date, int entry) {
    return "INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU) VALUES (" + std::to_string(journal) + ", '" + date +
           "', " + std::to_string(entry) + ", 1);\n";
  }
};

TEST_F(EntryNumberingTest, FurtherLinesShareTheNumberAndMoveTheCounterOnce) {
  auto n = numbering("1", "0");
  EXPECT_EQ(n.NumerarAsiento(1, kDay, 0, 2), 0) << "no entry begun yet";
  EXPECT_EQ(n.NumerarAsiento(1, kDay, 0, 1), 10);
  EXPECT_EQ(n.NumerarAsiento(1, kDay, 0, 2), 10);
  EXPECT_EQ(n.NumerarAsiento(1, kOtherDay, 0, 3), 10) << "nothing checks that an entry's lines agree";
  EXPECT_EQ(n.NumerarAsiento(1, kDay, 7, 1), 7);
  EXPECT_EQ(n.NumerarAsiento(1, kDay, 25, 1), 25);
  EXPECT_EQ(n.NumerarAsiento(1, kDay, 0, 3), 10) << "a number of the file leaves the current one alone";
  EXPECT_EQ(counter(), "11");
}

TEST_F(EntryNumberingTest, ANumberBeyondTheRangeOverflows) {
  auto by_journal = numbering("0", "0", line(1, "2011-03-15", INT32_MAX));
  EXPECT_THROW(by_journal.NumerarAsiento(1, kDay, 0, 1), Failure);
  db::Engine::instance().shutdown();

  // The counter itself may stand at the last number, but not move past it.
  auto by_counter = numbering("1", "0", "UPDATE F_DIA SET ASIDIA = 2147483647;");
  try {
    by_counter.NumerarAsiento(1, kDay, 0, 1);
    FAIL() << "the counter cannot move past the range";
  } catch (const Failure& f) {
    EXPECT_EQ(f.number(), static_cast<int>(ErrorCode::Overflow));
  }
}

TEST_F(EntryNumberingTest, ACounterThatCannotBeReadFailsAndIsNotCreated) {
  for (const char* journal_row : {"", "UPDATE F_DIA SET ASIDIA = NULL;"}) {
    make_database(std::string("DELETE FROM F_DIA;\nINSERT INTO F_DIA (CODDIA) VALUES (5);\n") + journal_row);
    EntryNumbering n(settings(db::Value(std::int16_t{1}), db::Value(std::int16_t{0})), path());
    EXPECT_THROW(n.NumerarAsiento(1, kDay, 0, 1), Failure) << "journal 1 has no row";
    EXPECT_EQ(outside("SELECT count(*) FROM F_DIA"), "1");
    db::Engine::instance().shutdown();
  }
}

TEST_F(EntryNumberingTest, WithoutSettingsOnlyTheFirstNumberedEntryFails) {
  make_database();
  EntryNumbering n(db::Row(), path());
  EXPECT_EQ(n.NumerarAsiento(1, kDay, 12, 1), 12);
  EXPECT_EQ(n.NumerarAsiento(1, kDay, 0, 2), 0);
  EXPECT_THROW(n.NumerarAsiento(1, kDay, 0, 1), Failure);
}

}  // namespace
}  // namespace kavelo
