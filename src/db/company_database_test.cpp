#include "db/company_database.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <array>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/column_type.h"
#include "db/open_store.h"
#include "test_support.h"

namespace kavelo::db {
namespace {

using Rows = std::vector<std::vector<std::string>>;
using test::exists;
using test::read_bytes;
using test::TempDir;

// A direct connection, so that the checks do not go through the code under test.
class Sqlite {
 public:
  explicit Sqlite(const std::string& path) {
    sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_extended_result_codes(db_, 1);
  }
  ~Sqlite() { sqlite3_close(db_); }
  // The result code of the statements; the rows they give, each as its
  // columns' texts ("<null>" for Null), go to `rows`.
  int exec(const std::string& sql, Rows* rows = nullptr) {
    int (*each)(void*, int, char**, char**) = [](void* out, int n, char** values, char**) {
      auto& row = static_cast<Rows*>(out)->emplace_back();
      for (int i = 0; i < n; ++i) row.push_back(values[i] ? values[i] : "<null>");
      return 0;
    };
    return sqlite3_exec(db_, sql.c_str(), rows ? each : nullptr, rows, nullptr);
  }
  Rows rows(const std::string& sql) {
    Rows result;
    EXPECT_EQ(exec(sql, &result), SQLITE_OK) << sql << ": " << sqlite3_errmsg(db_);
    return result;
  }

