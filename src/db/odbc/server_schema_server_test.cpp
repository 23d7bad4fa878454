#include <sqlite3.h>

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "db/company_database.h"
#include "db/odbc/odbc_connection.h"
#include "db/odbc/server_schema.h"
#include "db/odbc/test_cluster.h"
#include "platform/text.h"
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
      {"LONGTEXT", "text"},  {"BYTE", "jet_byte"},
      {"SHORT", "smallint"}, {"LONG", "integer"},
      {"DOUBLE", "double precision"}, {"CURRENCY", "numeric(19,4)"},
      {"DATETIME", "timestamp without time zone"}, {"BIT", "jet_bit"}};
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
  std::string table;
  for (const ReferenceColumn& c : reference_columns()) {
    // Each table ends with the row identity.
    if (!table.empty() && table != c.table)
      expected.push_back(lower(table) + ".kavelo_row bigint NOT NULL");
    table = c.table;
    // A yes/no default is stored as -1 or 0.
    std::string default_value = c.declared_type == "BIT" && !c.default_value.empty()
                                    ? (c.default_value == "0" ? "0" : "-1")
                                    : c.default_value;
    expected.push_back(lower(c.table + "." + c.name) + " " + expected_type(c.declared_type) +
                       (c.required ? " NOT NULL" : "") + (default_value.empty() ? "" : " DEFAULT " + default_value));
  }
  expected.push_back(lower(table) + ".kavelo_row bigint NOT NULL");
  for (const auto& row : rows(connection,
                              "SELECT table_name || '.' || column_name || ' ' || "
                              "CASE WHEN data_type = 'character varying' THEN data_type || '(' || "
                              "character_maximum_length || ')' WHEN data_type = 'numeric' THEN data_type || '(' || "
                              "numeric_precision || ',' || numeric_scale || ')' ELSE coalesce(domain_name, data_type) END || "
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
                      "f_emp PRIMARY KEY codemp", "f_aut PRIMARY KEY codaut", "f_dia PRIMARY KEY coddia",
                      "f_mae PRIMARY KEY codmae", "f_cli PRIMARY KEY codcli", "f_pro PRIMARY KEY codpro",
                      "f_apu UNIQUE diaapu,fecapu,asiapu,ordapu", "f_sal UNIQUE diasal,cuesal",
                      "f_ivr PRIMARY KEY codivr", "f_ivs PRIMARY KEY codivs", "f_emp UNIQUE kavelo_row",
                      "f_aut UNIQUE kavelo_row", "f_dia UNIQUE kavelo_row", "f_mae UNIQUE kavelo_row",
                      "f_cli UNIQUE kavelo_row", "f_pro UNIQUE kavelo_row", "f_apu UNIQUE kavelo_row",
                      "f_sal UNIQUE kavelo_row", "f_ivr UNIQUE kavelo_row", "f_ivs UNIQUE kavelo_row"}));
  EXPECT_EQ(rows(connection, "SELECT indexdef FROM pg_indexes WHERE indexname = 'f_apu_diaapu_asiapu'"),
            (std::vector<std::vector<std::string>>{
                {"CREATE INDEX f_apu_diaapu_asiapu ON public.f_apu USING btree (diaapu, asiapu)"}}));
}

TEST(ServerSchema, ASecondCreateRefusesAndLeavesTheRows) {
  KAVELO_REQUIRE_POSTGRES();
  ScratchDatabase database;
  create_postgres_company_database(database.connection_string());
  Connection connection(database.connection_string());
  connection.execute("INSERT INTO f_emp (codemp) VALUES ('ABC')");
  try {
    create_postgres_company_database(database.connection_string());
    FAIL() << "a second create did not refuse";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("ya tiene la tabla F_EMP"), std::string::npos) << e.what();
  }
  EXPECT_EQ(query_text(connection, "SELECT codemp FROM f_emp"), "ABC");
}

TEST(ServerSchema, AFailedCreateLeavesNoTable) {
  KAVELO_REQUIRE_POSTGRES();
  ScratchDatabase database;
  Connection connection(database.connection_string());
  // Not a company database, but one of its tables is in the way.
  connection.execute("CREATE TABLE f_sal (x integer)");
  EXPECT_THROW(create_postgres_company_database(database.connection_string()), Failure);
  EXPECT_EQ(query_text(connection, "SELECT string_agg(table_name, ',') FROM information_schema.tables "
                                   "WHERE table_schema = 'public'"),
            "f_sal");
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
      {"INSERT INTO f_emp (codemp) VALUES (?)", "ABC", "abc", true},
      {"INSERT INTO f_mae (codmae) VALUES (?)", "430a", "430A", true},
      {"INSERT INTO f_cli (codcli) VALUES (?)", "PEÑA", "peña", true},
      {"INSERT INTO f_sal (diasal, cuesal) VALUES (1, ?)", "4300x", "4300X", true},
      // Accents still tell keys apart.
      {"INSERT INTO f_pro (codpro) VALUES (?)", "CAFE", "CAFÉ", false},
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
  EXPECT_EQ(query_text(connection, "SELECT codemp FROM f_emp WHERE codemp = ?", key), "ABC");
}

}  // namespace
}  // namespace kavelo::db::odbc
