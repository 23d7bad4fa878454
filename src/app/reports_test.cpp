#include "app/reports.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "test_support.h"

namespace kavelo {
namespace {

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) found.push_back(entry.path().filename());
  std::sort(found.begin(), found.end());
  return found;
}

// The error lines keep their own line ends and replace a longer old report;
// a temporary file of an earlier process with this one's number is no
// obstacle and is not left behind.
TEST(WriteReports, ReplaceTheOldOnesWholeAndLeaveNothingElse) {
  test::TempDir dir;
  test::write_bytes(dir / "ERRORES.TXT", std::string(500, 'x'));
  test::write_bytes(dir / ("FINAL.TXT." + std::to_string(::getpid()) + ".tmp"), "stale");
  EXPECT_EQ(write_reports(dir.path() + "/", "Maestro: (2/04) Desbordamiento\r\nClientes: (7/00) Identificador\r\n"),
            kExitErrorsReported);
  EXPECT_EQ(test::read_bytes(dir / "ERRORES.TXT"),
            "Maestro: (2/04) Desbordamiento\r\nClientes: (7/00) Identificador\r\n\r\n");
  EXPECT_EQ(test::read_bytes(dir / "FINAL.TXT"), test::expected_final_txt());
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"ERRORES.TXT", "FINAL.TXT"}));
}

}  // namespace
}  // namespace kavelo
