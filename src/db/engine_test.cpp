#include "db/engine.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "db/statement_trace.h"
#include "db/test_database.h"
#include "platform/failure.h"
#include "platform/regional.h"

namespace kavelo::db {
namespace {

using testing::StatementTrace;
using testing::TestDatabase;

#ifdef KAVELO_TEST_SERVER
// Without the test server every test of this program skips, saying why.
class ServerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { KAVELO_REQUIRE_POSTGRES(); }
};
const auto* const kServerEnvironment = ::testing::AddGlobalTestEnvironment(new ServerEnvironment);
#endif

const char* kSchema = R"sql(
CREATE TABLE F_ART (
  CODART TEXT(6) NOT NULL COLLATE NOCASE PRIMARY KEY,
  DESART TEXT(20),
  REFART TEXT(10) COLLATE NOCASE UNIQUE,
  UNIART LONG DEFAULT 0,
  PREART CURRENCY DEFAULT 0,
  PESART DOUBLE DEFAULT 0,
  FECART DATETIME,
  ACTART BIT DEFAULT 0,
  NIVART BYTE DEFAULT 0,
  OBSART LONGTEXT,
  CATART TEXT(2) NOT NULL DEFAULT 'GE',
  STKART SHORT DEFAULT 0 CHECK (STKART >= 0)
);
INSERT INTO F_ART (CODART, DESART, UNIART, PREART) VALUES ('A1', 'Tornillo', 10, 1.5);
INSERT INTO F_ART (CODART, DESART, UNIART, PREART, FECART) VALUES ('B2', 'Tuerca', 20, 0.25, '2011-03-05');
)sql";

int number_of(const std::function<void()>& action) {
  try {
    action();
  } catch (const Failure& f) {
    return f.number();
  }
  return 0;
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override { set_regional(RegionalSettings::spanish()); }
  void TearDown() override { Engine::instance().shutdown(); }

  Recordset articles() { return db_.open_recordset("SELECT * FROM F_ART;", RecordsetType::Dynaset); }

  TestDatabase file_{kSchema};
  Database db_ = Engine::instance().open_database(file_.path());
};

TEST_F(EngineTest, AddNewLeavesUnwrittenColumnsAtTheirDefaults) {
  auto rs = articles();
  rs.add_new();
  rs.set("codart", Value("C3"));
  rs.set("DESART", Value("Arandela"));
  EXPECT_EQ(rs.get("CATART"), Value("GE"));  // the default shows before the store
  rs.update();
  rs.find_first("CODART='C3'");
  ASSERT_FALSE(rs.no_match());
  EXPECT_EQ(rs.get("UNIART"), Value(std::int32_t{0}));
  EXPECT_EQ(rs.get("PREART"), Value(Currency{0}));
  EXPECT_TRUE(rs.get("FECART").is_null());
  EXPECT_EQ(rs.get("ACTART"), Value(false));
  EXPECT_EQ(rs.get("CATART"), Value("GE"));
}

TEST_F(EngineTest, EditChangesOnlyTheColumnsWritten) {
  auto rs = articles();
  rs.find_first("CODART='b2'");  // text keys ignore case
  ASSERT_FALSE(rs.no_match());
  rs.edit();
  rs.set("UNIART", Value("35"));
  rs.update();
  rs.find_first("CODART='B2'");
  EXPECT_EQ(rs.get("UNIART"), Value(std::int32_t{35}));
  EXPECT_EQ(rs.get("DESART"), Value("Tuerca"));
  EXPECT_EQ(rs.get("PREART"), Value(Currency{2500}));
  EXPECT_EQ(rs.get("FECART"), Value(DateTime{2011, 3, 5}));
}

// A row given back the values it holds is not written; one value that differs
// writes the row.
TEST(EngineEdit, WritesNothingWhenNothingChanges) {
  KAVELO_SQLITE_ONLY("counts the writes with an SQLite trigger");
  set_regional(RegionalSettings::spanish());
  TestDatabase file(std::string(kSchema) +
                    "CREATE TABLE WRITES (N LONG);\n"
                    "CREATE TRIGGER COUNTED AFTER UPDATE ON F_ART BEGIN INSERT INTO WRITES VALUES (1); END;\n");
  {
    Database db = Engine::instance().open_database(file.path());
    auto rs = db.open_recordset("SELECT * FROM F_ART;", RecordsetType::Dynaset);
    struct Case {
      const char* column;
      Value value;
      const char* writes;  // after this edit
    };
    for (const Case& c : std::vector<Case>{
             {"DESART", Value("Tuerca"), "0"},
             {"PREART", Value("0,25"), "0"},  // the same amount, as text
             {"FECART", Value("05/03/2011"), "0"},
             {"UNIART", Value(std::int32_t{20}), "0"},
             {"DESART", Value("tuerca"), "1"},  // case is a change in a text that is no key
             {"OBSART", Value(), "1"},          // Null stays Null: nothing written
         }) {
      rs.find_first("CODART='B2'");
      rs.edit();
      rs.set(c.column, c.value);
      rs.update();
      Engine::instance().commit();
      EXPECT_EQ(file.outside_query("SELECT count(*) FROM WRITES"), c.writes) << c.column;
    }
  }
  Engine::instance().shutdown();
}

