#include "app/reports.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "test_support.h"

namespace kavelo {
namespace {

// The error lines keep their own line ends and replace a longer old report;
// a temporary file of an earlier process with this one's number is no
// obstacle and is not left behind.
TEST(WriteReports, ReplaceTheOldOnesWholeAndLeaveNothingElse) {
  test::TempDir dir;
  const std::string stale = dir / ("FINAL.TXT." + std::to_string(::getpid()) + ".tmp");
  test::write_bytes(dir / "ERRORES.TXT", std::string(500, 'x'));
  test::write_bytes(stale, "stale");
  EXPECT_EQ(write_reports(dir.path() + "/", "Maestro: (2/04) Desbordamiento\r\nClientes: (7/00) Identificador\r\n"),
            kExitErrorsReported);
  EXPECT_EQ(test::read_bytes(dir / "ERRORES.TXT"),
            "Maestro: (2/04) Desbordamiento\r\nClientes: (7/00) Identificador\r\n\r\n");
  EXPECT_EQ(test::read_bytes(dir / "FINAL.TXT"), test::expected_final_txt());
  EXPECT_FALSE(test::exists(stale));
}

}  // namespace
}  // namespace kavelo
