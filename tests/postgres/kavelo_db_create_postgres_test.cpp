// kavelo-db create with a connection string: the reference schema on the
// throwaway PostgreSQL server of the tests.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sys/stat.h>

#include "db/pg/pg_connection.h"
#include "db/pg/test_server.h"
#include "test_support.h"

namespace kavelo::test {
namespace {

using db::pg::testing::ScratchDatabase;

TEST(KaveloDbCreatePostgres, CreatesTheSchemaOnceAndRefusesASecondTime) {
  KAVELO_REQUIRE_PG_SERVER();
  ScratchDatabase database;
  RunResult first = kavelo_db({"create", "ODBC;" + database.connection_string()});
  EXPECT_EQ(first.exit_status, 0) << first.err;
  EXPECT_EQ(first.out + first.err, "");

  db::pg::Connection connection(database.connection_string());
  auto tables = connection.query(
      "SELECT string_agg(table_name, ' ' ORDER BY table_name) FROM information_schema.tables "
      "WHERE table_schema = 'public'");
  EXPECT_EQ(std::string(PQgetvalue(tables.get(), 0, 0)), "f_apu f_aut f_cli f_dia f_emp f_ivr f_ivs f_mae f_pro f_sal");
  // The application's tables as they are: no column of kavelo's.
  auto columns = connection.query(
      "SELECT count(*) FROM information_schema.columns WHERE table_schema = 'public' AND column_name LIKE 'kavelo%'");
  EXPECT_EQ(std::string(PQgetvalue(columns.get(), 0, 0)), "0");

  // The prefix is read in any case, as a connection file would write it.
  RunResult second = kavelo_db({"create", "odbc;" + database.connection_string()});
  EXPECT_EQ(second.exit_status, 1);
  EXPECT_NE(second.err.find("ya tiene la tabla F_EMP"), std::string::npos) << second.err;
}

TEST(KaveloDbCreatePostgres, ADatabaseThatCannotBeOpenedNamesItsServer) {
  KAVELO_REQUIRE_PG_SERVER();
  // A database that does not exist on the running server.
  std::string text = db::pg::testing::with_database(db::pg::testing::admin_connection_string(), "no_such_db");
  RunResult result = kavelo_db({"create", "ODBC;" + text});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.err.find("no se puede conectar con el servidor de base de datos '127.0.0.1'"), std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("no_such_db"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace kavelo::test

namespace kavelo::test {
namespace {

// sql and count take a connection string or a link file, as they take a file.
TEST(KaveloDbOnServer, SqlRunsWholeOrNotAtAllAndCountNamesTheTables) {
  KAVELO_REQUIRE_PG_SERVER();
  db::pg::testing::ScratchDatabase database;
  const std::string odbc = "ODBC;" + database.connection_string();
  ASSERT_EQ(kavelo_db({"create", odbc}).exit_status, 0);
  TempDir tmp;
  const std::string link = tmp / "ABC01.MDB";
  write_bytes(link, odbc + "\r\n");
  ::chmod(link.c_str(), 0600);

  RunResult ran = kavelo_db({"sql", odbc, "-"}, "INSERT INTO F_EMP (CODEMP) VALUES ('ABC');\n"
                                                "-- a comment; not a statement\n"
                                                "INSERT INTO F_MAE (CODMAE, NOMMAE) VALUES ('430', 'Clientes; varios');");
  EXPECT_EQ(ran.exit_status, 0) << ran.err;
  // The second statement fails: the first is undone with it.
  RunResult failed = kavelo_db({"sql", link, "-"}, "INSERT INTO F_MAE (CODMAE) VALUES ('431');\n"
                                                   "INSERT INTO F_MAE (CODMAE) VALUES ('430');");
  EXPECT_EQ(failed.exit_status, 1);
  EXPECT_NE(failed.err.find("sentencia 2"), std::string::npos) << failed.err;

  RunResult counted = kavelo_db({"count", link});
  EXPECT_EQ(counted.exit_status, 0) << counted.err;
  EXPECT_EQ(counted.out,
            "F_EMP 1\nF_AUT 0\nF_DIA 0\nF_MAE 1\nF_CLI 0\nF_PRO 0\nF_APU 0\nF_SAL 0\nF_IVR 0\nF_IVS 0\n");
}

}  // namespace
}  // namespace kavelo::test
