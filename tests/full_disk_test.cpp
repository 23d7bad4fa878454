// The company database on a file system that fills up in mid-import (a small
// memory file system this test mounts, so it needs root).
#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fmt/format.h>
#include <string>

#include "import_scenario.h"

namespace kavelo::test {
namespace {

class FullDisk : public ImportScenario {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    if (mount("tmpfs", data.c_str(), "tmpfs", 0, "size=600k") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) umount(data.c_str());
  }
  bool mounted_ = false;
};

TEST_F(FullDisk, TheFailingRecordIsReportedAndTheDatabaseStaysSound) {
  std::vector<std::string> lines;
  for (int i = 0; i < 20000; ++i)
    lines.push_back(fmt::format("M001;{:07};Cuenta de prueba con un nombre largo número {};;1;0;0;", i, i));
  file("MAE.TXT", lines);
  std::string customer = "C001;C1;0;Cliente";
  for (int i = 4; i < 52; ++i) customer += ";0";
  file("CLI.TXT", {customer});
  std::string errors = import();
  // What was stored opens and is whole.
  auto check = query_rows(database, "PRAGMA integrity_check");
  ASSERT_FALSE(check.empty());
  EXPECT_EQ(check[0][0].second, "'ok'");
  long stored = std::stol(query_rows(database, "SELECT count(*) FROM F_MAE").at(0)[0].second);
  EXPECT_LT(stored, 20000);
  // The import of the accounts ends where the disk is full, clearly said, and
  // names the first record that is not stored: every one before it is. When
  // the disk fills in a commit, that is its one line. When it fills in a
  // record's own write, the transaction goes with it: the failing record's
  // line comes first, and a second names the first of the records lost.
  const std::string full = "No queda espacio en el disco para la base de datos '" + database + "'.";
  const std::string first_lost = error_line("Maestro: (", static_cast<int>(stored) + 1, "", full);
  // The accounts are the first file: their lines open the report.
  const std::size_t last = errors.rfind("Maestro: (");
  const std::string account_lines =
      last == std::string::npos ? std::string() : errors.substr(0, errors.find("\r\n", last) + 2);
  if (account_lines != first_lost) {
    int failing = 0;
    ASSERT_EQ(std::sscanf(account_lines.c_str(), "Maestro: (%d/", &failing), 1) << errors;
    EXPECT_GT(failing, stored + 1) << errors;
    EXPECT_EQ(account_lines, error_line("Maestro: (", failing, "", full) + first_lost)
        << errors << "(" << stored << " accounts stored)";
  }
}

// The interchange folder on a file system mounted read-only (root is not
// stopped by a folder's permissions, a read-only mount stops everyone): no
// report can be written, so nothing is imported and the run ends at once with
// status 2. The same when a report's place is taken by a folder.
class UnwritableReports : public ImportScenario {
 protected:
  void TearDown() override {
    if (mounted_) umount(inter.c_str());
  }
  bool mounted_ = false;
};

TEST_F(UnwritableReports, NothingIsImportedWhenNoReportCanBeWritten) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a file system needs root";
  if (mount("tmpfs", inter.c_str(), "tmpfs", 0, "size=1m") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
  mounted_ = true;
  file("MAE.TXT", {"M001;100;Caja;;1;0;0;"});
  for (const char* name : {"CLI.TXT", "PRO.TXT", "APU.TXT", "IVR.TXT", "IVS.TXT"}) file(name, {});
  ASSERT_EQ(mount("tmpfs", inter.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=1m"), 0);
  database = make_company(data, "EMP", "01", kCompanySql);
  const RunResult result = run_program({bin_path("kavelo"), conn}, "", std::nullopt, std::chrono::seconds(60));
  EXPECT_EQ(result.exit_status, 2) << result.err;
  EXPECT_NE(result.err.find(inter + "/ERRORES.TXT"), std::string::npos) << result.err;
  EXPECT_EQ(query_rows(database, "SELECT count(*) FROM F_MAE").at(0)[0].second, "0");
}

// A folder where a report should go. Without its error report a FINAL.TXT
// would read as a run without errors: the earlier run's goes too.
TEST_F(UnwritableReports, AFolderInAReportsPlace) {
  for (const std::string report : {"FINAL.TXT", "ERRORES.TXT"}) {
    SCOPED_TRACE(report);
    file("MAE.TXT", {"M001;100;Caja;;1;0;0;"});
    make_dir(inter + "/" + report);
    write_bytes(inter + "/" + report + "/dentro", "");
    if (report == "ERRORES.TXT") write_bytes(inter + "/FINAL.TXT", "viejo\r\n");
    database = make_company(data, "EMP", "01", kCompanySql);
    const RunResult result = run_program({bin_path("kavelo"), conn}, "", std::nullopt, std::chrono::seconds(60));
    EXPECT_EQ(result.exit_status, 2) << result.err;
    EXPECT_EQ(rows("SELECT count(*) FROM F_MAE"), std::vector<std::string>{"0"});
    if (report == "ERRORES.TXT") {
      EXPECT_NE(result.err.find(inter + "/ERRORES.TXT"), std::string::npos) << result.err;
      EXPECT_FALSE(exists(inter + "/FINAL.TXT"));
    }
    for (const char* name : {"FINAL.TXT", "ERRORES.TXT"}) std::filesystem::remove_all(inter + "/" + name);
    start_again();
  }
}

}  // namespace
}  // namespace kavelo::test
