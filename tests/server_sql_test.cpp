// The scenarios' SQL in the server's words, and a company filled by hand read
// back alike from either backend: what lets one list of scenarios with one set
// of expectations run on SQLite and on the server.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "import_scenario.h"
#include "server_sql.h"

namespace kavelo::test {
namespace {

TEST(ServerSql, PutsTheScenariosSqlInTheServersWords) {
  struct Case {
    const char* sqlite;
    const char* server;
  };
  const Case cases[] = {
      {"SELECT \"347IVR\", CUEIVR FROM F_IVR", "SELECT \"347ivr\", CUEIVR FROM F_IVR"},
      // Literals are data: nothing in them changes.
      {"SELECT 1 FROM F_MAE WHERE CODMAE = 'rowid \"X\" TEXT(3)'",
       "SELECT 1 FROM F_MAE WHERE CODMAE = 'rowid \"X\" TEXT(3)'"},
      {"UPDATE F_MAE SET NOMMAE = 'O''BRIEN -- rowid' WHERE CODMAE = '1'",
       "UPDATE F_MAE SET NOMMAE = 'O''BRIEN -- rowid' WHERE CODMAE = '1'"},
      // Type names are names outside DDL.
      {"INSERT INTO F_MAE (CODMAE, NOMMAE) VALUES ('1', 'LONG TEXT(2)')",
       "INSERT INTO F_MAE (CODMAE, NOMMAE) VALUES ('1', 'LONG TEXT(2)')"},
      {"ALTER TABLE F_CLI ADD COLUMN EXTCLI TEXT(10) DEFAULT 'nuevo'",
       "ALTER TABLE F_CLI ADD COLUMN EXTCLI varchar(10) DEFAULT 'nuevo'"},
      {"alter table f_mae add column x currency", "alter table f_mae add column x numeric(19,4)"},
      {"CREATE TABLE T (A TEXT (5) NOT NULL COLLATE NOCASE, B LONGTEXT, C BYTE, D SHORT, E LONG, F DOUBLE, "
       "G CURRENCY, H DATETIME, I BIT, UNIQUE (A))",
       "CREATE TABLE T (A varchar (5) NOT NULL COLLATE kavelo_nocase, B text, C jet_byte, D smallint, E integer, "
       "F double precision, G numeric(19,4), H timestamp, I jet_bit, UNIQUE (A))"},
      {"CREATE UNIQUE INDEX unico ON F_CLI (CIFCLI)", "CREATE UNIQUE INDEX unico ON F_CLI (CIFCLI)"},
      // A number's exponent is no word.
      {"SELECT 1.5E2, 2e10", "SELECT 1.5E2, 2e10"},
      {"CREATE FUNCTION f() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RAISE EXCEPTION 'LONG rowid'; END $$",
       "CREATE FUNCTION f() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RAISE EXCEPTION 'LONG rowid'; END $$"},
  };
  for (const Case& c : cases) EXPECT_EQ(server_sql(c.sqlite), c.server);
  // Rows on the server have no rowid.
  EXPECT_THROW(server_sql("SELECT CUESAL FROM F_SAL ORDER BY rowid"), std::runtime_error);
}

TEST(ServerSql, SplitsAScriptAtTheSemicolonsThatEndStatements) {
  EXPECT_EQ(split_statements("INSERT INTO A VALUES ('a;b');\n  INSERT INTO \"B;\" VALUES (1) ;;\n"
                             "-- a comment; of two parts\nDELETE FROM C"),
            (std::vector<std::string>{"INSERT INTO A VALUES ('a;b')", "INSERT INTO \"B;\" VALUES (1)",
                                      "-- a comment; of two parts\nDELETE FROM C"}));
  EXPECT_EQ(split_statements("CREATE FUNCTION f() AS $body$ BEGIN x; y; END $body$; SELECT 'it''s;'"),
            (std::vector<std::string>{"CREATE FUNCTION f() AS $body$ BEGIN x; y; END $body$", "SELECT 'it''s;'"}));
  EXPECT_EQ(split_statements(" ;\n; "), std::vector<std::string>{});
}

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

// A new case gets a new company: nothing of the last one is left.
TEST_F(CompanyRows, StartAgainGivesAFreshCompany) {
  database = make_company(data, "EMP", "01", "INSERT INTO F_DIA (CODDIA, ASIDIA) VALUES (1, 10);");
  const std::string copy = tmp / "COPIA.MDB";
  copy_company(database, copy);
  start_again();
  database = make_company(data, "EMP", "01", "INSERT INTO F_DIA (CODDIA, ASIDIA) VALUES (2, 20);");
  EXPECT_EQ(query_rows(database, "SELECT CODDIA, ASIDIA FROM F_DIA"),
            (std::vector<QueriedRow>{{{"CODDIA", "2"}, {"ASIDIA", "20"}}}));
  EXPECT_EQ(query_rows(copy, "SELECT CODDIA, ASIDIA FROM F_DIA"),
            (std::vector<QueriedRow>{{{"CODDIA", "1"}, {"ASIDIA", "10"}}}));
}

}  // namespace
}  // namespace kavelo::test
