#include "db/jet_sql.h"

#include <gtest/gtest.h>

#include "platform/failure.h"

namespace kavelo::db {
namespace {

TEST(JetSql, TranslatesTheQueriesOfTheImporters) {
  struct Case {
    const char* jet;
    const char* sqlite;
    std::vector<Value> params;
  };
  for (const auto& c : std::vector<Case>{
           {"SELECT * FROM F_MAE;", R"(SELECT * FROM "F_MAE")", {}},
           {"SELECT * FROM  F_EMP WHERE CODEMP = 'O''B'", R"(SELECT * FROM "F_EMP" WHERE "CODEMP" = ?)", {Value("O'B")}},
           {"SELECT ASIDIA FROM F_DIA WHERE CODDIA=3;", R"(SELECT "ASIDIA" FROM "F_DIA" WHERE "CODDIA" = ?)",
            {Value(std::int32_t{3})}},
           {"SELECT MAX(F_APU.ASIAPU) AS MAX, DIAAPU FROM F_APU GROUP BY DIAAPU HAVING (FECAPU=#03/05/2011#);",
            R"(SELECT MAX ( "F_APU"."ASIAPU" ) AS "MAX" , "DIAAPU" FROM "F_APU" GROUP BY "DIAAPU" HAVING ( "FECAPU" = ? ))",
            {Value(DateTime{2011, 3, 5})}},
           // The highest value of one pinned group is read from the top of an index.
           {"SELECT MAX(F_APU.ASIAPU) AS MAX, DIAAPU, FECAPU FROM F_APU GROUP BY DIAAPU, FECAPU "
            "HAVING (DIAAPU=3) AND (FECAPU=#03/05/2011#);",
            R"(SELECT "F_APU"."ASIAPU" AS "MAX", "DIAAPU", "FECAPU" FROM "F_APU" WHERE ("DIAAPU" = ?) AND ("FECAPU" = ?) ORDER BY "F_APU"."ASIAPU" DESC LIMIT 1)",
            {Value(std::int32_t{3}), Value(DateTime{2011, 3, 5})}},
           {"SELECT Max(F_APU.ASIAPU) AS MAXI, F_APU.DIAAPU From F_APU GROUP BY F_APU.DIAAPU  HAVING (((F_APU.DIAAPU)=7));",
            R"(SELECT "F_APU"."ASIAPU" AS "MAXI", "F_APU"."DIAAPU" FROM "F_APU" WHERE (( "F_APU"."DIAAPU" ) = ?) ORDER BY "F_APU"."ASIAPU" DESC LIMIT 1)",
            {Value(std::int32_t{7})}},
           // A group that is not pinned whole stays a grouping.
           {"SELECT MAX(ASIAPU) AS M, DIAAPU, FECAPU FROM F_APU GROUP BY DIAAPU, FECAPU HAVING (DIAAPU=3)",
            R"(SELECT MAX ( "ASIAPU" ) AS "M" , "DIAAPU" , "FECAPU" FROM "F_APU" GROUP BY "DIAAPU" , "FECAPU" HAVING ( "DIAAPU" = ? ))",
            {Value(std::int32_t{3})}},
           {"SELECT * FROM F_APU WHERE [D-HAPU]=\"D\" ORDER BY ORDAPU ASC",
            R"(SELECT * FROM "F_APU" WHERE "D-HAPU" = ? ORDER BY "ORDAPU" ASC)", {Value("D")}},
           {"SELECT * FROM F_IVS WHERE 347IVS = -1.5E2 OR NOT ACT = True",
            R"(SELECT * FROM "F_IVS" WHERE "347IVS" = ? OR NOT "ACT" = ?)", {Value(-150.0), Value(true)}},
           // A minus that follows a value subtracts.
           {"SELECT A - 1, (B) -2 FROM T WHERE C = -(3) AND D = -7",
            R"(SELECT "A" - ? , ( "B" ) - ? FROM "T" WHERE "C" = - ( ? ) AND "D" = ?)",
            {Value(std::int32_t{1}), Value(std::int32_t{2}), Value(std::int32_t{3}), Value(std::int32_t{-7})}},
           {"SELECT A & 'x' FROM T WHERE D <> #12/31/1999 23:59:58#", R"(SELECT "A" || ? FROM "T" WHERE "D" <> ?)",
            {Value("x"), Value(DateTime{1999, 12, 31, 23, 59, 58})}},
       }) {
    auto t = translate_select(c.jet);
    EXPECT_EQ(t.query.sql, c.sqlite) << c.jet;
    EXPECT_EQ(t.query.params, c.params) << c.jet;
  }
}

// A text translated again gives the same translation, its own copy of it;
// a refused text is refused every time.
TEST(JetSql, ATextTranslatedAgain) {
  const char* text = "SELECT * FROM F_SAL WHERE DIASAL=1 AND (CUESAL='4' OR CUESAL='43');";
  TranslatedSelect first = translate_select(text);
  first.query.params.clear();
  first.query.sql += "changed";
  TranslatedSelect second = translate_select(text);
  EXPECT_EQ(second.query.params.size(), 3u);
  EXPECT_EQ(second.query.sql.find("changed"), std::string::npos);
  EXPECT_EQ(translate_select(text).query.sql, second.query.sql);
  for (int i = 0; i < 2; ++i) EXPECT_THROW(translate_select("SELECT * FROM F_SAL WHERE (CUESAL='4'"), Failure);
  auto equalities = equalities_of("CUESAL='4' AND DIASAL=1");
  ASSERT_TRUE(equalities);
  equalities->clear();
  EXPECT_EQ(equalities_of("CUESAL='4' AND DIASAL=1")->size(), 2u);
}

// Texts that differ in their literals only share a translation, and each
// binds its own literals, of whatever kind, in their own places: in the
// query, in the set's condition, in a grouping read from an index, and in a
// condition alone. A text of another shape is translated anew.
TEST(JetSql, TextsOfOneShapeBindTheirOwnLiterals) {
  struct Case {
    std::string jet;
    std::vector<Value> params;
    std::vector<Value> where;
  };
  const auto line = [](const char* journal, const char* date, const char* entry) {
    return std::string("SELECT * FROM F_APU WHERE  (DIAAPU=") + journal + ") AND  FECAPU=" + date +
           " AND ASIAPU=" + entry + " ORDER BY DIAAPU, FECAPU, ASIAPU, ORDAPU ASC;";
  };
  const auto highest = [](const char* journal, const char* date) {
    return std::string("SELECT MAX(ASIAPU) AS M, DIAAPU, FECAPU FROM F_APU GROUP BY DIAAPU, FECAPU HAVING (FECAPU=") +
           date + ") AND (DIAAPU=" + journal + ")";
  };
  const Value one{std::int32_t{1}}, two{std::int32_t{2}}, minus{std::int32_t{-2}};
  const Value march{DateTime{2011, 3, 5}}, june{DateTime{2011, 6, 30}};
  for (const auto& c : std::vector<Case>{
           {line("1", "#03/05/2011#", "1"), {one, march, one}, {one, march, one}},
           {line("2", "#06/30/2011#", "1"), {two, june, one}, {two, june, one}},
           {line("-2", "'x'", "2.5"), {minus, Value("x"), Value(2.5)}, {minus, Value("x"), Value(2.5)}},
           {line("1", "#03/05/2011#", "1"), {one, march, one}, {one, march, one}},
           {highest("1", "#03/05/2011#"), {march, one}, {}},
           {highest("2", "#06/30/2011#"), {june, two}, {}},
           {"SELECT A + 1 FROM T WHERE B = True", {one, Value(true)}, {}},
           {"SELECT A + 2 FROM T WHERE B = False", {two, Value(false)}, {}},
       }) {
    auto t = translate_select(c.jet);
    EXPECT_EQ(t.query.params, c.params) << c.jet;
    EXPECT_EQ(t.where.params, c.where) << c.jet;
    auto fresh = translate_select_afresh(c.jet);
    EXPECT_EQ(t.query.sql, fresh.query.sql) << c.jet;
    EXPECT_EQ(t.where.sql, fresh.where.sql) << c.jet;
  }
  EXPECT_EQ(translate_select(highest("2", "#06/30/2011#")).query.sql,
            R"(SELECT "ASIAPU" AS "M", "DIAAPU", "FECAPU" FROM "F_APU" WHERE ("FECAPU" = ?) AND ("DIAAPU" = ?) ORDER BY "ASIAPU" DESC LIMIT 1)");
  // The same words in another shape: a minus that subtracts, a name in brackets.
  EXPECT_EQ(translate_select("SELECT A - 1 FROM T").query.sql, R"(SELECT "A" - ? FROM "T")");
  EXPECT_EQ(translate_select("SELECT A = -1 FROM T").query.sql, R"(SELECT "A" = ? FROM "T")");
  EXPECT_EQ(translate_select("SELECT A = -1 FROM T").query.params, std::vector<Value>{Value(std::int32_t{-1})});
  EXPECT_TRUE(translate_select("SELECT * FROM [SELECT]").table);
  EXPECT_FALSE(translate_select("SELECT * FROM SELECT").table);

  for (int i = 0; i < 3; ++i) {
    std::string code = "C" + std::to_string(i);
    auto condition = translate_condition("CODCLI='" + code + "' AND N=" + std::to_string(i));
    EXPECT_EQ(condition.sql, R"("CODCLI" = ? AND "N" = ?)");
    EXPECT_EQ(condition.params, (std::vector<Value>{Value(code), Value(std::int32_t{i})}));
    EXPECT_THROW(translate_condition("CODCLI='" + code + "', N=1"), Failure);
  }
}

TEST(JetSql, RecognisesSetsOverWholeRowsOfOneTable) {
  auto whole = translate_select("SELECT * FROM F_SAL WHERE DIASAL=1 AND (CUESAL='43' OR CUESAL='4' ) ORDER BY CUESAL;");
  ASSERT_TRUE(whole.table);
  EXPECT_EQ(*whole.table, "F_SAL");
  EXPECT_EQ(whole.where.sql, R"("DIASAL" = ? AND ( "CUESAL" = ? OR "CUESAL" = ? ))");
  EXPECT_EQ(whole.where.params.size(), 3u);
  EXPECT_EQ(whole.order_by, R"("CUESAL")");
  EXPECT_FALSE(translate_select("SELECT CODMAE FROM F_MAE").table);
  EXPECT_FALSE(translate_select("SELECT * FROM F_MAE GROUP BY CODMAE").table);
}

TEST(JetSql, RefusesWhatIsNotInTheSubset) {
  for (const char* jet : {"", "DELETE FROM F_MAE", "SELECT * FROM F_MAE; DROP TABLE F_MAE", "SELECT * F_MAE",
                          "SELECT * FROM T WHERE A = 'open", "SELECT * FROM T WHERE D = #13/45/2011#",
                          "SELECT * FROM T WHERE (A = 1", "SELECT * FROM T WHERE A = 1)", "SELECT * FROM T WHERE A ? 1",
                          "SELECT * FROM T ORDER BY A WHERE B = 1", "SELECT LOAD_EXTENSION('x') FROM T",
                          "SELECT * FROM T WHERE A = 12,5", "SELECT MAX(A) AS M, B FROM T GROUP BY B HAVING B = 1,5"}) {
    EXPECT_THROW(translate_select(jet), Failure)
        << jet;
  }
  EXPECT_THROW(translate_condition("CODMAE='O'BRIEN'"), Failure);
  EXPECT_THROW(translate_condition("UNIART = 12,5"), Failure);
  EXPECT_EQ(translate_condition("CUEAPU IN ('1', '2')").params.size(), 2u);
  EXPECT_EQ(translate_condition("CODMAE='100'").sql, R"("CODMAE" = ?)");
}

// The server keeps names in lower case and sorts Null last going up: the same
// Jet text asks the same of it.
// Columns with their values make the condition their text would: the same
// SQL (so the same prepared statement) and the same parameters, in each store.
TEST(JetSql, ColumnsWithTheirValuesMakeTheConditionOfTheirText) {
  struct Case {
    const char* jet;
    std::vector<Equality> terms;
  };
  for (Dialect dialect : {Dialect::Sqlite, Dialect::Postgres}) {
    for (const auto& c : std::vector<Case>{
             {"CODCLI='O''BRIEN'", {{"CODCLI", Value("O'BRIEN")}}},
             {"DIAAPU=1 AND FECAPU=#03/15/2011# AND ASIAPU=7 AND ORDAPU=2",
              {{"DIAAPU", Value(std::int32_t{1})},
               {"FECAPU", Value(DateTime{2011, 3, 15})},
               {"ASIAPU", Value(std::int32_t{7})},
               {"ORDAPU", Value(std::int32_t{2})}}},
             {"[D-HAPU]=-3", {{"D-HAPU", Value(std::int32_t{-3})}}},
         }) {
      auto text = translate_condition(c.jet, dialect);
      auto terms = condition_of(c.terms, dialect);
      EXPECT_EQ(terms.sql, text.sql) << c.jet;
      EXPECT_EQ(terms.params, text.params) << c.jet;
      ASSERT_TRUE(equalities_of(c.jet)) << c.jet;
      EXPECT_EQ(condition_of(*equalities_of(c.jet), dialect).params, text.params) << c.jet;
    }
  }
  EXPECT_THROW(condition_of({}), Failure);
}

TEST(JetSql, TheServersDialect) {
  struct Case {
    const char* jet;
    const char* server;
  };
  for (const auto& c : std::vector<Case>{
           {"SELECT * FROM F_APU WHERE [D-HAPU]=\"D\" ORDER BY ORDAPU, CueApu DESC",
            R"(SELECT * FROM "f_apu" WHERE "d-hapu" = ? ORDER BY "ordapu" NULLS FIRST, "cueapu" DESC NULLS LAST)"},
           {"SELECT MAX(F_APU.ASIAPU) AS MAX, DIAAPU FROM F_APU GROUP BY DIAAPU HAVING (DIAAPU=3);",
            R"(SELECT "f_apu"."asiapu" AS "max", "diaapu" FROM "f_apu" WHERE ("diaapu" = ?) ORDER BY "f_apu"."asiapu" DESC NULLS LAST LIMIT 1)"},
           {"SELECT 347IVR FROM F_IVR ORDER BY MAX(A, B), C", R"(SELECT "347ivr" FROM "f_ivr" ORDER BY MAX ( "a" , "b" ) NULLS FIRST, "c" NULLS FIRST)"},
       }) {
    EXPECT_EQ(translate_select(c.jet, Dialect::Postgres).query.sql, c.server) << c.jet;
  }
  auto whole = translate_select("SELECT * FROM F_SAL WHERE CUESAL='4' ORDER BY DIASAL DESC", Dialect::Postgres);
  EXPECT_EQ(whole.where.sql, R"("cuesal" = ?)");
  EXPECT_EQ(whole.order_by, R"("diasal" DESC NULLS LAST)");
  EXPECT_EQ(translate_condition("CODMAE='100'", Dialect::Postgres).sql, R"("codmae" = ?)");
  // Each store's translation is kept apart.
  EXPECT_EQ(translate_select("SELECT * FROM F_SAL WHERE CUESAL='4' ORDER BY DIASAL DESC").order_by, R"("DIASAL" DESC)");
  EXPECT_EQ(row_id_column(Dialect::Sqlite), "rowid");
  EXPECT_EQ(row_id_column(Dialect::Postgres), R"("kavelo_row")");
}

}  // namespace
}  // namespace kavelo::db
