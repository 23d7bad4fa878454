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
  file("CLI.TXT", {record("C001", 52, {{2, "C1"}, {4, "Cliente"}})});
  std::string errors = import();
  // What was stored opens and is whole.
  EXPECT_EQ(rows("PRAGMA integrity_check"), std::vector<std::string>{"'ok'"});
  const long stored = std::stol(rows("SELECT count(*) FROM F_MAE").at(0));
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

// No report can be written: a report's place taken by a folder, or the
// interchange folder on a file system mounted read-only (root is not stopped
// by a folder's permissions, a read-only mount stops everyone). Nothing is
// imported and the run ends at once with status 2. Without its error report
// a FINAL.TXT would read as a run without errors: the earlier run's goes too.
class UnwritableReports : public ImportScenario {
 protected:
  void TearDown() override {
    if (mounted_) umount(inter.c_str());
  }
  bool mounted_ = false;
};

TEST_F(UnwritableReports, NothingIsImportedWhenNoReportCanBeWritten) {
  for (const std::string place : {"FINAL.TXT", "ERRORES.TXT", "read-only"}) {
    SCOPED_TRACE(place);
    start_again();
    file("MAE.TXT", {"M001;100;Caja;;1;0;0;"});
    write_bytes(inter + "/FINAL.TXT", "viejo\r\n");
    if (place == "read-only") {
      if (geteuid() != 0) GTEST_SKIP() << "mounting a file system needs root";
      if (mount("tmpfs", inter.c_str(), "tmpfs", 0, "size=1m") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
      mounted_ = true;
      empty_files();
      file("MAE.TXT", {"M001;100;Caja;;1;0;0;"});
      ASSERT_EQ(mount("tmpfs", inter.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=1m"), 0);
    } else {
      std::filesystem::remove(inter + "/" + place);
      make_dir(inter + "/" + place);
      write_bytes(inter + "/" + place + "/dentro", "");
    }
    database = make_company(data, "EMP", "01", kCompanySql);
    const RunResult result = run_program({bin_path("kavelo"), conn}, "", std::nullopt, std::chrono::seconds(60));
    EXPECT_EQ(result.exit_status, 2) << result.err;
    EXPECT_EQ(rows("SELECT count(*) FROM F_MAE"), std::vector<std::string>{"0"});
    if (place != "FINAL.TXT") {
      EXPECT_NE(result.err.find(inter + "/ERRORES.TXT"), std::string::npos) << result.err;
    }
    if (place == "ERRORES.TXT") {
      EXPECT_FALSE(exists(inter + "/FINAL.TXT"));
    }
    for (const char* name : {"FINAL.TXT", "ERRORES.TXT"}) std::filesystem::remove_all(inter + "/" + name);
  }
}

}  // namespace
}  // namespace kavelo::test
