// kavelo-db check on company databases on the throwaway PostgreSQL server of
// the tests, named by "ODBC;" and a connection string or by a link file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "db/pg/test_server.h"
#include "test_support.h"

namespace kavelo::test {
namespace {

using db::pg::testing::ScratchDatabase;

const char* const kCompanyRows =
    "INSERT INTO F_EMP (CODEMP, NOMEMP, FRMEMP) VALUES ('DEMO', 'Demo, S.L.', '1101000');\n"
    "INSERT INTO F_AUT (CODAUT, NAAAUT, NAMAUT) VALUES (1, 1, 0);\n"
    "INSERT INTO F_DIA (CODDIA, NOMDIA, ASIDIA) VALUES (1, 'General', 1);\n";

// The company of kCompanyRows on the server database, changed by `changes`
// (the server's own SQL); returns "ODBC;" and its connection string.
std::string server_company(const ScratchDatabase& database, const std::string& changes = "") {
  const std::string odbc = "ODBC;" + database.connection_string();
  RunResult created = kavelo_db({"create", odbc});
  if (created.exit_status != 0) throw std::runtime_error("kavelo-db create: " + created.err);
  RunResult filled = kavelo_db({"sql", odbc, "-"}, kCompanyRows + changes);
  if (filled.exit_status != 0) throw std::runtime_error("kavelo-db sql: " + filled.err);
  return odbc;
}

// A link file to the database, readable only by its owner.
std::string link_to(const TempDir& dir, const std::string& odbc) {
  const std::string link = dir / "DEMO01.MDB";
  write_bytes(link, odbc + "\r\n");
  ::chmod(link.c_str(), 0600);
  return link;
}

std::string last_line(const std::string& text) {
  const std::string body = text.substr(0, text.find_last_not_of('\n') + 1);
  return body.substr(body.rfind('\n') + 1);  // from 0 when there is one line
}

// One checklist for both stores: the same company gives the same lines on
// the server as in a file, whichever way the server database is named.
TEST(KaveloDbCheckPostgres, ACompanyMadeByCreatePassesAsItDoesInAFile) {
  KAVELO_REQUIRE_PG_SERVER();
  ScratchDatabase database;
  const std::string odbc = server_company(database);
  TempDir dir;
  const std::string file = dir / "ARCHIVO.MDB";
  ASSERT_EQ(kavelo_db({"create", file}).exit_status, 0);
  ASSERT_EQ(kavelo_db({"sql", file, "-"}, kCompanyRows).exit_status, 0);
  RunResult in_file = kavelo_db({"check", file});
  ASSERT_EQ(in_file.exit_status, 0) << in_file.out;

  for (const std::string& named : {odbc, link_to(dir, odbc)}) {
    SCOPED_TRACE(named);
    RunResult result = kavelo_db({"check", named, "--company", "demo"});
    EXPECT_EQ(result.exit_status, 0) << result.out << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, in_file.out);
  }
}

TEST(KaveloDbCheckPostgres, EachFaultFailsWithItsLine) {
  KAVELO_REQUIRE_PG_SERVER();
  struct Case {
    const char* what;
    std::string changes;
    std::string line;  // a whole line of the checklist
  };
  const Case cases[] = {
      {"column dropped", "ALTER TABLE f_cli DROP COLUMN ncocli;",
       "[FALLO] F_CLI: falta la columna NCOCLI (varchar(100))"},
      {"no numbering row", "DELETE FROM f_aut;",
       "[FALLO] F_AUT: no hay fila con CODAUT 1: sin ella kavelo no sabe numerar, y el primer apunte de APU.TXT "
       "con asiento 0 y orden 1 detiene la importación de APU.TXT"},
      // kavelo finds the rows of a table by its own key.
      {"no key to find the rows by", "ALTER TABLE f_apu DROP CONSTRAINT f_apu_diaapu_fecapu_asiapu_ordapu_key;",
       "[FALLO] F_APU: no tiene una clave principal ni un índice único sobre DIAAPU, FECAPU, ASIAPU, ORDAPU: kavelo "
       "no puede encontrar sus filas"},
      {"amounts kept in cents", "ALTER TABLE f_cli ALTER COLUMN retcli TYPE numeric(19,2);",
       "[FALLO] F_CLI: la columna retcli es numeric(19,2) y debe ser numeric(19,4) o más amplia: guardaría los "
       "importes redondeados o no los guardaría"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDatabase database;
    const std::string odbc = server_company(database, c.changes);
    TempDir dir;
    for (const std::string& named : {odbc, link_to(dir, odbc)}) {
      RunResult result = kavelo_db({"check", named});
      EXPECT_EQ(result.exit_status, 3) << result.out << result.err;
      EXPECT_EQ(result.err, "");
      EXPECT_NE(("\n" + result.out).find("\n" + c.line + "\n"), std::string::npos) << result.out;
      EXPECT_EQ(last_line(result.out), "1 comprobación fallida.") << result.out;
    }
  }
}

TEST(KaveloDbCheckPostgres, AServerThatCannotBeReachedIsNamed) {
  KAVELO_REQUIRE_PG_SERVER();
  // The test server's connection, at a port where nothing listens.
  std::string text = db::pg::testing::admin_connection_string();
  const auto at = text.find("Port=");
  ASSERT_NE(at, std::string::npos) << text;
  text.replace(at, text.find(';', at) - at, "Port=1");
  TempDir dir;
  const std::string odbc = "ODBC;" + text;
  for (const std::string& named : {odbc, link_to(dir, odbc)}) {
    SCOPED_TRACE(named);
    RunResult result = kavelo_db({"check", named});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("kavelo-db: No se puede abrir la base de datos del servidor: "), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("no se puede conectar con el servidor de base de datos '127.0.0.1' (puerto 1)"),
              std::string::npos)
        << result.err;
  }
}

// What kavelo itself stores on the server passes: its journal lines' sides
// have their balance columns.
TEST(KaveloDbCheckPostgres, DatabaseAfterARealImportPasses) {
  KAVELO_REQUIRE_PG_SERVER();
  TempDir dir;
  ASSERT_EQ(kavelo_db({"sample", dir.path(), "--records", "20", "--numbering", "counter"}).exit_status, 0);
  ScratchDatabase database;
  const std::string odbc = "ODBC;" + database.connection_string();
  ASSERT_EQ(kavelo_db({"create", odbc}).exit_status, 0);
  ASSERT_EQ(kavelo_db({"sql", odbc, dir / "company.sql"}).exit_status, 0);
  const std::string link = dir / "datos/MUESTRA01.MDB";
  write_bytes(link, odbc + "\r\n");
  ::chmod(link.c_str(), 0600);
  RunResult import = run_program({bin_path("kavelo"), dir / "kavelo.conn"});
  ASSERT_EQ(import.exit_status, 0) << import.err;

  RunResult result = kavelo_db({"check", link, "--company", "muestra"});
  EXPECT_EQ(result.exit_status, 0) << result.out << result.err;
  EXPECT_EQ(result.out.find("[FALLO]"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("[ok] F_SAL: las 24 columnas mensuales del lado 'D' ("), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("[ok] F_SAL: las 24 columnas mensuales del lado 'H' ("), std::string::npos) << result.out;
}

}  // namespace
}  // namespace kavelo::test