// Amounts stored as whole numbers (as other programs store 0) read as
// amounts; one beyond the type's range reads as the plain number it is.
TEST(EngineValues, WholeNumbersInACurrencyColumn) {
  KAVELO_SQLITE_ONLY("SQLite keeps whatever number another program stores; the server's numeric(19,4) refuses it");
  set_regional(RegionalSettings::spanish());
  TestDatabase file(std::string(kSchema) +
                    "UPDATE F_ART SET PREART = 7 WHERE CODART = 'A1';\n"
                    "UPDATE F_ART SET PREART = -922337203685477 WHERE CODART = 'B2';\n"
                    "INSERT INTO F_ART (CODART, PREART) VALUES ('C3', 9223372036854775807);\n");
  {
    Database db = Engine::instance().open_database(file.path());
    auto rs = db.open_recordset("SELECT CODART, PREART FROM F_ART ORDER BY CODART;");
    EXPECT_EQ(rs.get("PREART"), Value(Currency{70000}));
    rs.move_next();
    EXPECT_EQ(rs.get("PREART"), Value(Currency{-922337203685477 * Currency::kScale}));
    rs.move_next();
    EXPECT_EQ(rs.get("PREART").get_if<Currency>(), nullptr);
  }
  Engine::instance().shutdown();
}

TEST_F(EngineTest, ValuesAreConvertedByColumnType) {
  auto rs = articles();
  rs.add_new();
  rs.set("CODART", Value("T1"));
  rs.set("PREART", Value("1.234,56789"));  // regional amount, rounded to four decimals
  rs.set("PESART", Value("0,5"));
  rs.set("FECART", Value("05/03/2011"));
  rs.set("ACTART", Value(std::int32_t{1}));
  rs.set("NIVART", Value(12.5));  // half to even
  rs.set("DESART", Value(std::int32_t{42}));
  rs.update();
  rs.find_first("CODART='T1'");
  EXPECT_EQ(rs.get("PREART"), Value(Currency{12345679}));
  EXPECT_EQ(rs.get("PESART"), Value(0.5));
  EXPECT_EQ(rs.get("FECART"), Value(DateTime{2011, 3, 5}));
  EXPECT_EQ(rs.get("ACTART"), Value(true));
  EXPECT_EQ(rs.get("NIVART"), Value(std::uint8_t{12}));
  EXPECT_EQ(rs.get("DESART"), Value("42"));
  Engine::instance().commit();
  // SQLite keeps a date without its time as text; the server keeps a timestamp.
  EXPECT_EQ(file_.outside_query("SELECT FECART FROM F_ART WHERE CODART='T1'"),
            testing::on_server() ? "2011-03-05 00:00:00" : "2011-03-05");
  EXPECT_EQ(file_.outside_query("SELECT ACTART FROM F_ART WHERE CODART='T1'"), "-1");
}

TEST_F(EngineTest, EachFailureHasItsNumber) {
  struct Case {
    const char* what;
    std::function<void(Recordset&)> action;
    ErrorCode expected;
  };
  auto add = [](Recordset& rs, const char* code) {
    rs.add_new();
    rs.set("CODART", Value(code));
  };
  std::vector<Case> cases = {
      {"text too long", [](Recordset& rs) { rs.add_new(), rs.set("DESART", Value(std::string(21, 'x'))); },
       ErrorCode::TextTooLong},
      {"text fits in characters, not bytes",
       [&](Recordset& rs) { add(rs, "Ñ1"), rs.set("DESART", Value("ññññññññññññññññññññ")), rs.update(); },
       ErrorCode{}},
      {"text too long in characters",
       [](Recordset& rs) { rs.add_new(), rs.set("DESART", Value("ñññññññññññññññññññññ")); }, ErrorCode::TextTooLong},
      {"text of as many characters as the column takes",
       [&](Recordset& rs) { add(rs, "F1"), rs.set("DESART", Value(std::string(20, 'x'))), rs.update(); }, ErrorCode{}},
      {"not a number", [](Recordset& rs) { rs.add_new(), rs.set("UNIART", Value("abc")); },
       ErrorCode::DataTypeConversion},
      {"not a date", [](Recordset& rs) { rs.add_new(), rs.set("FECART", Value("31/02/2011")); },
       ErrorCode::DataTypeConversion},
      {"out of range", [](Recordset& rs) { rs.add_new(), rs.set("NIVART", Value(std::int32_t{256})); },
       ErrorCode::Overflow},
      {"required left Null", [&](Recordset& rs) { add(rs, "R1"), rs.set("CATART", Value()), rs.update(); },
       ErrorCode::RequiredValue},
      {"duplicate key", [&](Recordset& rs) { add(rs, "a1"), rs.update(); }, ErrorCode::DuplicateValue},
      {"duplicate in another unique index",
       [&](Recordset& rs) {
         add(rs, "U1"), rs.set("REFART", Value("R")), rs.update();
         add(rs, "U2"), rs.set("REFART", Value("r")), rs.update();
       },
       ErrorCode::DuplicateValue},
      {"check rule", [&](Recordset& rs) { add(rs, "K1"), rs.set("STKART", Value(std::int16_t{-1})), rs.update(); },
       ErrorCode::ValidationRule},
      {"no such column", [](Recordset& rs) { rs.add_new(), rs.set("NOPE", Value("x")); }, ErrorCode::ItemNotFound},
      {"store without AddNew or Edit", [](Recordset& rs) { rs.update(); }, ErrorCode::UpdateWithoutEdit},
  };
  for (const auto& c : cases) {
    auto rs = articles();
    EXPECT_EQ(number_of([&] { c.action(rs); }), static_cast<int>(c.expected)) << c.what;
  }
}

