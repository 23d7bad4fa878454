// kavelo-db check run as a process on real company databases, and the manual
// page of kavelo-db held to the verbs and options of its --help.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "test_support.h"

namespace kavelo::test {
namespace {

const char* const kCompanyRows =
    "INSERT INTO F_EMP (CODEMP, NOMEMP, FRMEMP) VALUES ('DEMO', 'Demo, S.L.', '1101000');\n"
    "INSERT INTO F_AUT (CODAUT, NAAAUT, NAMAUT) VALUES (1, 1, 0);\n"
    "INSERT INTO F_DIA (CODDIA, NOMDIA, ASIDIA) VALUES (1, 'General', 1);\n";

std::size_t count_of(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(KaveloDbCheck, ExitStatusAndTheLineThatNamesTheFault) {
  struct Case {
    const char* what;
    std::string sql;
    int status;
    std::string line;  // a whole line of the checklist
  };
  const Case cases[] = {
      {"reference database", kCompanyRows, 0,
       "[ok] F_EMP: empresa DEMO, FRMEMP '1101000', niveles con saldo: 1, 2, 4 y la propia"},
      {"column dropped", std::string("ALTER TABLE F_CLI DROP COLUMN NCOCLI;\n") + kCompanyRows, 3,
       "[FALLO] F_CLI: falta la columna NCOCLI (TEXT(100))"},
      {"no numbering row", std::string(kCompanyRows) + "DELETE FROM F_AUT;\n", 3,
       "[FALLO] F_AUT: no hay fila con CODAUT 1: sin ella kavelo no sabe numerar, y el primer apunte de APU.TXT "
       "con asiento 0 y orden 1 detiene la importación de APU.TXT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string database = make_company(dir.path(), "DEMO", "01", c.sql);
    RunResult result = kavelo_db({"check", database});
    EXPECT_EQ(result.exit_status, c.status) << result.out << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_NE(result.out.find("\n" + c.line + "\n"), std::string::npos) << result.out;
    // One line per check, every one of them ok or failed, and the verdict last.
    std::istringstream lines(result.out);
    std::string line, last;
    while (std::getline(lines, line)) {
      if (!last.empty()) {
        EXPECT_TRUE(last.starts_with("[ok] ") || last.starts_with("[FALLO] ")) << last;
      }
      last = line;
    }
    EXPECT_EQ(last, c.status == 0 ? "Todo correcto: kavelo puede importar en esta base de datos."
                                  : "1 comprobación fallida.");
  }
}

// A real load: the sample company imported by kavelo passes, with a line for
// each side its journal lines posted.
TEST(KaveloDbCheck, DatabaseAfterARealImportPasses) {
  TempDir dir;
  ASSERT_EQ(kavelo_db({"sample", dir.path(), "--records", "20", "--numbering", "counter"}).exit_status, 0);
  const std::string database = dir / "datos/MUESTRA01.MDB";
  ASSERT_EQ(kavelo_db({"create", database}).exit_status, 0);
  ASSERT_EQ(kavelo_db({"sql", database, dir / "company.sql"}).exit_status, 0);
  RunResult import = run_program({bin_path("kavelo"), dir / "kavelo.conn"});
  ASSERT_EQ(import.exit_status, 0) << import.err;

  RunResult result = kavelo_db({"check", database, "--company", "muestra"});
  EXPECT_EQ(result.exit_status, 0) << result.out;
  EXPECT_EQ(count_of(result.out, "[FALLO]"), 0u) << result.out;
  EXPECT_NE(result.out.find("[ok] F_AUT: fila 1 (NAAAUT 1, NAMAUT 0): numeración por el contador"), std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("[ok] F_SAL: las 24 columnas mensuales del lado 'D' ("), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("[ok] F_SAL: las 24 columnas mensuales del lado 'H' ("), std::string::npos) << result.out;
}

TEST(KaveloDbCheck, WhatIsNoDatabaseOrNoUse) {
  TempDir dir;
  const std::string database = make_company(dir.path(), "DEMO", "01", kCompanyRows);
  write_bytes(dir / "NOTAS.TXT", std::string(300, 'x'));
  write_bytes(dir / "ENLACE.MDB", "ODBC;DSN=contabilidad;UID=kavelo\r\n");
  write_bytes(dir / "ABIERTO.MDB", "ODBC;DSN=contabilidad;UID=kavelo;PWD=secreta\r\n");
  ::chmod((dir / "ENLACE.MDB").c_str(), 0600);
  ::chmod((dir / "ABIERTO.MDB").c_str(), 0644);
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;  // part of stderr
  };
  const Case cases[] = {
      {{"check", dir / "FALTA.MDB"}, 1, "'" + (dir / "FALTA.MDB") + "': no existe el archivo"},
      {{"check", dir / "NOTAS.TXT"}, 1, "no es una base de datos SQLite"},
      // A server database, named directly or by a link file, that cannot be reached.
      {{"check", "ODBC;DSN=contabilidad;UID=kavelo;PWD=secreta"}, 1, "No se puede abrir la base de datos del servidor"},
      {{"check", dir / "ENLACE.MDB"}, 1, "No se puede abrir la base de datos del servidor"},
      // A link that others may read does not give its password away.
      {{"check", dir / "ABIERTO.MDB"}, 1, "chmod 600"},
      {{"check"}, 2, "kavelo-db check RUTA [--company CODIGO]"},
      {{"check", database, "--company"}, 2, "kavelo-db check RUTA [--company CODIGO]"},
      {{"check", database, "--baseline", database}, 2, "kavelo-db check RUTA [--company CODIGO]"},
      {{"check", database, "--company", "DEMO", "--company", "DEMO"}, 2, "kavelo-db check RUTA [--company CODIGO]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    RunResult result = kavelo_db(c.args);
    EXPECT_EQ(result.exit_status, c.status);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
    // A password is never shown.
    EXPECT_EQ(result.err.find("secreta"), std::string::npos) << result.err;
  }
  EXPECT_FALSE(exists(dir / "FALTA.MDB"));
}

std::set<std::string> matches(const std::string& text, const std::regex& pattern, int group) {
  std::set<std::string> found;
  for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it) found.insert((*it)[group]);
  return found;
}

// The page's text without roff comments, font changes and escaped hyphens.
std::string manual_page_text(const std::string& roff) {
  std::istringstream in(roff);
  std::string line, text;
  while (std::getline(in, line))
    if (!line.starts_with(".\\\"") && !line.starts_with("'\\\"")) text += line + "\n";
  text = std::regex_replace(text, std::regex(R"(\\f[BIRP])"), "");
  text = std::regex_replace(text, std::regex(R"(\\&)"), "");
  return std::regex_replace(text, std::regex(R"(\\-)"), "-");
}

TEST(KaveloDbCheck, ManualPageHasExactlyTheVerbsAndOptionsOfHelp) {
  const char* root = std::getenv("KAVELO_SOURCE_DIR");
  ASSERT_NE(root, nullptr) << "KAVELO_SOURCE_DIR is not set";
  const std::string page = manual_page_text(read_bytes(std::string(root) + "/docs/man/kavelo-db.1"));
  RunResult help = kavelo_db({"--help"});
  ASSERT_EQ(help.exit_status, 0);

  const std::regex verb(R"(kavelo-db ([a-z]+))");
  const std::regex option(R"(--[a-z]+)");
  const std::set<std::string> help_verbs = matches(help.out, verb, 1);
  ASSERT_GE(help_verbs.size(), 7u) << help.out;

  const auto synopsis_start = page.find("\n.SH SINOPSIS\n");
  ASSERT_NE(synopsis_start, std::string::npos);
  const auto synopsis_end = page.find("\n.SH ", synopsis_start + 1);
  const std::string synopsis = page.substr(synopsis_start, synopsis_end - synopsis_start);
  EXPECT_EQ(matches(synopsis, verb, 1), help_verbs);
  // Each verb has its own subsection.
  EXPECT_EQ(matches(page, std::regex(R"(\n\.SS ([a-z]+)\n)"), 1), help_verbs);
  EXPECT_EQ(matches(page, option, 0), matches(help.out, option, 0));
}

}  // namespace
}  // namespace kavelo::test
