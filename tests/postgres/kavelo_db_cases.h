#pragma once
// kavelo-db run as a process on a company database: the cases every store
// passes, run on a file by tests/kavelo_db_test.cpp and on the test server
// (named by "ODBC;" and a connection string, or by a link file) by
// tests/postgres/kavelo_db_test.cpp.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <list>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/pg/test_server.h"
#include "test_support.h"

namespace kavelo::test {
namespace {

constexpr auto npos = std::string::npos;
const char* const kCompanyRows =
    "INSERT INTO F_EMP (CODEMP, NOMEMP, FRMEMP) VALUES ('DEMO', 'Demo, S.L.', '1101000');\n"
    "INSERT INTO F_AUT (CODAUT, NAAAUT, NAMAUT) VALUES (1, 1, 0);\n"
    "INSERT INTO F_DIA (CODDIA, NOMDIA, ASIDIA) VALUES (1, 'General', 1);\n";

// A link file, readable only by its owner.
inline void link_to(const std::string& path, const std::string& odbc) {
  write_bytes(path, odbc + "\r\n");
  ::chmod(path.c_str(), 0600);
}

enum class Store { file, server };
inline std::string store_name(const ::testing::TestParamInfo<Store>& info) {
  return info.param == Store::file ? "file" : "server";
}

class KaveloDb : public ::testing::TestWithParam<Store> {
 protected:
  void SetUp() override {
    if (server()) KAVELO_REQUIRE_PG_SERVER();
  }
  bool server() const { return GetParam() == Store::server; }

  // A company database at `path`, not created yet. `create` is what
  // kavelo-db create takes ("ODBC;..." on a server), `path` what the other
  // verbs take (on a server, a link file); `names` every way to name it.
  struct Database {
    std::string create, path;
    std::vector<std::string> names() const { return create == path ? std::vector{path} : std::vector{create, path}; }
  };
  Database fresh(const std::string& path) {
    if (!server()) return {path, path};
    const std::string odbc = "ODBC;" + databases_.emplace_back().connection_string();
    link_to(path, odbc);
    return {odbc, path};
  }
  // A company made by kavelo-db with the statements of `sql`.
  Database company(const std::string& path, const std::string& sql) {
    Database database = fresh(path);
    RunResult created = kavelo_db({"create", database.create});
    RunResult filled = kavelo_db({"sql", database.path, "-"}, sql);
    if (created.exit_status != 0 || filled.exit_status != 0)
      throw std::runtime_error("kavelo-db: " + created.err + filled.err);
    return database;
  }