TEST_F(EngineTest, RefusedQueriesHaveTheirNumbers) {
  struct Case {
    const char* sql;
    ErrorCode expected;
  };
  for (const auto& c : std::vector<Case>{
           {"SELECT * FROM F_NADA;", ErrorCode::TableNotFound},
           {"SELECT NADA FROM F_ART WHERE CODART='A1';", ErrorCode::TooFewParameters},
           {"SELECT * FROM F_ART WHERE CODART = 'A1'; DROP TABLE F_ART", ErrorCode::QuerySyntax},
           {"SELECT * FROM F_ART WHERE CODART =", ErrorCode::QuerySyntax},
           {"SELECT * FROM F_ART WHERE UNIART =12,5", ErrorCode::QuerySyntax},
           {"SELECT * FROM  F_ART WHERE CODART = 'O''BRIEN'", ErrorCode{}},
       }) {
    try {
      db_.open_recordset(c.sql);
      EXPECT_EQ(0, static_cast<int>(c.expected)) << c.sql;
    } catch (const Failure& f) {
      EXPECT_EQ(f.number(), static_cast<int>(c.expected)) << c.sql << ": " << f.description();
    }
  }
  auto rs = articles();
  EXPECT_EQ(number_of([&] { rs.find_first("CODART='O'BRIEN'"); }), static_cast<int>(ErrorCode::QuerySyntax));
}

// Checking a set's table fails exactly as opening the set does, and only then.
TEST_F(EngineTest, CheckingASetsTableFailsAsOpeningTheSet) {
  auto description = [&](const std::function<void()>& action) {
    try {
      action();
    } catch (const Failure& f) {
      return std::to_string(f.number()) + " " + f.description();
    }
    return std::string("no failure");
  };
  for (const char* sql : {"SELECT * FROM F_NADA;", "SELECT * FROM f_nada WHERE CODART = 'A1'", "SELECT * FROM F_ART;",
                          "SELECT * FROM f_art ORDER BY CODART", "SELECT COUNT(*) AS N FROM F_ART"}) {
    EXPECT_EQ(description([&] { db_.check_recordset(sql); }), description([&] { db_.open_recordset(sql); })) << sql;
  }
  EXPECT_NE(description([&] { db_.check_recordset("SELECT * FROM F_NADA;"); }), "no failure");
}

TEST_F(EngineTest, ASecondOpenSeesRowsStoredThroughTheFirstBeforeAnyCommit) {
  auto rs = articles();
  rs.add_new();
  rs.set("CODART", Value("N1"));
  rs.update();
  Database second = Engine::instance().open_database(file_.path());
  auto other = second.open_recordset("SELECT * FROM F_ART WHERE CODART='N1'");
  EXPECT_FALSE(other.eof());
  // Another program sees it only once the engine commits.
  EXPECT_EQ(file_.outside_query("SELECT count(*) FROM F_ART WHERE CODART='N1'"), "0");
  Engine::instance().commit();
  EXPECT_EQ(file_.outside_query("SELECT count(*) FROM F_ART WHERE CODART='N1'"), "1");
}

TEST_F(EngineTest, ARecordUnitIsUndoneAsAWhole) {
  {
    auto unit = Engine::instance().begin_record(file_.path());
    auto rs = articles();
    rs.add_new();
    rs.set("CODART", Value("X1"));
    rs.update();
    rs.find_first("CODART='A1'");
    rs.edit();
    rs.set("UNIART", Value(std::int32_t{99}));
    rs.update();
  }  // ends without commit
  {
    auto unit = Engine::instance().begin_record(file_.path());
    auto rs = articles();
    rs.add_new();
    rs.set("CODART", Value("X2"));
    rs.update();
    unit.commit();
  }
  Engine::instance().commit();
  EXPECT_EQ(file_.outside_query("SELECT count(*) FROM F_ART WHERE CODART = 'X1'"), "0");
  EXPECT_EQ(file_.outside_query("SELECT count(*) FROM F_ART WHERE CODART = 'X2'"), "1");
  EXPECT_EQ(file_.outside_query("SELECT UNIART FROM F_ART WHERE CODART='A1'"), "10");
}

