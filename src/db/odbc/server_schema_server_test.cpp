#include <sqlite3.h>

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "db/company_database.h"
#include "db/odbc/odbc_connection.h"
#include "db/odbc/server_schema.h"
#include "db/odbc/test_cluster.h"
#include "platform/failure.h"

namespace kavelo::db::odbc {
namespace {

using testing::ScratchDatabase;

// Rows of a query, each column as text ("" for Null).
std::vector<std::vector<std::string>> rows(Connection& connection, const std::string& sql) {
  Statement statement(connection);
  statement.execute_direct(sql);
  std::vector<std::vector<std::string>> result;
  while (statement.fetch()) {
    auto& row = result.emplace_back();
    for (int i = 0; i < statement.column_count(); ++i) row.push_back(statement.text(i).value_or(""));
  }
  return result;
}

struct ReferenceColumn {
  std::string table, name, declared_type, default_value;
  bool required;
};

// The reference schema as SQLite sees it, read here on its own.
std::vector<ReferenceColumn> reference_columns() {
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  EXPECT_EQ(sqlite3_exec(db, db::company_schema_sql(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT m.name, c.name, c.type, coalesce(c.dflt_value, ''), c.\"notnull\" FROM sqlite_schema m, "
                     "pragma_table_info(m.name) c WHERE m.type = 'table' ORDER BY m.name, c.cid",
                     -1, &s, nullptr);
  std::vector<ReferenceColumn> columns;
  auto text = [&](int i) { return std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, i))); };
  while (sqlite3_step(s) == SQLITE_ROW)
    columns.push_back({text(0), text(1), text(2), text(3), sqlite3_column_int(s, 4) != 0});
  sqlite3_finalize(s);
  sqlite3_close(db);
  return columns;
}

// The server's type of a declared type, as information_schema names it.
std::string expected_type(const std::string& declared) {
  static const std::map<std::string, std::string> types = {
      {"LONGTEXT", "text"},  {"BYTE", "smallint"},
      {"SHORT", "smallint"}, {"LONG", "integer"},
      {"DOUBLE", "double precision"}, {"CURRENCY", "numeric(19,4)"},
      {"DATETIME", "timestamp without time zone"}, {"BIT", "boolean"}};
  std::smatch m;
  if (std::regex_match(declared, m, std::regex(R"(TEXT\((\d+)\))"))) return "character varying(" + m[1].str() + ")";
  auto it = types.find(declared);
  return it == types.end() ? "?" + declared : it->second;
}

TEST(ServerSchema, CreateMakesEveryTableColumnAndKey) {
  KAVELO_REQUIRE_POSTGRES();
  ScratchDatabase database;
  create_postgres_company_database(database.connection_string());
  Connection connection(database.connection_string());

  std::vector<std::string> expected, actual;
  for (const ReferenceColumn& c : reference_columns())
    expected.push_back(c.table + "." + c.name + " " + expected_type(c.declared_type) +
                       (c.required ? " NOT NULL" : "") + (c.default_value.empty() ? "" : " DEFAULT " + c.default_value));
  for (const auto& row : rows(connection,
                              "SELECT table_name || '.' || column_name || ' ' || "
                              "CASE WHEN data_type = 'character varying' THEN data_type || '(' || "
                              "character_maximum_length || ')' WHEN data_type = 'numeric' THEN data_type || '(' || "
                              "numeric_precision || ',' || numeric_scale || ')' ELSE data_type END || "
                              "CASE WHEN is_nullable = 'NO' THEN ' NOT NULL' ELSE '' END || "
                              "coalesce(' DEFAULT ' || column_default, '') "
                              "FROM information_schema.columns WHERE table_schema = 'public' "
                              "ORDER BY table_name, ordinal_position"))
    actual.push_back(row[0]);
  EXPECT_EQ(actual, expected);

  // Primary and unique keys, with their columns in order.
  std::set<std::string> keys;
  for (const auto& row :
       rows(connection,
            "SELECT c.table_name || ' ' || c.constraint_type || ' ' || string_agg(k.column_name, ',' ORDER BY "
            "k.ordinal_position) FROM information_schema.table_constraints c JOIN "
            "information_schema.key_column_usage k USING (constraint_schema, constraint_name) WHERE "
            "c.table_schema = 'public' AND c.constraint_type IN ('PRIMARY KEY', 'UNIQUE') GROUP BY c.table_name, "
            "c.constraint_type, c.constraint_name"))
    keys.insert(row[0]);
  EXPECT_EQ(keys, (std::set<std::string>{
                      "F_EMP PRIMARY KEY CODEMP", "F_AUT PRIMARY KEY CODAUT", "F_DIA PRIMARY KEY CODDIA",
                      "F_MAE PRIMARY KEY CODMAE", "F_CLI PRIMARY KEY CODCLI", "F_PRO PRIMARY KEY CODPRO",
                      "F_APU UNIQUE DIAAPU,FECAPU,ASIAPU,ORDAPU", "F_SAL UNIQUE DIASAL,CUESAL",
                      "F_IVR PRIMARY KEY CODIVR", "F_IVS PRIMARY KEY CODIVS"}));
  EXPECT_EQ(rows(connection, "SELECT indexdef FROM pg_indexes WHERE indexname = 'F_APU_DIAAPU_ASIAPU'"),
            (std::vector<std::vector<std::string>>{
                {"CREATE INDEX \"F_APU_DIAAPU_ASIAPU\" ON public.\"F_APU\" USING btree (\"DIAAPU\", \"ASIAPU\")"}}));
}

TEST(ServerSchema, ASecondCreateRefusesAndLeavesTheRows) {
  KAVELO_REQUIRE_POSTGRES();
  ScratchDatabase database;
  create_postgres_company_database(database.connection_string());
  Connection connection(database.connection_string());
  connection.execute("INSERT INTO \"F_EMP\" (\"CODEMP\") VALUES ('ABC')");
  try {
    create_postgres_company_database(database.connection_string());
    FAIL() << "a second create did not refuse";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("ya tiene la tabla F_EMP"), std::string::npos) << e.what();
  }
  EXPECT_EQ(query_text(connection, "SELECT \"CODEMP\" FROM \"F_EMP\""), "ABC");
}

