// kavelo-db on company databases of the throwaway PostgreSQL server of the
// tests.
#include "kavelo_db_cases.h"

namespace kavelo::test {
namespace {

INSTANTIATE_TEST_SUITE_P(Server, KaveloDb, ::testing::Values(Store::server), store_name);

// A database the server lacks. (kavelo_db_test.cpp has the servers that
// cannot be reached.)
TEST(KaveloDbOnServer, ADatabaseThatCannotBeOpenedNamesItsServer) {
  KAVELO_REQUIRE_PG_SERVER();
  const std::string text = db::pg::testing::with_database(db::pg::testing::admin_connection_string(), "no_such_db");
  RunResult result = kavelo_db({"create", "ODBC;" + text});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.out, "");
  for (const char* part : {"no se puede conectar con el servidor de base de datos '127.0.0.1'", "no_such_db"})
    EXPECT_NE(result.err.find(part), npos) << result.err;
}

}  // namespace
}  // namespace kavelo::test