  TempDir dir_;
  std::list<db::pg::testing::ScratchDatabase> databases_;
};

TEST_P(KaveloDb, CreateSqlAndCount) {
  const Database db = fresh(dir_ / "DEMO01.MDB");
  RunResult created = kavelo_db({"create", db.create});
  EXPECT_EQ(created.exit_status, 0) << created.err;
  EXPECT_EQ(created.out + created.err, "");
  RunResult counted = kavelo_db({"count", db.path});
  EXPECT_EQ(counted.exit_status, 0) << counted.err;
  EXPECT_EQ(counted.out, "F_EMP 0\nF_AUT 0\nF_DIA 0\nF_MAE 0\nF_CLI 0\nF_PRO 0\nF_APU 0\nF_SAL 0\nF_IVR 0\nF_IVS 0\n");

  // A script file (semicolons in a comment and a string), and standard input.
  write_bytes(dir_ / "empresa.sql",
              "-- la empresa; sus diarios\n"
              "INSERT INTO F_EMP (CODEMP, NOMEMP, FRMEMP) VALUES ('DEMO', 'Peñalara; S.L.', '1110000');\n"
              "INSERT INTO F_DIA (CODDIA, NOMDIA, ASIDIA) VALUES (1, 'General', 10), (2, 'Ventas', 1);\n");
  RunResult from_file = kavelo_db({"sql", db.path, dir_ / "empresa.sql"});
  EXPECT_EQ(from_file.exit_status, 0) << from_file.err;
  // Names that hold a quote, for count and balances.
  RunResult from_stdin = kavelo_db(
      {"sql", db.create, "-"},
      "INSERT INTO F_AUT (CODAUT, NAAAUT, NAMAUT) VALUES (1, 1, 0); INSERT INTO F_MAE (CODMAE) VALUES ('430');"
      "INSERT INTO F_IVS (CODIVS) VALUES (1); INSERT INTO F_SAL (CUESAL, DIASAL, PD3SAL, ED3SAL) VALUES "
      "('430', 1, 1663.86, 10); ALTER TABLE F_SAL ADD COLUMN \"NOTA\"\"S\" varchar(5);"
      "CREATE TABLE \"NOTA\"\"S\" (X varchar(5));");
  EXPECT_EQ(from_stdin.exit_status, 0) << from_stdin.err;

  // create never goes over a database, nor over any other file. The prefix
  // is read in any case, as a connection file would write it.
  write_bytes(dir_ / "NOTAS.TXT", "no es una base de datos\r\n");
  const std::string before = read_bytes(db.path);
  for (const std::string& again : {server() ? "odbc;" + db.create.substr(5) : db.path, dir_ / "NOTAS.TXT"}) {
    RunResult refused = kavelo_db({"create", again});
    EXPECT_EQ(refused.exit_status, 1) << again;
    EXPECT_NE(refused.err.find(again.starts_with("odbc;") ? "ya tiene la tabla F_EMP" : again), npos) << refused.err;
  }
  EXPECT_EQ(read_bytes(db.path), before);
  EXPECT_EQ(read_bytes(dir_ / "NOTAS.TXT"), "no es una base de datos\r\n");
  if (server()) {  // A database the server lacks names its server.
    namespace pg = db::pg::testing;
    RunResult lacking = kavelo_db({"create", "ODBC;" + pg::with_database(pg::admin_connection_string(), "no_such_db")});
    EXPECT_EQ(lacking.exit_status, 1);
    for (const char* part : {"no se puede conectar con el servidor de base de datos '127.0.0.1'", "no_such_db"})
      EXPECT_NE(lacking.err.find(part), npos) << lacking.err;
  }

  // A script that fails changes nothing and says where.
  RunResult failed = kavelo_db({"sql", db.path, "-"}, "INSERT INTO F_MAE (CODMAE) VALUES ('431');\n"
                                                      "INSERT INTO F_MAE (CODMAE) VALUES ('430');");
  EXPECT_EQ(failed.exit_status, 1);
  for (const char* part : server() ? std::vector{"(sentencia 2: INSERT INTO F_MAE (CODMAE) VALUES ('430'))", "duplicados"}
                                   : std::vector{"kavelo-db: Error en la sentencia 2 (INSERT INTO F_MAE (CODMAE) VALUES "
                                                 "('430');): UNIQUE constraint failed: F_MAE.CODMAE\n"})
    EXPECT_NE(failed.err.find(part), npos) << failed.err;
  counted = kavelo_db({"count", db.path});
  EXPECT_EQ(counted.out,
            "F_EMP 1\nF_AUT 1\nF_DIA 2\nF_MAE 1\nF_CLI 0\nF_PRO 0\nF_APU 0\nF_SAL 1\nF_IVR 0\nF_IVS 1\nNOTA\"S 0\n");
  EXPECT_EQ(kavelo_db({"balances", db.path, "430", "431"}).out,
            "Cuenta 430\n  diario  mes lado          euros        pesetas\n"
            "       1    3 D             10,00        1663,86\nCuenta 431: sin saldos\n");
}

TEST_P(KaveloDb, CheckNamesEachFaultOnALineOfItsOwn) {
  const std::string reference = "[ok] F_EMP: empresa DEMO, FRMEMP '1101000', niveles con saldo: 1, 2, 4 y la propia";
  struct Case {
    const char* what;
    std::string changes;
    std::string file_line, server_line;  // a whole line of the checklist; "" where it cannot happen
  };
  const Case cases[] = {
      {"reference database", "", reference, reference},
      {"column dropped", "ALTER TABLE F_CLI DROP COLUMN NCOCLI;", "[FALLO] F_CLI: falta la columna NCOCLI (TEXT(100))",
       "[FALLO] F_CLI: falta la columna NCOCLI (varchar(100))"},
      // kavelo finds the rows of a table by its own key.
      {"no key to find the rows by", "ALTER TABLE f_apu DROP CONSTRAINT f_apu_diaapu_fecapu_asiapu_ordapu_key;", "",
       "[FALLO] F_APU: no tiene una clave principal ni un índice único sobre DIAAPU, FECAPU, ASIAPU, ORDAPU: kavelo "
       "no puede encontrar sus filas"},
      // Amounts in cents are stored in cents, and balances in cents then
      // hold their sums; balances in cents of lines in ten-thousandths do
      // not. Wider decimals, and any scale, are no fault.
      {"balances kept in cents",
       "ALTER TABLE f_cli ALTER COLUMN retcli TYPE numeric(19,2), ALTER COLUMN ivacli TYPE numeric(24,6), "
       "ALTER COLUMN reccli TYPE numeric; ALTER TABLE f_sal ALTER COLUMN pd1sal TYPE numeric(19,2);",
       "",
       "[FALLO] F_SAL: la columna pd1sal es numeric(19,2) y guarda menos decimales que los importes de F_APU: sus "
       "saldos no serían la suma de sus apuntes"},
      {"whole digits too few", "ALTER TABLE f_cli ALTER COLUMN retcli TYPE numeric(12,4);", "",
       "[FALLO] F_CLI: la columna retcli es numeric(12,4) y debe ser numeric(19,4) o más amplia: no guardaría los "
       "importes grandes"},
      // The key of a schema made before keys were folded: it merges codes
      // that differ in more than case.
      {"key by a collation that merges codes",
       "CREATE COLLATION IF NOT EXISTS kavelo_nocase (provider = icu, locale = 'und-u-ks-level2', deterministic = "
       "false); ALTER TABLE f_cli ALTER COLUMN codcli TYPE varchar(10) COLLATE kavelo_nocase;",
       "",
       "[FALLO] F_CLI: la columna codcli de la clave compara con la intercalación kavelo_nocase, que toma por un "
       "mismo código otros que difieren en más que mayúsculas (un guion discreto, 'º' y 'o'): kavelo pasa por alto "
       "como duplicado el registro de uno de ellos; sin esa intercalación y con un índice único sobre "
       "lower((codcli)::text COLLATE \"und-x-icu\") la clave solo no distingue mayúsculas"},
  };
  int made = 0;
  for (const Case& c : cases) {
    const std::string& line = server() ? c.server_line : c.file_line;
    if (line.empty()) continue;
    const Database db = company(dir_ / ("C" + std::to_string(++made) + ".MDB"), kCompanyRows + c.changes);
    const bool ok = c.changes.empty();
    for (const std::string& named : db.names()) {
      SCOPED_TRACE(std::string(c.what) + " " + named);
      RunResult result = kavelo_db({"check", named});
      EXPECT_EQ(result.exit_status, ok ? 0 : 3) << result.out << result.err;
      EXPECT_EQ(result.err, "");
      EXPECT_NE(("\n" + result.out).find("\n" + line + "\n"), npos) << result.out;
      // One line per check, every one of them ok or failed, and the verdict last.
      const std::string verdict =
          ok ? "Todo correcto: kavelo puede importar en esta base de datos\\." : "1 comprobación fallida\\.";
      EXPECT_TRUE(std::regex_match(result.out, std::regex("(\\[(ok|FALLO)\\] [^\n]*\n)+" + verdict + "\n")))
          << result.out;
    }
    // The same company gives the same lines on a server as in a file.
    if (ok && server()) {
      const std::string file = dir_ / "ARCHIVO.MDB";
      ASSERT_EQ(kavelo_db({"create", file}).exit_status, 0);
      ASSERT_EQ(kavelo_db({"sql", file, "-"}, kCompanyRows).exit_status, 0);
      for (const std::string& named : db.names())
        EXPECT_EQ(kavelo_db({"check", named, "--company", "demo"}).out, kavelo_db({"check", file}).out) << named;
    }
  }
}

// A sample of 600 records imports whole (its texts include accented ones as
// long as their column), and what kavelo stored passes: its numbering, and
// its journal lines' sides have their balance columns.
TEST_P(KaveloDb, CheckPassesAfterARealImport) {
  ASSERT_EQ(kavelo_db({"sample", dir_.path(), "--records", "600", "--numbering", "counter"}).exit_status, 0);
  const Database db = company(dir_ / "datos/MUESTRA01.MDB", read_bytes(dir_ / "company.sql"));
  RunResult import = run_program({bin_path("kavelo"), dir_ / "kavelo.conn"});
  ASSERT_EQ(import.exit_status, 0) << import.err;

  RunResult result = kavelo_db({"check", db.path, "--company", "muestra"});
  EXPECT_EQ(result.exit_status, 0) << result.out << result.err;
  for (const char* line : {"[ok] F_AUT: fila 1 (NAAAUT 1, NAMAUT 0): numeración por el contador",
                           "[ok] F_SAL: las 24 columnas mensuales del lado 'D' (",
                           "[ok] F_SAL: las 24 columnas mensuales del lado 'H' ("})
    EXPECT_NE(result.out.find(line), npos) << result.out;
}

}  // namespace
}  // namespace kavelo::test
