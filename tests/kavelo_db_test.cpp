// kavelo-db on company files (the cases of postgres/kavelo_db_cases.h), and
// what it refuses. (package_test.sh holds its manual page to its --help.)
#include "postgres/kavelo_db_cases.h"

namespace kavelo::test {
namespace {

INSTANTIATE_TEST_SUITE_P(File, KaveloDb, ::testing::Values(Store::file), store_name);

// Neither a server nor a database to be found; the usage.
TEST(KaveloDbRefuses, WhatIsNoDatabaseOrNoUse) {
  TempDir dir;
  const std::string db = dir / "DEMO01.MDB", missing = dir / "FALTA.MDB";
  const char* const usage = "kavelo-db check RUTA [--company CODIGO]";
  ASSERT_EQ(kavelo_db({"create", db}).exit_status, 0);
  write_bytes(dir / "NOTAS.TXT", std::string(300, 'x'));
  link_to(dir / "ENLACE.MDB", "ODBC;Server=127.0.0.1;Port=1;Database=x;UID=kavelo");
  link_to(dir / "ABIERTO.MDB", "ODBC;DSN=contabilidad;UID=kavelo;PWD=secreta");
  ::chmod((dir / "ABIERTO.MDB").c_str(), 0644);
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;  // part of stderr
  };
  std::vector<Case> cases = {
      {{"sql", missing, "-"}, 1, "No se puede abrir la base de datos '" + missing + "'"},
      {{"count", missing}, 1, "No se puede abrir la base de datos '" + missing + "'"},
      {{"check", missing}, 1, "No se puede abrir la base de datos '" + missing + "': no existe el archivo"},
      {{"check", dir.path()}, 1, "No se puede abrir la base de datos '" + dir.path() + "': es una carpeta"},
      {{"create", dir / "no/DEMO01.MDB"}, 1, "No se puede crear el archivo '" + (dir / "no/DEMO01.MDB") + "'"},
      {{"sql", db, dir / "falta.sql"}, 1, "No se puede leer el archivo '" + (dir / "falta.sql") + "'"},
      {{"check", dir / "NOTAS.TXT"}, 1,
       "No se puede abrir la base de datos '" + (dir / "NOTAS.TXT") + "': no es una base de datos SQLite"},
      // A server database, named directly or by a link file, that cannot be
      // reached (nothing listens on port 1 of this machine).
      {{"check", "ODBC;DSN=contabilidad;UID=kavelo;PWD=secreta"}, 1,
       "kavelo-db: No se puede abrir la base de datos del servidor: Error del motor de base de datos: no se puede "
       "conectar con el servidor de base de datos de la cadena de conexión: "},
      {{"check", dir / "ENLACE.MDB"}, 1,
       "kavelo-db: No se puede abrir la base de datos del servidor: Error del motor de base de datos: no se puede "
       "conectar con el servidor de base de datos '127.0.0.1' (puerto 1): "},
      // A link that others may read does not give its password away.
      {{"check", dir / "ABIERTO.MDB"}, 1, "chmod 600"},
  };
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"crear", "X.MDB"}, {"create"}, {"create", "A.MDB", "B.MDB"}, {"sql", "A.MDB"}, {"--help", "x"}, {"check"},
           {"check", db, "--company"}, {"check", db, "--baseline", db}, {"check", db, "--company", "DEMO", "--company", "DEMO"},
           // An option the verb does not take is no path nor name.
           {"count", db, "--verbose"}, {"balances", db, "430", "--all"}, {"verify", db, "--company", "DEMO", "--quiet"}})
    cases.push_back({args, 2, usage});
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    RunResult result = kavelo_db(c.args, "SELECT 1;");
    EXPECT_EQ(result.exit_status, c.status);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find(c.err), npos) << result.err;
    // A password is never shown.
    EXPECT_EQ(result.err.find("secreta"), npos) << result.err;
  }
  EXPECT_FALSE(exists(missing));
  EXPECT_FALSE(exists(dir / "no"));
  // Nor is it a folder or a database to make, here in the current folder.
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"sample", "--help"}, {"create", "--x.MDB"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    std::vector<std::string> argv = {bin_path("kavelo-db")};
    argv.insert(argv.end(), args.begin(), args.end());
    const RunResult refused = run_program(argv, dir.path());
    EXPECT_EQ(refused.exit_status, 2);
    EXPECT_NE(refused.err.find("opción desconocida: --"), npos) << refused.err;
    EXPECT_NE(refused.err.find(usage), npos) << refused.err;
    EXPECT_FALSE(exists(dir / args[1])) << args[1];
  }

  RunResult version = kavelo_db({"--version"}), help = kavelo_db({"--help"});
  EXPECT_EQ(version.exit_status + help.exit_status, 0);
  EXPECT_EQ(version.out, "kavelo-db 1.0\n");
  EXPECT_NE(help.out.find("kavelo-db sql RUTA ARCHIVO"), npos) << help.out;
}

}  // namespace
}  // namespace kavelo::test