 private:
  sqlite3* db_ = nullptr;
};

class CompanyDatabase : public ::testing::Test {
 protected:
  void SetUp() override { create_company_database(path_); }
  TempDir dir_;
  std::string path_ = dir_ / "DEMO01.MDB";
};

// Every table, column by column: the declared type in Jet's words and the
// kind the engine reads from it, NOT NULL, and the default a new row takes;
// and the file's journal mode.
TEST_F(CompanyDatabase, EveryTableHoldsItsColumnsWithTheirTypesAndDefaults) {
  // The columns of the tables no layout describes (T text, N number, A amount, D date,
  // S 16-bit and L 32-bit whole number), in order; of the others how many
  // (their layouts' tests hold them to the layout column by column).
  std::map<std::string, std::string> listed = {
      {"F_EMP", "CODEMP:T NOMEMP:T FRMEMP:T"}, {"F_AUT", "CODAUT:S NAAAUT:S NAMAUT:S"},
      {"F_DIA", "CODDIA:S NOMDIA:T ASIDIA:L"},
      // The line amounts travel as text but are posted to the balances as amounts.
      {"F_APU",
       "DIAAPU:S FECAPU:D ASIAPU:L ORDAPU:L CUEAPU:T CONAPU:T DOCAPU:T D-HAPU:T IMEAPU:A IMPAPU:A MONAPU:T PUNAPU:T "
       "TIVAPU:T CIVAPU:N DEPAPU:T SUBAPU:T IMAAPU:T UCRAPU:N FCRAPU:D UUMAPU:N FUMAPU:D GUIDAPU:T"},
      {"F_SAL", "CUESAL:T DIASAL:S"}};
  for (const char* side : {"PD", "PH", "ED", "EH"})
    for (int month = 1; month <= 12; ++month) listed["F_SAL"] += " " + (side + std::to_string(month)) + "SAL:A";
  const std::map<std::string, std::size_t> counted = {
      {"F_MAE", 7}, {"F_CLI", 51}, {"F_PRO", 50}, {"F_IVR", 64}, {"F_IVS", 72}};
  const std::map<ColumnKind, std::pair<char, std::string>> types = {
      {ColumnKind::Text, {'T', ""}}, {ColumnKind::Double, {'N', "DOUBLE"}}, {ColumnKind::Currency, {'A', "CURRENCY"}},
      {ColumnKind::DateTime, {'D', "DATETIME"}}, {ColumnKind::Short, {'S', "SHORT"}}, {ColumnKind::Long, {'L', "LONG"}}};
  // The default rollback journal: bytes 18 and 19 of the header are 2 in WAL mode.
  const std::string header = read_bytes(path_);
  EXPECT_EQ(header.substr(0, 16) + header.substr(18, 2), std::string("SQLite format 3\0\x01\x01", 18));
  Sqlite db(path_);
  const Rows tables = db.rows("SELECT name FROM sqlite_schema WHERE type = 'table'");
  EXPECT_EQ(tables.size(), listed.size() + counted.size());
  for (const std::vector<std::string>& table : tables) {
    const std::string& t = table[0];
    const Rows columns = db.rows("SELECT name, type, \"notnull\", dflt_value, pk FROM pragma_table_info('" + t + "')");
    std::string letters;
    for (const std::vector<std::string>& column : columns) {
      const std::string &name = column[0], &type = column[1], &not_null = column[2], &default_value = column[3],
                        &key = column[4];
      SCOPED_TRACE(t + "." + name);
      int size = -1;
      auto found = types.find(column_kind(type, &size));
      ASSERT_NE(found, types.end()) << type;
      const auto& [letter, spelling] = found->second;
      letters += (letters.empty() ? "" : " ") + name + ":" + letter;
      const std::string text = size ? "TEXT(" + std::to_string(size) + ")" : "LONGTEXT";
      EXPECT_TRUE(letter == 'T' ? type == text : type == spelling && size == 0) << type << size;
      EXPECT_TRUE(not_null == "1" || (key == "0" && t != "F_SAL")) << "keys and balances are NOT NULL";
      // Entry 0 asks for a number, so counters start at 1; other numbers at 0;
      // texts and dates hold Null.
      if (name == "ASIDIA") {
        EXPECT_EQ(default_value, "1");
      } else if (key == "0") {
        EXPECT_EQ(default_value, letter == 'T' || letter == 'D' ? "<null>" : "0");
      }
    }
    if (listed.count(t)) EXPECT_EQ(letters, listed[t]);
    else EXPECT_EQ(columns.size(), counted.at(t)) << t;
  }
  // The store finds a column by its name in any case, as the posting of a
  // line of side "d" finds its columns, and in a table made elsewhere in
  // lower case.
  ASSERT_EQ(Sqlite(path_).exec("CREATE TABLE minus (codigo TEXT(10) PRIMARY KEY, importe CURRENCY)"), SQLITE_OK);
  const auto store = open_store(path_, {}, RegionalSettings::spanish());
  EXPECT_EQ(store->table("f_sal").find("Pd3sal"), 4);
  EXPECT_EQ(store->table("MINUS").find("IMPORTE"), 1);
}

// A text key's values in another case are the same key: the first row's
// again is refused, another row's stored. (The database check's tests find
// every table's key in the reference schema.)
TEST_F(CompanyDatabase, TextKeysIgnoreCase) {
  const std::array<const char*, 5> cases[] = {
      // table, key, first row, other row, duplicate
      {"F_EMP", "CODEMP", "'demo'", "'demo2'", "'DEMO'"},
      {"F_MAE", "CODMAE", "'43a'", "'43b'", "'43A'"},
      {"F_CLI", "CODCLI", "'c1'", "'c2'", "'C1'"},
      {"F_PRO", "CODPRO", "'p1'", "'p2'", "'P1'"},
      {"F_SAL", "DIASAL, CUESAL", "1, '430a'", "2, '430a'", "1, '430A'"},
  };
  Sqlite db(path_);
  for (const auto& [table, key, first, other, duplicate] : cases) {
    SCOPED_TRACE(table);
    const std::string insert = std::string("INSERT INTO ") + table + " (" + key + ") VALUES (";
    EXPECT_EQ(db.exec(insert + first + ")"), SQLITE_OK);
    EXPECT_EQ(db.exec(insert + other + ")"), SQLITE_OK);
    int rc = db.exec(insert + duplicate + ")");
    EXPECT_TRUE(rc == SQLITE_CONSTRAINT_PRIMARYKEY || rc == SQLITE_CONSTRAINT_UNIQUE) << "result " << rc;
  }
}

// A schema that fails leaves no file behind; a script's text is stored as it
// is written, and it may not end the transaction it runs in. (kavelo-db's
// tests check that a failing script changes nothing and names its statement.)
TEST_F(CompanyDatabase, WhatFailsLeavesNothingAndAScriptCannotEndItsTransaction) {
  EXPECT_THROW(create_database(dir_ / "BAD01.MDB", "CREATE TABLE F_X (A SHORT); CREATE TABLE F_X (B SHORT);"),
               std::runtime_error);
  for (const char* left : {"BAD01.MDB", "BAD01.MDB-journal"}) EXPECT_FALSE(exists(dir_ / left)) << left;
  run_sql_script(path_, "INSERT INTO F_EMP (CODEMP, NOMEMP) VALUES ('DEMO', 'Peñalara');");
  Sqlite db(path_);
  EXPECT_EQ(db.rows("SELECT NOMEMP FROM F_EMP"), (Rows{{"Peñalara"}}));
  for (const char* script : {"INSERT INTO F_AUT (CODAUT) VALUES (1); COMMIT; INSERT INTO F_AUT (CODAUT) VALUES (1);",
                             "INSERT INTO F_AUT (CODAUT) VALUES (1); ROLLBACK;", "BEGIN; INSERT INTO F_AUT VALUES (1, 1, 0);"}) {
    EXPECT_THROW(run_sql_script(path_, script), std::runtime_error) << script;
    EXPECT_EQ(db.rows("SELECT count(*) FROM F_AUT"), (Rows{{"0"}})) << script;
  }
}

}  // namespace
}  // namespace kavelo::db
