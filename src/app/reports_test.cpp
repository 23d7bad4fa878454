#include "app/reports.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kavelo {
namespace {

class ReportsTest : public ::testing::Test {
 protected:
  ReportsTest() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kavelo-reports-XXXXXX").string();
    dir_ = std::string(::mkdtemp(pattern.data())) + "/";
  }
  ~ReportsTest() override { std::filesystem::remove_all(dir_); }

  std::string read(const std::string& name) const {
    std::ifstream in(dir_ + name, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }
  std::vector<std::string> names() const {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) found.push_back(entry.path().filename());
    std::sort(found.begin(), found.end());
    return found;
  }

  std::string dir_;
};

TEST_F(ReportsTest, ErrorLinesKeepTheirOwnLineEnds) {
  std::ofstream(dir_ + "ERRORES.TXT") << std::string(500, 'x');
  const int status = write_reports(dir_, "Maestro: (2/04) Desbordamiento\r\nClientes: (7/00) Identificador\r\n");
  EXPECT_EQ(status, kExitErrorsReported);
  EXPECT_EQ(read("ERRORES.TXT"), "Maestro: (2/04) Desbordamiento\r\nClientes: (7/00) Identificador\r\n\r\n");
  EXPECT_EQ(names(), (std::vector<std::string>{"ERRORES.TXT", "FINAL.TXT"}));
}

TEST_F(ReportsTest, TemporaryFileOfAnEarlierProcessIsNoObstacle) {
  std::ofstream(dir_ + "FINAL.TXT." + std::to_string(::getpid()) + ".tmp") << "stale";
  EXPECT_EQ(write_reports(dir_, ""), kExitNoErrors);
  EXPECT_EQ(names(), std::vector<std::string>{"FINAL.TXT"});
  EXPECT_EQ(read("FINAL.TXT").size(), 179u);  // the whole report
}

}  // namespace
}  // namespace kavelo