// Writes kept aside by a caller: an article added at each flush, or a refusal.
struct ArticleAtFlush : DeferredWrites {
  explicit ArticleAtFlush(Database& database) : db(database) {}
  void flush() override {
    events.push_back("flush");
    if (refuse) throw failure(ErrorCode::DiskFull);
    auto rs = db.open_recordset("SELECT * FROM F_ART;", RecordsetType::Dynaset);
    rs.add_new();
    rs.set("CODART", Value(fmt::format("D{}", ++added)));
    rs.update();
  }
  bool unit_ended(bool kept) override {
    events.push_back(kept ? "kept" : "undone");
    return grown;
  }
  void discard() override { events.push_back("discard"); }

  Database& db;
  std::vector<std::string> events;
  bool refuse = false;
  bool grown = false;  // asks to be flushed at the end of each unit
  int added = 0;
};

TEST_F(EngineTest, DeferredWritesAreFlushedBeforeEachCommitAndLostWithTheirTransaction) {
  auto add = [&](const char* code, bool keep) {
    auto unit = Engine::instance().begin_record(file_.path());
    auto rs = articles();
    rs.add_new();
    rs.set("CODART", Value(code));
    rs.update();
    if (keep) unit.commit();
  };
  auto count = [&](const char* code) {
    return file_.outside_query(std::string("SELECT count(*) FROM F_ART WHERE CODART = '") + code + "'");
  };
  ArticleAtFlush deferred(db_);
  db_.defer(deferred);
  add("X1", true);
  add("X0", false);
  Engine::instance().commit();
  EXPECT_EQ(deferred.events, (std::vector<std::string>{"kept", "undone", "flush"}));
  EXPECT_EQ(count("X1"), "1");
  EXPECT_EQ(count("D1"), "1");

  // A flush that fails loses the transaction: the commit says so.
  deferred.events.clear();
  deferred.refuse = true;
  add("X2", true);
  try {
    Engine::instance().commit();
    ADD_FAILURE() << "the commit reports the loss";
  } catch (const Failure& f) {
    EXPECT_EQ(f.number(), static_cast<int>(ErrorCode::DiskFull));
  }
  EXPECT_EQ(deferred.events, (std::vector<std::string>{"kept", "flush", "discard"}));
  EXPECT_EQ(count("X2"), "0");

  // Flushed at the end of a unit, a failure fails that record, and nothing is
  // stored until a commit has reported the loss.
  deferred.grown = true;
  EXPECT_THROW(add("X5", true), Failure);
  EXPECT_THROW(add("X6", true), Failure);
  EXPECT_THROW(Engine::instance().commit(), Failure);
  deferred.grown = false;
  deferred.refuse = false;
  add("X7", true);
  Engine::instance().commit();
  EXPECT_EQ(count("X5"), "0");
  EXPECT_EQ(count("X6"), "0");
  EXPECT_EQ(count("X7"), "1");

  // Withdrawn, they are flushed a last time and left alone after.
  deferred.events.clear();
  add("X3", true);
  db_.withdraw(deferred);
  add("X4", true);
  Engine::instance().commit();
  EXPECT_EQ(deferred.events, (std::vector<std::string>{"kept", "flush"}));
  EXPECT_EQ(count("X3"), "1");
  EXPECT_EQ(count("X4"), "1");
  EXPECT_EQ(count("D3"), "1");
}

TEST_F(EngineTest, WalksFindsAndCounts) {
  auto rs = db_.open_recordset("SELECT * FROM F_ART WHERE UNIART >= 10 ORDER BY UNIART DESC;");
  std::vector<std::string> seen;
  for (; !rs.eof(); rs.move_next()) seen.push_back(to_text(rs.get("codart")));
  EXPECT_EQ(seen, (std::vector<std::string>{"B2", "A1"}));
  rs.move_last();
  EXPECT_EQ(rs.record_count(), 2);
  EXPECT_EQ(to_text(rs.get(0)), "A1");
  EXPECT_EQ(rs.field_count(), 12);
  EXPECT_EQ(rs.field_name(1), "DESART");
  rs.find_first("DESART = 'Tuerca'");
  EXPECT_FALSE(rs.no_match());
  EXPECT_EQ(to_text(rs.get("CODART")), "B2");
  rs.find_first("DESART = 'Clavo'");
  EXPECT_TRUE(rs.no_match());

  auto empty = db_.open_recordset("SELECT * FROM F_ART WHERE UNIART > 1000");
  EXPECT_TRUE(empty.eof());
  EXPECT_EQ(empty.record_count(), 0);
  EXPECT_EQ(number_of([&] { empty.get("CODART"); }), static_cast<int>(ErrorCode::NoCurrentRecord));
}

