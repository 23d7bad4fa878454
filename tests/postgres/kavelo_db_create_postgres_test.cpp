// kavelo-db create with a connection string: the reference schema on the
// throwaway PostgreSQL server of the tests.
#include <gtest/gtest.h>

#include "db/odbc/odbc_connection.h"
#include "db/odbc/test_cluster.h"
#include "e2e_support.h"

namespace kavelo::e2e {
namespace {

using db::odbc::testing::ScratchDatabase;

TEST(KaveloDbCreatePostgres, CreatesTheSchemaOnceAndRefusesASecondTime) {
  KAVELO_REQUIRE_POSTGRES();
  ScratchDatabase database;
  RunResult first = kavelo_db({"create", "ODBC;" + database.connection_string()});
  EXPECT_EQ(first.exit_status, 0) << first.err;
  EXPECT_EQ(first.out + first.err, "");

  db::odbc::Connection connection(database.connection_string());
  EXPECT_EQ(db::odbc::query_text(connection, "SELECT string_agg(table_name, ' ' ORDER BY table_name) FROM "
                                             "information_schema.tables WHERE table_schema = 'public'"),
            "f_apu f_aut f_cli f_dia f_emp f_ivr f_ivs f_mae f_pro f_sal");

  // The prefix is read in any case, as a connection file would write it.
  RunResult second = kavelo_db({"create", "odbc;" + database.connection_string()});
  EXPECT_EQ(second.exit_status, 1);
  EXPECT_NE(second.err.find("ya tiene la tabla F_EMP"), std::string::npos) << second.err;
}

TEST(KaveloDbCreatePostgres, ADatabaseThatCannotBeOpenedNamesItsServer) {
  KAVELO_REQUIRE_POSTGRES();
  // A database that does not exist on the running server.
  std::string text = db::odbc::testing::with_database(db::odbc::testing::admin_connection_string(), "no_such_db");
  RunResult result = kavelo_db({"create", "ODBC;" + text});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.err.find("no se puede conectar con el servidor de base de datos '127.0.0.1'"), std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("no_such_db"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace kavelo::e2e