TEST(ServerSchema, AFailedCreateLeavesNoTable) {
  KAVELO_REQUIRE_POSTGRES();
  ScratchDatabase database;
  Connection connection(database.connection_string());
  // Not a company database, but one of its tables is in the way.
  connection.execute("CREATE TABLE \"F_SAL\" (x integer)");
  EXPECT_THROW(create_postgres_company_database(database.connection_string()), Failure);
  EXPECT_EQ(query_text(connection, "SELECT string_agg(table_name, ',') FROM information_schema.tables "
                                   "WHERE table_schema = 'public'"),
            "F_SAL");
}

TEST(ServerSchema, CaselessKeysRefuseTheSameTextInOtherCase) {
  KAVELO_REQUIRE_POSTGRES();
  ScratchDatabase database;
  create_postgres_company_database(database.connection_string());
  Connection connection(database.connection_string());
  struct Case {
    std::string insert;  // one parameter: the key
    std::string first, second;
    bool duplicate;
  };
  const Case cases[] = {
      {"INSERT INTO \"F_EMP\" (\"CODEMP\") VALUES (?)", "ABC", "abc", true},
      {"INSERT INTO \"F_MAE\" (\"CODMAE\") VALUES (?)", "430a", "430A", true},
      {"INSERT INTO \"F_CLI\" (\"CODCLI\") VALUES (?)", "PEÑA", "peña", true},
      {"INSERT INTO \"F_SAL\" (\"DIASAL\", \"CUESAL\") VALUES (1, ?)", "4300x", "4300X", true},
      // Accents still tell keys apart.
      {"INSERT INTO \"F_PRO\" (\"CODPRO\") VALUES (?)", "CAFE", "CAFÉ", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first + " / " + c.second);
    const Value first[] = {Value(c.first)}, second[] = {Value(c.second)};
    connection.execute(c.insert, first);
    if (!c.duplicate) {
      EXPECT_EQ(connection.execute(c.insert, second), 1);
      continue;
    }
    try {
      connection.execute(c.insert, second);
      ADD_FAILURE() << "the second key was taken";
    } catch (const Failure& f) {
      EXPECT_EQ(f.number(), 3022) << f.description();
    }
  }
  // And a look-up finds the key in any case.
  const Value key[] = {Value("abc")};
  EXPECT_EQ(query_text(connection, "SELECT \"CODEMP\" FROM \"F_EMP\" WHERE \"CODEMP\" = ?", key), "ABC");
}

}  // namespace
}  // namespace kavelo::db::odbc
