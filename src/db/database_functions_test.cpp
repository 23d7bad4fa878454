// LeerRegistro, DoblarComillas, LeerConsulta and GrabarRegistro.
#include <gtest/gtest.h>

#include "db/open_retry.h"
#include "db/query_reading.h"
#include "db/record_lookup.h"
#include "db/test_database.h"
#include "platform/failure.h"
#include "platform/regional.h"
#include "platform/recording_window.h"
#include "platform/window.h"

namespace kavelo::db {
namespace {

using kavelo::testing::RecordingWindow;
using testing::TestDatabase;

const char* kSchema = R"sql(
CREATE TABLE F_DIA (CODDIA SHORT NOT NULL PRIMARY KEY, NOMDIA TEXT(30), ASIDIA LONG DEFAULT 0, FECDIA DATETIME);
INSERT INTO F_DIA VALUES (1, 'General', 10, '2011-03-05');
INSERT INTO F_DIA (CODDIA, NOMDIA, ASIDIA) VALUES (2, 'Ventas', NULL);
CREATE TABLE F_EMP (CODEMP TEXT(5) NOT NULL COLLATE NOCASE PRIMARY KEY, NOMEMP TEXT(40), FRMEMP TEXT(20));
INSERT INTO F_EMP VALUES ('0''1', 'Quote S.L.', '1101');
)sql";

class DatabaseFunctions : public ::testing::Test {
 protected:
  void SetUp() override {
    set_regional(RegionalSettings::spanish());
    set_main_window(std::make_unique<RecordingWindow>(&boxes_));
  }
  void TearDown() override {
    Engine::instance().shutdown();
    set_main_window(make_terminal_window());
  }