// A small set is kept in memory and searched there; a large one is searched
// with SQL: both must answer alike, whether the condition is a text or the
// columns with their values.
TEST_F(EngineTest, FindsAlikeInSmallAndLargeSets) {
  {
    auto rs = articles();
    for (int i = 0; i < 70; ++i) {
      rs.add_new();
      rs.set("CODART", Value("L" + std::to_string(i)));
      rs.set("UNIART", Value(std::int32_t{i}));
      rs.set("FECART", Value(DateTime{2011, 1, 1 + i % 28}));
      rs.update();
    }
    rs.add_new();
    rs.set("CODART", Value("O'B"));
    rs.update();
  }
  // Three rows kept in memory; every row, searched with SQL; every row again,
  // searched with SQL and the set's own parameter.
  int renamed = 0;
  for (const char* base : {"SELECT * FROM F_ART WHERE CODART = 'A1' OR CODART = 'B2' OR CODART = 'L1'",
                           "SELECT * FROM F_ART", "SELECT * FROM F_ART WHERE UNIART >= 0"}) {
    SCOPED_TRACE(base);
    auto rs = db_.open_recordset(base);
    const bool whole_table = std::string_view(base).find("'A1'") == std::string_view::npos;
    struct Case {
      std::string criteria;
      const char* found;             // nullptr: no match
      std::vector<Equality> terms;   // the same as columns and values; none: no such form
    };
    for (const auto& c : std::vector<Case>{
             {"CODART = 'b2'", "B2", {{"CODART", Value("b2")}}},  // text keys ignore case
             {"codart = 'l1'", "L1", {{"codart", Value("l1")}}},
             {"DESART = 'tuerca'", nullptr, {{"DESART", Value("tuerca")}}},  // other texts do not
             {"(UNIART = 1) AND (CODART = 'L1')", "L1", {{"UNIART", Value(std::int32_t{1})}, {"CODART", Value("L1")}}},
             {"UNIART = 20.0", "B2", {{"UNIART", Value(20.0)}}},
             {"FECART = #03/05/2011#", "B2", {{"FECART", Value(DateTime{2011, 3, 5})}}},
             {"FECART = #03/05/2012#", nullptr, {{"FECART", Value(DateTime{2012, 3, 5})}}},
             {"PREART = 1.5", "A1", {{"PREART", Value(1.5)}}},
             {"UNIART > 15", "B2", {}},  // no simple equality: SQL decides
             {"DESART = 'Tuerca' AND UNIART = 21", nullptr, {{"DESART", Value("Tuerca")}, {"UNIART", Value(std::int32_t{21})}}},
             {"CODART = 'O''B'", whole_table ? "O'B" : nullptr, {{"CODART", Value("O'B")}}},
         }) {
      rs.find_first(c.criteria);
      EXPECT_EQ(rs.no_match(), c.found == nullptr) << c.criteria;
      if (c.found) {
        EXPECT_EQ(to_text(rs.get("CODART")), c.found) << c.criteria;
      }
      if (c.terms.empty()) continue;
      rs.move_first();  // the text's finding must not decide the terms'
      rs.find_first(c.terms);
      EXPECT_EQ(rs.no_match(), c.found == nullptr) << c.criteria << " as terms";
      if (c.found) {
        EXPECT_EQ(to_text(rs.get("CODART")), c.found) << c.criteria << " as terms";
      }
    }
    EXPECT_EQ(number_of([&] { rs.find_first(std::vector<Equality>{{"NADA", Value("x")}}); }),
              static_cast<int>(ErrorCode::TooFewParameters));
    // A row added through the set can be found in it at once.
    rs.add_new();
    rs.set("CODART", Value("N9"));
    rs.update();
    rs.find_first("CODART = 'N9'");
    EXPECT_FALSE(rs.no_match()) << "added row";
    EXPECT_EQ(rs.get("CATART"), Value("GE")) << "added row with its defaults";
    rs.edit();
    rs.set("UNIART", Value(std::int32_t{5}));
    rs.update();
    rs.find_first("UNIART = 5 AND CODART = 'N9'");
    EXPECT_FALSE(rs.no_match()) << "changed row";
    rs.find_first("CODART = 'N9'");
    rs.edit();
    rs.set("CODART", Value("N" + std::to_string(++renamed)));
    rs.update();
    rs.find_first("CODART = 'N9'");
    EXPECT_TRUE(rs.no_match()) << "renamed row";
  }
}

TEST_F(EngineTest, QueriesWithGroupsAndDateLiterals) {
  auto rs = db_.open_recordset(
      "SELECT MAX(F_ART.UNIART) AS MAX, FECART FROM F_ART GROUP BY FECART HAVING (FECART=#03/05/2011#);");
  ASSERT_FALSE(rs.eof());
  EXPECT_EQ(rs.get("max"), Value(std::int32_t{20}));
  EXPECT_EQ(rs.get("FECART"), Value(DateTime{2011, 3, 5}));
  EXPECT_EQ(number_of([&] { rs.add_new(); }), static_cast<int>(ErrorCode::ReadOnly));
  auto none = db_.open_recordset(
      "SELECT Max(F_ART.UNIART) AS MAXI, F_ART.CATART From F_ART GROUP BY F_ART.CATART "
      " HAVING (((F_ART.CATART)='ZZ'));");
  EXPECT_TRUE(none.eof());
}

