// The company database on a file system that fills up in mid-import (a small
// memory file system this test mounts, so it needs root).
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <fmt/format.h>
#include <string>

#include "import_scenario.h"

namespace kavelo::e2e {
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
  // its line names the first record that is not stored: every one before it is.
  EXPECT_TRUE(errors.starts_with(error_line("Maestro: (", static_cast<int>(stored) + 1, "",
                                            "No queda espacio en el disco para la base de datos '" + database +
                                                "'.")))
      << errors << "(" << stored << " accounts stored)";
}

}  // namespace
}  // namespace kavelo::e2e
