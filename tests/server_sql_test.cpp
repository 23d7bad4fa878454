// A company filled by hand read back alike from either backend: what lets one
// list of scenarios with one set of expectations run on SQLite and on the
// server.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "import_scenario.h"

namespace kavelo::test {
namespace {

// The rows as the scenarios compare them, on whichever backend runs.
class CompanyRows : public ImportScenario {};

TEST_F(CompanyRows, ReadBackAsSqliteQuotesThem) {
  database = make_company(data, "EMP", "01", R"sql(
CREATE TABLE T (N SHORT, A TEXT(20) NOT NULL COLLATE NOCASE, B LONGTEXT, Y BYTE, L LONG, D DOUBLE, C CURRENCY,
  F DATETIME, K BIT);
INSERT INTO T VALUES (1, 'Después', 'O''BRIEN; "q"', 200, -70000, 12, 17, '2011-03-15', -1);
INSERT INTO T VALUES (2, 'b', NULL, 0, 0, 2.5, 1180.5, '2011-03-15 10:30:00', 0);
INSERT INTO T (N, A, D, C) VALUES (3, 'c', -0.25, -12.3456);
ALTER TABLE F_IVR ADD COLUMN EXTIVR TEXT(10) DEFAULT 'nuevo';
INSERT INTO F_IVR (CODIVR, "347IVR", RFR3IVR) VALUES (4, 20, 65);
)sql");
  const std::vector<QueriedRow> expected = {
      {{"N", "1"}, {"A", "'Después'"}, {"B", "'O'BRIEN; \"q\"'"}, {"Y", "200"}, {"L", "-70000"}, {"D", "12.0"},
       {"C", "17"}, {"F", "'2011-03-15'"}, {"K", "-1"}},
      {{"N", "2"}, {"A", "'b'"}, {"B", "NULL"}, {"Y", "0"}, {"L", "0"}, {"D", "2.5"}, {"C", "1180.5"},
       {"F", "'2011-03-15 10:30:00'"}, {"K", "0"}},
      {{"N", "3"}, {"A", "'c'"}, {"B", "NULL"}, {"Y", "NULL"}, {"L", "NULL"}, {"D", "-0.25"}, {"C", "-12.3456"},
       {"F", "NULL"}, {"K", "NULL"}},
  };
  EXPECT_EQ(query_rows(database, "SELECT N, A, B, Y, L, D, C, F, K FROM T ORDER BY N"), expected);
  // A key compares without regard to the case of its ASCII letters.
  EXPECT_EQ(query_rows(database, "SELECT N FROM T WHERE A = 'DESPUéS' OR A = 'B' ORDER BY N"),
            (std::vector<QueriedRow>{{{"N", "1"}}, {{"N", "2"}}}));
  EXPECT_EQ(query_rows(database, "SELECT count(*) AS ROWS_, \"347IVR\", RFR3IVR, EXTIVR FROM F_IVR GROUP BY "
                                 "\"347IVR\", RFR3IVR, EXTIVR"),
            (std::vector<QueriedRow>{{{"ROWS_", "1"}, {"347IVR", "20.0"}, {"RFR3IVR", "65"}, {"EXTIVR", "'nuevo'"}}}));
}

}  // namespace
}  // namespace kavelo::test