std::string file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// More rows than a set keeps in memory: its look-ups go to the store.
std::string many_articles() {
  std::string sql = "INSERT INTO F_ART (CODART, DESART) VALUES ('N0', 'Relleno 0')";
  for (int i = 1; i < 100; ++i) sql += fmt::format(", ('N{0}', 'Relleno {0}')", i);
  return sql + ";\n";
}

// What the table holds for a key, in a form both stores give alike.
std::string article(const TestDatabase& file, const std::string& code) {
  return file.outside_query(
      "SELECT count(*) || ' ' || COALESCE(max(DESART), '-') || ' ' || COALESCE(max(UNIART), 0) || ' ' || "
      "COALESCE(max(REFART), '-') FROM F_ART WHERE upper(CODART) = upper('" + code + "')");
}

// add_or_edit ends as FindFirst and then Edit or AddNew would, whether or not
// it leaves the look-up to the store: the same rows, the same failure, the
// same answer from update().
TEST(EngineAddOrEdit, EndsAsFindFirstThenEditOrAddNew) {
  set_regional(RegionalSettings::spanish());
  struct Case {
    const char* what;
    const char* key;
    std::vector<std::pair<const char*, Value>> values;
    ErrorCode error;
    bool added;
  };
  const std::vector<Case> cases = {
      {"a new key", "C3", {{"DESART", Value("Arandela")}}, ErrorCode{}, true},
      {"a known key in other case", "b2", {{"UNIART", Value("35")}}, ErrorCode{}, false},
      {"a known key given what it holds", "B2", {{"DESART", Value("Tuerca")}}, ErrorCode{}, false},
      {"a new key with another row's unique reference", "D4", {{"REFART", Value("r1")}}, ErrorCode::DuplicateValue,
       false},
      {"a new key that breaks a check rule", "E5", {{"STKART", Value("-1")}}, ErrorCode::ValidationRule, false},
      {"a new key without a required value", "F6", {{"CATART", Value()}}, ErrorCode::RequiredValue, false},
      {"a new key written over with a known one", "Z9", {{"CODART", Value("a1")}, {"DESART", Value("Otra")}},
       ErrorCode::DuplicateValue, false},
      {"a known key written over with a new one", "B2", {{"CODART", Value("Y8")}}, ErrorCode{}, false},
  };
  const std::string schema =
      std::string(kSchema) + many_articles() + "UPDATE F_ART SET REFART = 'R1' WHERE CODART = 'A1';\n";
  for (const Case& c : cases) {
    std::string ends[2];
    for (bool by_store : {true, false}) {
      TestDatabase file(schema);
      int error = 0;
      bool added = false;
      {
        Database db = Engine::instance().open_database(file.path());
        auto rs = db.open_recordset("SELECT * FROM F_ART;", RecordsetType::Dynaset);
        const std::vector<Equality> key{{"CODART", Value(c.key)}};
        error = number_of([&] {
          if (by_store) {
            rs.add_or_edit(key);
          } else {
            rs.find_first(key);
            if (rs.no_match())
              rs.add_new();
            else
              rs.edit();
          }
          rs.set("CODART", Value(c.key));
          for (const auto& [column, value] : c.values) rs.set(column, value);
          added = rs.update();
        });
        Engine::instance().commit();
      }
      Engine::instance().shutdown();
      EXPECT_EQ(error, static_cast<int>(c.error)) << c.what;
      EXPECT_EQ(added, c.added) << c.what;
      ends[by_store] = fmt::format("{} rows; {} | {} | {} | {}", file.outside_query("SELECT count(*) FROM F_ART"),
                                   article(file, c.key), article(file, "A1"), article(file, "B2"),
                                   article(file, "Y8"));
    }
    EXPECT_EQ(ends[true], ends[false]) << c.what;
  }
}

// The store is left the look-up only where a unique index of the key column
// alone, under the column's own collation, refuses what the look-up finds.
TEST(EngineAddOrEdit, LeavesTheLookUpToTheStoreOnlyWhereItsIndexAnswersAlike) {
  KAVELO_SQLITE_ONLY("reads SQLite's statement trace");
  set_regional(RegionalSettings::spanish());
  struct Case {
    const char* what;
    const char* schema;
    const char* column;
    bool offered;
  };
  const std::vector<Case> cases = {
      {"the primary key", "", "CODART", true},
      {"a column of its own unique index", "", "REFART", true},
      {"a column without an index", "", "DESART", false},
      {"an index of the column under another collation",
       "CREATE UNIQUE INDEX DESART_NOCASE ON F_ART (DESART COLLATE NOCASE);", "DESART", false},
      {"an index of the column with another", "CREATE UNIQUE INDEX DES_UNI ON F_ART (DESART, UNIART);", "DESART",
       false},
      {"an index of some rows only", "CREATE UNIQUE INDEX DES_SOME ON F_ART (DESART) WHERE UNIART > 0;", "DESART",
       false},
      {"a table with a trigger",
       "CREATE TABLE LOG (N LONG); CREATE TRIGGER ADDED AFTER INSERT ON F_ART BEGIN INSERT INTO LOG VALUES (1); END;",
       "CODART", false},
  };
  for (const Case& c : cases) {
    TestDatabase file(std::string(kSchema) + many_articles() + c.schema);
    StatementTrace trace;
    {
      Database db = Engine::instance().open_database(file.path());
      auto rs = db.open_recordset("SELECT * FROM F_ART;", RecordsetType::Dynaset);
      rs.add_or_edit({{c.column, Value("X1")}});
      rs.set("CODART", Value("X1"));
      rs.set(c.column, Value("X1"));
      EXPECT_TRUE(rs.update()) << c.what;
    }
    Engine::instance().shutdown();
    bool offered = false, looked_up = false;
    for (const auto& [sql, scanned] : trace.statements) {
      offered = offered || sql.starts_with("INSERT OR IGNORE INTO \"F_ART\"");
      looked_up = looked_up || (sql.starts_with("SELECT rowid, ") && sql.find(" WHERE ") != std::string::npos);
    }
    EXPECT_EQ(offered, c.offered) << c.what;
    EXPECT_EQ(looked_up, !c.offered) << c.what;
    EXPECT_EQ(file.outside_query("SELECT count(*) FROM F_ART WHERE CODART = 'X1'"), "1") << c.what;
  }
}