  TestDatabase file_{kSchema};
  std::vector<std::string> boxes_;
};

TEST(KeyedQuery, WritesEachConditionByTheValuesType) {
  struct Case {
    KeyList keys;
    const char* text;
  };
  for (const auto& c : std::vector<Case>{
           {{{"CODEMP", Value("X")}}, "SELECT * FROM  F_EMP WHERE CODEMP = 'X'"},
           {{{"CODEMP", Value("0'1")}}, "SELECT * FROM  F_EMP WHERE CODEMP = '0''1'"},
           {{{"FECAPU", Value(DateTime{2011, 3, 5})}}, "SELECT * FROM  F_EMP WHERE FECAPU = #03/05/2011#"},
           {{{"CODDIA", Value(std::int16_t{3})}, {"ASIAPU", Value(std::int32_t{-12})}},
            "SELECT * FROM  F_EMP WHERE CODDIA =3 AND ASIAPU =-12"},
           {{{"IMPAPU", Value(12.5)}}, "SELECT * FROM  F_EMP WHERE IMPAPU =12,5"},
           {{{"CODDIA", Value()}}, "SELECT * FROM  F_EMP WHERE CODDIA ="},
       }) {
    EXPECT_EQ(keyed_query("F_EMP", c.keys), c.text);
  }
}

TEST(DoblarComillasTest, DoublesEverySingleQuoteAndNothingElse) {
  EXPECT_EQ(DoblarComillas(Value("sin comillas")), "sin comillas");
  EXPECT_EQ(DoblarComillas(Value("'")), "''");
  EXPECT_EQ(DoblarComillas(Value("O'Brien's \"x\"")), "O''Brien''s \"x\"");
  EXPECT_EQ(DoblarComillas(Value(std::int32_t{12})), "12");
}

TEST_F(DatabaseFunctions, LeerRegistroReadsTheRowByItsKey) {
  Row company = LeerRegistro("F_EMP", file_.path(), {{"CODEMP", Value("0'1")}});
  ASSERT_EQ(company.size(), 3u);
  EXPECT_EQ(company.name(0), "CODEMP");
  EXPECT_EQ(company.at("frmemp"), Value("1101"));
  EXPECT_THROW(company.at("NADA"), Failure);

  Row journal = LeerRegistro("F_DIA", file_.path(), {{"CODDIA", Value(std::int16_t{2})}});
  EXPECT_TRUE(journal.at("ASIDIA").is_null());
  EXPECT_TRUE(LeerRegistro("F_DIA", file_.path(), {{"CODDIA", Value(std::int16_t{9})}}).empty());
  EXPECT_THROW(LeerRegistro("F_NADA", file_.path(), {{"CODDIA", Value(std::int16_t{9})}}), Failure);
  EXPECT_THROW(LeerRegistro("F_DIA", file_.path(), {{"CODDIA", Value()}}), Failure);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(DatabaseFunctions, GivingUpTheOpenShowsTheMessageAndEndsTheRun) {
  std::string missing = (file_.dir() / "NADA.MDB").string();
  try {
    LeerRegistro("F_EMP", missing, {{"CODEMP", Value("X")}});
    FAIL() << "the open should have been given up";
  } catch (const OpenGaveUp& e) {
    EXPECT_EQ(e.message(), "error en apertura de base de datos");
  }
  EXPECT_THROW(LeerConsulta("SELECT * FROM F_DIA", missing), OpenGaveUp);
  EXPECT_EQ(boxes_, (std::vector<std::string>{"error en apertura de base de datos",
                                              "Error en apertura de base de datos"}));
}

TEST_F(DatabaseFunctions, LeerConsultaGivesTheFirstRowOrNothing) {
  Row counter = LeerConsulta("SELECT ASIDIA FROM F_DIA WHERE CODDIA=1;", file_.path());
  EXPECT_EQ(counter.at("ASIDIA"), Value(std::int32_t{10}));
  EXPECT_TRUE(LeerConsulta("SELECT ASIDIA FROM F_DIA WHERE CODDIA=7;", file_.path()).empty());
  EXPECT_TRUE(LeerConsulta("SELECT MAX(ASIDIA) AS M, NOMDIA FROM F_DIA GROUP BY NOMDIA HAVING (NOMDIA='Nada');",
                           file_.path())
                  .empty());
  // A query that cannot run gives no columns, so the caller fails on reading one.
  EXPECT_THROW(LeerConsulta("SELECT NADA FROM F_DIA", file_.path()).at("NADA"), Failure);
}

TEST_F(DatabaseFunctions, GrabarRegistroChangesOnlyTheColumnsGiven) {
  Row values;
  values.add("ASIDIA", Value(std::int32_t{11}));
  GrabarRegistro("F_DIA", values, file_.path(), {{"CODDIA", Value(std::int16_t{1})}});
  Row journal = LeerRegistro("F_DIA", file_.path(), {{"CODDIA", Value(std::int16_t{1})}});
  EXPECT_EQ(journal.at("ASIDIA"), Value(std::int32_t{11}));
  EXPECT_EQ(journal.at("NOMDIA"), Value("General"));
  EXPECT_EQ(journal.at("FECDIA"), Value(DateTime{2011, 3, 5}));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(DatabaseFunctions, GrabarRegistroAddsAMissingRowWithDefaults) {
  Row values;
  values.add("CODDIA", Value(std::int16_t{5}));
  values.add("NOMDIA", Value("Compras"));
  GrabarRegistro("F_DIA", values, file_.path(), {{"CODDIA", Value(std::int16_t{5})}});
  Row journal = LeerRegistro("F_DIA", file_.path(), {{"CODDIA", Value(std::int16_t{5})}});
  EXPECT_EQ(journal.at("NOMDIA"), Value("Compras"));
  EXPECT_EQ(journal.at("ASIDIA"), Value(std::int32_t{0}));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(DatabaseFunctions, GrabarRegistroWarnsWhenAnItemFindsNoColumnAndStillStores) {
  struct Case {
    const char* what;
    std::vector<std::pair<const char*, Value>> items;
    bool warns;
  };
  for (const auto& c : std::vector<Case>{
           {"an item without a column", {{"ASIDIA", Value(std::int32_t{20})}, {"NADA", Value("x")}}, true},
           {"a value the column refuses", {{"ASIDIA", Value("muchos")}, {"NOMDIA", Value("Otro")}}, true},
           {"every item in its column", {{"ASIDIA", Value(std::int32_t{21})}}, false},
       }) {
    boxes_.clear();
    Row values;
    for (const auto& [name, value] : c.items) values.add(name, value);
    GrabarRegistro("F_DIA", values, file_.path(), {{"CODDIA", Value(std::int16_t{1})}});
    EXPECT_EQ(boxes_.size(), c.warns ? 1u : 0u) << c.what;
    if (c.warns) {
      EXPECT_EQ(boxes_.front(), "Hay errores en escribir registro nuevo");
    }
  }
  Row journal = LeerRegistro("F_DIA", file_.path(), {{"CODDIA", Value(std::int16_t{1})}});
  EXPECT_EQ(journal.at("ASIDIA"), Value(std::int32_t{21}));
  EXPECT_EQ(journal.at("NOMDIA"), Value("Otro"));
}

}  // namespace
}  // namespace kavelo::db
