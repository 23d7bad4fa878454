// kavelo-db run as a process: creating a company database, refusing to
// overwrite one, running SQL on it and counting its rows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace kavelo::test {
namespace {

const char* const kEmptyCounts =
    "F_EMP 0\nF_AUT 0\nF_DIA 0\nF_MAE 0\nF_CLI 0\nF_PRO 0\nF_APU 0\nF_SAL 0\nF_IVR 0\nF_IVS 0\n";

TEST(KaveloDb, CreatesAnEmptyCompanyDatabase) {
  TempDir dir;
  RunResult created = kavelo_db({"create", dir / "DEMO01.MDB"});
  EXPECT_EQ(created.exit_status, 0) << created.err;
  EXPECT_EQ(created.err, "");

  RunResult counted = kavelo_db({"count", dir / "DEMO01.MDB"});
  EXPECT_EQ(counted.exit_status, 0) << counted.err;
  EXPECT_EQ(counted.out, kEmptyCounts);
}

TEST(KaveloDb, RefusesToOverwriteAnyExistingFile) {
  TempDir dir;
  ASSERT_EQ(kavelo_db({"create", dir / "DEMO01.MDB"}).exit_status, 0);
  ASSERT_EQ(kavelo_db({"sql", dir / "DEMO01.MDB", "-"}, "INSERT INTO F_AUT (CODAUT) VALUES (1);").exit_status, 0);
  write_bytes(dir / "NOTAS.TXT", "no es una base de datos\r\n");

  for (const char* name : {"DEMO01.MDB", "NOTAS.TXT"}) {
    SCOPED_TRACE(name);
    std::string before = read_bytes(dir / name);
    RunResult again = kavelo_db({"create", dir / name});
    EXPECT_EQ(again.exit_status, 1);
    EXPECT_NE(again.err.find(dir / name), std::string::npos) << again.err;
    EXPECT_EQ(read_bytes(dir / name), before);
  }
}

TEST(KaveloDb, SqlVerbRunsAFileOrStandardInput) {
  TempDir dir;
  const std::string db = dir / "DEMO01.MDB";
  ASSERT_EQ(kavelo_db({"create", db}).exit_status, 0);
  write_bytes(dir / "empresa.sql",
              "-- la empresa y sus diarios\n"
              "INSERT INTO F_EMP (CODEMP, NOMEMP, FRMEMP) VALUES ('DEMO', 'Peñalara, S.L.', '1110000');\n"
              "INSERT INTO F_DIA (CODDIA, NOMDIA, ASIDIA) VALUES (1, 'General', 10), (2, 'Ventas', 1);\n");
  RunResult from_file = kavelo_db({"sql", db, dir / "empresa.sql"});
  EXPECT_EQ(from_file.exit_status, 0) << from_file.err;
  RunResult from_stdin = kavelo_db({"sql", db, "-"}, "INSERT INTO F_AUT (CODAUT, NAAAUT, NAMAUT) VALUES (1, 1, 0);");
  EXPECT_EQ(from_stdin.exit_status, 0) << from_stdin.err;

  RunResult counted = kavelo_db({"count", db});
  EXPECT_EQ(counted.out.substr(0, 24), "F_EMP 1\nF_AUT 1\nF_DIA 2\n");
}

TEST(KaveloDb, FailingScriptChangesNothingAndSaysWhy) {
  TempDir dir;
  const std::string db = dir / "DEMO01.MDB";
  ASSERT_EQ(kavelo_db({"create", db}).exit_status, 0);
  RunResult failed = kavelo_db({"sql", db, "-"},
                               "INSERT INTO F_MAE (CODMAE) VALUES ('430');\n"
                               "INSERT INTO F_MAE (CODMAE) VALUES ('430');\n");
  EXPECT_EQ(failed.exit_status, 1);
  EXPECT_NE(failed.err.find("UNIQUE"), std::string::npos) << failed.err;
  EXPECT_EQ(kavelo_db({"count", db}).out, kEmptyCounts);
}

TEST(KaveloDb, ErrorsOnMissingFilesCreateNothing) {
  TempDir dir;
  const std::string db = dir / "NADA01.MDB";
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"sql", db, "-"}, {"count", db}, {"create", dir / "no/DEMO01.MDB"}}) {
    SCOPED_TRACE(args[0]);
    RunResult result = kavelo_db(args, "SELECT 1;");
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_NE(result.err, "");
  }
  EXPECT_FALSE(exists(db));

  ASSERT_EQ(kavelo_db({"create", db}).exit_status, 0);
  RunResult unreadable = kavelo_db({"sql", db, dir / "falta.sql"});
  EXPECT_EQ(unreadable.exit_status, 1);
  EXPECT_NE(unreadable.err.find("falta.sql"), std::string::npos) << unreadable.err;
}

TEST(KaveloDb, UsageErrorsExitWithTwo) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"crear", "X.MDB"}, {"create"}, {"create", "A.MDB", "B.MDB"}, {"sql", "A.MDB"}, {"--help", "x"}}) {
    RunResult result = kavelo_db(args);
    EXPECT_EQ(result.exit_status, 2) << ::testing::PrintToString(args);
    EXPECT_NE(result.err.find("kavelo-db create"), std::string::npos);
    EXPECT_EQ(result.out, "");
  }
}

TEST(KaveloDb, HelpAndVersion) {
  RunResult help = kavelo_db({"--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_NE(help.out.find("kavelo-db sql RUTA ARCHIVO"), std::string::npos);
  RunResult version = kavelo_db({"--version"});
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_EQ(version.out, "kavelo-db 1.0\n");
}

}  // namespace
}  // namespace kavelo::test