// A row is offered to the store while the rows stored are new: after a known
// key the next one is looked up first, and after a new one offered again.
TEST(EngineAddOrEdit, OffersTheRowWhileTheRowsStoredAreNew) {
  KAVELO_SQLITE_ONLY("reads SQLite's statement trace");
  set_regional(RegionalSettings::spanish());
  TestDatabase file(std::string(kSchema) + many_articles());
  StatementTrace trace;
  {
    Database db = Engine::instance().open_database(file.path());
    auto rs = db.open_recordset("SELECT * FROM F_ART;", RecordsetType::Dynaset);
    for (const char* code : {"C3", "A1", "B2", "D4", "E5"}) {
      rs.add_or_edit({{"CODART", Value(code)}});
      rs.set("CODART", Value(code));
      rs.set("DESART", Value("Otra"));
      rs.update();
    }
  }
  Engine::instance().shutdown();
  // O offered, S looked up, I added, U changed.
  std::string runs;
  for (const std::string& sql : trace.runs) {
    if (sql.starts_with("INSERT OR IGNORE INTO \"F_ART\"")) runs += 'O';
    if (sql.starts_with("INSERT INTO \"F_ART\"")) runs += 'I';
    if (sql.starts_with("UPDATE \"F_ART\"")) runs += 'U';
    if (sql.starts_with("SELECT rowid, ") && sql.find(" WHERE ") != std::string::npos) runs += 'S';
  }
  EXPECT_EQ(runs, "O" "OSU" "SU" "SI" "O");
  EXPECT_EQ(file.outside_query("SELECT count(*) FROM F_ART WHERE DESART = 'Otra'"), "5");
}

// Asking what only the look-up tells (a column not written yet, whether the
// row is new) makes the look-up at once; the row then ends as it would have.
TEST(EngineAddOrEdit, LooksUpAtOnceWhenAskedWhatOnlyTheLookUpTells) {
  set_regional(RegionalSettings::spanish());
  TestDatabase file(std::string(kSchema) + many_articles());
  {
    Database db = Engine::instance().open_database(file.path());
    auto rs = db.open_recordset("SELECT * FROM F_ART;", RecordsetType::Dynaset);
    rs.add_or_edit({{"CODART", Value("b2")}});
    EXPECT_EQ(rs.get("DESART"), Value("Tuerca"));  // the row held, not a default
    EXPECT_FALSE(rs.adding());
    rs.set("UNIART", Value("7"));
    EXPECT_FALSE(rs.update());
    rs.add_or_edit({{"CODART", Value("G7")}});
    EXPECT_TRUE(rs.adding());
    EXPECT_EQ(rs.get("CATART"), Value("GE"));
    rs.set("CODART", Value("G7"));
    EXPECT_TRUE(rs.update());
    Engine::instance().commit();
  }
  Engine::instance().shutdown();
  EXPECT_EQ(article(file, "B2"), "1 Tuerca 7 -");
  EXPECT_EQ(article(file, "G7"), "1 - 0 -");
}

// A check run writes, reads back what it wrote, and leaves the file as it was,
// also when its writes outgrow the page cache and reach the file before the end.
TEST(EngineCheckRun, SeesItsOwnWritesAndLeavesTheFileAsItWas) {
  KAVELO_SQLITE_ONLY("about the bytes of the SQLite file");
  set_regional(RegionalSettings::spanish());
  TestDatabase file(kSchema);
  const std::string before = file_bytes(file.path());
  Engine& engine = Engine::instance();
  engine.set_check_run(true);
  engine.set_commit_policy(CommitPolicy{10, std::chrono::milliseconds(0), std::chrono::milliseconds(0)});
  {
    Database db = engine.open_database(file.path());
    Recordset rs = db.open_recordset("SELECT * FROM F_ART;", RecordsetType::Dynaset);
    const std::string filler(400, 'x');
    for (int i = 0; i < 20000; ++i) {
      auto unit = engine.begin_record(file.path());
      rs.add_new();
      rs.set("CODART", Value(fmt::format("C{}", i)));
      rs.set("OBSART", Value(filler));
      rs.update();
      if (i % 2 == 0) unit.commit();  // the odd ones are undone
      engine.record_boundary();
    }
    engine.commit();
    Database again = engine.open_database(file.path());
    Recordset count = again.open_recordset("SELECT Count(*) AS N FROM F_ART;");
    EXPECT_EQ(to_text(count.get(0)), "10002");
  }
  engine.shutdown();
  engine.set_check_run(false);
  engine.set_commit_policy(CommitPolicy{});
  EXPECT_EQ(file.outside_query("SELECT count(*) FROM F_ART"), "2");
  EXPECT_TRUE(file_bytes(file.path()) == before);
  EXPECT_EQ(file.outside_query("PRAGMA integrity_check"), "ok");
}

