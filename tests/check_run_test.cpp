// The check run and the run summary through the real program: a check run
// writes the reports a real run writes and leaves the company database as it
// was, byte for byte; the summary counts what each file did and shows where
// a file stopped.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "import_scenario.h"

namespace kavelo::test {
namespace {

// The summary's lines less their two columns of time, which differ from run
// to run, and less the check run's own line.
std::string summary_without_times(const std::string& err) {
  std::istringstream lines(err);
  std::string kept;
  const std::regex times(R"( +[0-9]+,[0-9]{2} +([0-9]+|-)$)");
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("Comprobación:")) continue;
    kept += std::regex_replace(line, times, "") + "\n";
  }
  return kept;
}

struct Reports {
  int status;
  std::string final_txt, errores_txt, summary;
};

Reports collect(const std::string& interchange, const RunResult& result) {
  return {result.exit_status, read_bytes(interchange + "/FINAL.TXT"),
          exists(interchange + "/ERRORES.TXT") ? read_bytes(interchange + "/ERRORES.TXT") : "<none>",
          summary_without_times(result.err)};
}

// The sample company in each numbering mode, with a record that stops the
// customers and a journal line that stops the journal near their ends.
TEST(CheckRun, WritesTheReportsOfARealRunAndLeavesTheDatabaseAsItWas) {
  for (const char* numbering : {"counter", "date", "journal"}) {
    SCOPED_TRACE(numbering);
    TempDir dir;
    ASSERT_EQ(kavelo_db({"sample", dir.path(), "--records", "400", "--numbering", numbering}).exit_status, 0);
    const std::string database = dir / "datos/MUESTRA01.MDB";
    ASSERT_EQ(kavelo_db({"create", database}).exit_status, 0);
    ASSERT_EQ(kavelo_db({"sql", database, dir / "company.sql"}).exit_status, 0);
    write_bytes(dir / "CLI.TXT", read_bytes(dir / "CLI.TXT") + "C001|ZZZ|X\r\nX001|\r\n");
    write_bytes(dir / "APU.TXT", read_bytes(dir / "APU.TXT") + "A001|1|31/02/2011|0|1|\r\n");
    const std::string before = read_bytes(database);

    const RunResult check_run = run_program({bin_path("kavelo"), "--check", dir / "kavelo.conn"});
    EXPECT_NE(check_run.err.find("\nComprobación: la base de datos de la empresa queda como estaba.\n"),
              std::string::npos)
        << check_run.err;
    const Reports check = collect(dir.path(), check_run);
    EXPECT_TRUE(read_bytes(database) == before) << "the check run changed the database";
    EXPECT_FALSE(exists(database + "-journal"));
    std::filesystem::remove(dir / "FINAL.TXT");
    std::filesystem::remove(dir / "ERRORES.TXT");
    const Reports real = collect(dir.path(), run_program({bin_path("kavelo"), dir / "kavelo.conn"}));
    EXPECT_FALSE(read_bytes(database) == before) << "the real run stored nothing";

    EXPECT_EQ(check.status, 1);
    EXPECT_EQ(check.status, real.status);
    EXPECT_EQ(check.final_txt, expected_final_txt());
    EXPECT_EQ(check.final_txt, real.final_txt);
    EXPECT_NE(check.errores_txt.find("Clientes: (401/"), std::string::npos) << check.errores_txt;
    EXPECT_NE(check.errores_txt.find("Apuntes: ("), std::string::npos) << check.errores_txt;
    EXPECT_EQ(check.errores_txt, real.errores_txt);
    EXPECT_EQ(check.summary, real.summary);
    EXPECT_EQ(kavelo_db({"verify", database}).exit_status, 0);
  }
}

// A check run without errors adds no row either.
TEST(CheckRun, AddsNoRow) {
  TempDir dir;
  const std::string database = dir / "datos/MUESTRA01.MDB";
  ASSERT_EQ(kavelo_db({"sample", dir.path(), "--records", "50"}).exit_status, 0);
  ASSERT_EQ(kavelo_db({"create", database}).exit_status, 0);
  ASSERT_EQ(kavelo_db({"sql", database, dir / "company.sql"}).exit_status, 0);
  const std::string rows_before = kavelo_db({"count", database}).out;
  RunResult check = run_program({bin_path("kavelo"), "--check", dir / "kavelo.conn"});
  EXPECT_EQ(check.exit_status, 0) << check.err;
  EXPECT_EQ(kavelo_db({"count", database}).out, rows_before);
}

class RunSummary : public ImportScenario {};

std::string customer(const std::string& code, const std::string& cif, const std::string& retention = "0") {
  return record("C001", 52, {{2, code}, {6, cif}, {17, retention}});
}

TEST_F(RunSummary, CountsEachKindOfRecordAndShowsWhereAFileStopped) {
  file("CLI.TXT", {customer("C1", "B1"), customer("C0", "B0"), customer("C2", "B1"), customer("C3", "B3", "abc"),
                   customer("C4", "B4")});
  file("APU.TXT", {"A001;1;31/02/2011;0;1;430"});
  // A file that is not there stops before its first record.
  std::filesystem::remove(inter + "/PRO.TXT");
  // A company whose customers' tax codes are unique: C2 is refused as a duplicate.
  import("CREATE UNIQUE INDEX customer_tax_code ON F_CLI (CIFCLI);\n"
         "INSERT INTO F_CLI (CODCLI, NOMCLI, CIFCLI) VALUES ('C0', 'Antiguo', 'B0');\n");
  const RunResult& result = last_run;
  std::vector<std::string> lines;
  std::istringstream in(result.err);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 13u) << result.err;
  const std::regex row(R"((\S+) +(\d+) +(\d+) +(\d+) +(\d+) +\d+,\d\d +(\d+|-))");
  auto counts = [&](const std::string& line) {
    std::smatch m;
    EXPECT_TRUE(std::regex_match(line, m, row)) << line;
    return m.size() == 7 ? m[1].str() + " " + m[2].str() + " " + m[3].str() + " " + m[4].str() + " " + m[5].str()
                         : std::string();
  };
  EXPECT_TRUE(lines[0].starts_with("Archivo ")) << lines[0];
  EXPECT_EQ(counts(lines[1]), "MAE.TXT 0 0 0 0");
  EXPECT_EQ(counts(lines[2]), "CLI.TXT 4 1 1 1");
  EXPECT_EQ(lines[3], "  parado en el registro 4, campo 16 (RETCLI): No coinciden los tipos");
  EXPECT_EQ(lines[4], "  registro: " + customer("C3", "B3", "abc").substr(0, 60) + "...");
  EXPECT_EQ(counts(lines[5]), "PRO.TXT 0 0 0 0");
  EXPECT_TRUE(lines[6].starts_with("  parado antes del primer registro: ")) << lines[6];
  EXPECT_EQ(counts(lines[7]), "APU.TXT 1 0 0 0");
  EXPECT_TRUE(lines[8].starts_with("  parado en el registro 1, campo 02 (FECAPU): ")) << lines[8];
  EXPECT_EQ(lines[9], "  registro: A001;1;31/02/2011;0;1;430;");
  EXPECT_EQ(counts(lines[10]), "IVR.TXT 0 0 0 0");
  EXPECT_EQ(counts(lines[11]), "IVS.TXT 0 0 0 0");
  EXPECT_EQ(lines[12], "Proceso terminado con errores: " + inter + "/ERRORES.TXT");
}

}  // namespace
}  // namespace kavelo::test
