// kavelo-db on company databases of the throwaway PostgreSQL server of the
// tests, and on servers it cannot reach.
#include "kavelo_db_cases.h"

namespace kavelo::test {
namespace {

INSTANTIATE_TEST_SUITE_P(Server, KaveloDb, ::testing::Values(Store::server), store_name);

TEST(KaveloDbOnServer, AServerOutOfReachIsNamed) {
  KAVELO_REQUIRE_PG_SERVER();
  // The test server at a port where nothing listens; a database it lacks.
  const std::string text = db::pg::testing::admin_connection_string();
  const auto at = text.find("Port=");
  ASSERT_NE(at, npos) << text;
  const std::string port_1 = "ODBC;" + std::string(text).replace(at, text.find(';', at) - at, "Port=1");
  TempDir dir;
  link_to(dir / "DEMO01.MDB", port_1);
  const std::vector<std::string> unreachable = {"kavelo-db: No se puede abrir la base de datos del servidor: ",
                                                "no se puede conectar con el servidor de base de datos '127.0.0.1' (puerto 1)"};
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> err;  // parts of stderr
  };
  const Case cases[] = {
      {{"check", port_1}, unreachable},
      {{"check", dir / "DEMO01.MDB"}, unreachable},
      {{"create", "ODBC;" + db::pg::testing::with_database(text, "no_such_db")},
       {"no se puede conectar con el servidor de base de datos '127.0.0.1'", "no_such_db"}},
  };
  for (const Case& c : cases) {
    RunResult result = kavelo_db(c.args);
    EXPECT_EQ(result.exit_status, 1) << c.args[1];
    EXPECT_EQ(result.out, "");
    for (const std::string& part : c.err) EXPECT_NE(result.err.find(part), npos) << result.err;
  }
}

}  // namespace
}  // namespace kavelo::test
