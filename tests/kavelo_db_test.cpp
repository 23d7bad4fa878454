// kavelo-db on company files (the cases of postgres/kavelo_db_cases.h), what
// it refuses, and its manual page held to the verbs and options of --help.
#include <cstdlib>
#include <regex>
#include <set>

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
  link_to(dir / "ENLACE.MDB", "ODBC;DSN=contabilidad;UID=kavelo");
  link_to(dir / "ABIERTO.MDB", "ODBC;DSN=contabilidad;UID=kavelo;PWD=secreta");
  ::chmod((dir / "ABIERTO.MDB").c_str(), 0644);
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;  // part of stderr
  };
  const Case cases[] = {
      {{"sql", missing, "-"}, 1, "No se puede abrir la base de datos '" + missing + "'"},
      {{"count", missing}, 1, "No se puede abrir la base de datos '" + missing + "'"},
      {{"check", missing}, 1, "'" + missing + "': no existe el archivo"},
      {{"create", dir / "no/DEMO01.MDB"}, 1, "No se puede crear el archivo '" + (dir / "no/DEMO01.MDB") + "'"},
      {{"sql", db, dir / "falta.sql"}, 1, "No se puede leer el archivo '" + (dir / "falta.sql") + "'"},
      {{"check", dir / "NOTAS.TXT"}, 1, "no es una base de datos SQLite"},
      // A server database, named directly or by a link file, that cannot be reached.
      {{"check", "ODBC;DSN=contabilidad;UID=kavelo;PWD=secreta"}, 1, "No se puede abrir la base de datos del servidor"},
      {{"check", dir / "ENLACE.MDB"}, 1, "No se puede abrir la base de datos del servidor"},
      // A link that others may read does not give its password away.
      {{"check", dir / "ABIERTO.MDB"}, 1, "chmod 600"},
      {{}, 2, usage},
      {{"crear", "X.MDB"}, 2, usage},
      {{"create"}, 2, usage},
      {{"create", "A.MDB", "B.MDB"}, 2, usage},
      {{"sql", "A.MDB"}, 2, usage},
      {{"--help", "x"}, 2, usage},
      {{"check"}, 2, usage},
      {{"check", db, "--company"}, 2, usage},
      {{"check", db, "--baseline", db}, 2, usage},
      {{"check", db, "--company", "DEMO", "--company", "DEMO"}, 2, usage},
  };
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

  RunResult version = kavelo_db({"--version"});
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_EQ(version.out, "kavelo-db 1.0\n");
}

std::set<std::string> matches(const std::string& text, const std::string& pattern, int group = 0) {
  std::set<std::string> found;
  const std::regex re(pattern);
  for (std::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it) found.insert((*it)[group]);
  return found;
}

TEST(KaveloDbRefuses, HelpAndManualPageNameTheSameVerbsAndOptions) {
  RunResult help = kavelo_db({"--help"});
  ASSERT_EQ(help.exit_status, 0);
  EXPECT_NE(help.out.find("kavelo-db sql RUTA ARCHIVO"), npos) << help.out;
  const std::set<std::string> verbs = matches(help.out, "kavelo-db ([a-z]+)", 1);
  ASSERT_GE(verbs.size(), 7u) << help.out;

  // The page's text without roff comments, font changes and escaped hyphens.
  const char* root = std::getenv("KAVELO_SOURCE_DIR");
  ASSERT_NE(root, nullptr) << "KAVELO_SOURCE_DIR is not set";
  std::string page = std::regex_replace(read_bytes(std::string(root) + "/docs/man/kavelo-db.1"),
                                        std::regex(R"((^|\n)['.]\\".*|\\f[BIRP]|\\&)"), "$1");
  page = std::regex_replace(page, std::regex(R"(\\-)"), "-");
  const auto synopsis = page.find("\n.SH SINOPSIS\n");
  ASSERT_NE(synopsis, npos);
  EXPECT_EQ(matches(page.substr(synopsis, page.find("\n.SH ", synopsis + 1) - synopsis), "kavelo-db ([a-z]+)", 1), verbs);
  // Each verb has its own subsection.
  EXPECT_EQ(matches(page, R"(\n\.SS ([a-z]+)\n)", 1), verbs);
  EXPECT_EQ(matches(page, "--[a-z]+"), matches(help.out, "--[a-z]+"));
}

}  // namespace
}  // namespace kavelo::test