// True while SQLite holds one of its temporary files open.
bool temporary_file_open() {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
    if (!ec && target.find("etilqs_") != std::string::npos) return true;
  }
  return false;
}

// Whether one record that edits `rows` articles of 400 characters, which the
// record before it added, keeps the pages to put back in a temporary file.
// Run in a process of its own, where the engine is the first to start SQLite
// and so sets how much of them stays in memory.
int undo_pages_in_a_file(int rows) {
  set_regional(RegionalSettings::spanish());
  Engine& engine = Engine::instance();
  std::string pattern = (std::filesystem::temp_directory_path() / "kavelo-undo-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 2;
  const std::filesystem::path first = std::filesystem::path(pattern) / "FIRST.MDB";
  std::ofstream(first).close();  // an empty file is an empty database
  engine.open_database(first.string());
  bool in_a_file = false;
  TestDatabase file(kSchema);
  {
    Database db = engine.open_database(file.path());
    Recordset rs = db.open_recordset("SELECT * FROM F_ART;", RecordsetType::Dynaset);
    {
      auto unit = engine.begin_record(file.path());
      for (int i = 0; i < rows; ++i) {
        rs.add_new();
        rs.set("CODART", Value(fmt::format("C{}", i)));
        rs.set("OBSART", Value(std::string(400, 'x')));
        rs.update();
      }
      unit.commit();
    }
    // The same transaction: SQLite keeps a page to put back only when an
    // earlier record of it changed the page.
    auto unit = engine.begin_record(file.path());
    for (int i = 0; i < rows; ++i) {
      rs.find_first({{"CODART", Value(fmt::format("C{}", i))}});
      rs.edit();
      rs.set("OBSART", Value(std::string(400, 'y')));
      rs.update();
    }
    in_a_file = temporary_file_open();
  }
  engine.shutdown();  // while the files are there
  std::filesystem::remove_all(pattern);
  return in_a_file ? 1 : 0;
}

TEST(EngineRecordUndo, ARecordOfTwentyPagesKeepsThemInMemoryAndALargerOneInAFile) {
  KAVELO_SQLITE_ONLY("about SQLite's temporary files");
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // About 19 pages: in memory, where SQLite alone would have gone to a file
  // after 15.
  EXPECT_EXIT(std::_Exit(undo_pages_in_a_file(170)), ::testing::ExitedWithCode(0), "");
  // About 450 pages: to a file, which the first check would have seen, and
  // moving what was kept there must not fail.
  EXPECT_EXIT(std::_Exit(undo_pages_in_a_file(4000)), ::testing::ExitedWithCode(1), "");
}

TEST(EngineOpen, RefusesWhatIsNoDatabase) {
  KAVELO_SQLITE_ONLY("about files that are no SQLite database");
  TestDatabase file("CREATE TABLE T (A LONG);");
  std::string not_a_database = (file.dir() / "NOTADB.MDB").string();
  FILE* f = fopen(not_a_database.c_str(), "w");
  fputs("this is a text file, not a company database, and it is long enough to have a header", f);
  fclose(f);
  auto open = [](const std::string& path) { return [path] { Engine::instance().open_database(path); }; };
  EXPECT_EQ(number_of(open((file.dir() / "MISSING.MDB").string())), static_cast<int>(ErrorCode::DatabaseFileNotFound));
  EXPECT_EQ(number_of(open(file.dir().string())), static_cast<int>(ErrorCode::DatabaseFileNotFound));
  EXPECT_EQ(number_of(open(not_a_database)), static_cast<int>(ErrorCode::UnrecognizedFormat));
  Engine::instance().shutdown();
}

TEST(EngineOpen, ALockHeldByAnotherProgramFailsTheOpen) {
  KAVELO_SQLITE_ONLY("about SQLite's file lock");
  TestDatabase file("CREATE TABLE T (A LONG);");
  sqlite3* other = nullptr;
  sqlite3_open(file.path().c_str(), &other);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(number_of([&] { Engine::instance().open_database(file.path()); }),
            static_cast<int>(ErrorCode::DatabaseInUse));
  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(number_of([&] { Engine::instance().open_database(file.path()); }), 0);
  Engine::instance().shutdown();
}

}  // namespace
}  // namespace kavelo::db
