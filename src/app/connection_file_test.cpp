#include "app/connection_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/failure.h"

namespace kavelo {
namespace {

using Lines = std::vector<std::string>;

TEST(SplitLines, EndsAtCrOrCrLfOnly) {
  struct Case {
    std::string bytes;
    std::size_t wanted;
    Lines lines;
  };
  const Case cases[] = {
      {"", 8, {}},
      {"a\r\nb\r\n", 8, {"a", "b"}},
      {"a\rb\r", 8, {"a", "b"}},
      {"a\r\nb", 8, {"a", "b"}},
      {"a\nb\r\n", 8, {"a\nb"}},
      {"a\r\n\r\n\r\nb\r\n", 8, {"a", "", "", "b"}},
      // CR LF is one line end, LF CR is a line's LF and then its end.
      {"a\n\rb", 8, {"a\n", "b"}},
      {"1\r2\r3\r4\r", 2, {"1", "2"}},
      {"\r\n", 8, {""}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(split_lines(c.bytes, c.wanted), c.lines) << testing::PrintToString(c.bytes);
  }
}

TEST(FolderLines, TrimSpacesOnlyAndEndInOneSlash) {
  EXPECT_EQ(trim_blanks("  a b  "), "a b");
  EXPECT_EQ(trim_blanks("\ta \t"), "\ta \t");
  EXPECT_EQ(trim_blanks("   "), "");
  EXPECT_EQ(as_folder("  /x/y "), "/x/y/");
  EXPECT_EQ(as_folder("/x/y/ "), "/x/y/");
  EXPECT_EQ(as_folder("/x/y//"), "/x/y//");
  EXPECT_EQ(as_folder(""), "/");
}

class ConnectionFileTest : public ::testing::Test {
 protected:
  ConnectionFileTest() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kavelo-conn-XXXXXX").string();
    dir_ = ::mkdtemp(pattern.data());
  }
  ~ConnectionFileTest() override { std::filesystem::remove_all(dir_); }

  std::string write(const std::string& bytes) {
    const std::string path = dir_ + "/conexion.txt";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  static int failure_number(const std::string& path, RunSettings& settings) {
    try {
      read_connection_file(path, settings);
    } catch (const Failure& failed) {
      return failed.number();
    }
    return 0;
  }

  std::string dir_;
};

TEST_F(ConnectionFileTest, LinesAreDecodedAndKeptAsRead) {
  RunSettings settings;
  read_connection_file(write(" /in \r\n/datos\r\nCA\xD1" "A\r\n 01\r\n ;\r\nT\xEDtulo\r\nuno\r\ndos\r\nnueve\r\n"),
                       settings);
  EXPECT_EQ(settings.interchange_dir, " /in ");
  EXPECT_EQ(settings.data_dir, "/datos");
  EXPECT_EQ(settings.company_code, "CAÑA");
  EXPECT_EQ(settings.database_suffix, " 01");
  EXPECT_EQ(settings.separator, " ;");
  EXPECT_EQ(settings.caption, "Título");
  EXPECT_EQ(settings.label1, "uno");
  EXPECT_EQ(settings.label2, "dos");
}

TEST_F(ConnectionFileTest, ShortFileKeepsTheLinesReadBeforeFailing) {
  RunSettings settings;
  EXPECT_EQ(failure_number(write("/in\r\n/datos\r\n"), settings), static_cast<int>(ErrorCode::InputPastEndOfFile));
  EXPECT_EQ(settings.interchange_dir, "/in");
  EXPECT_EQ(settings.data_dir, "/datos");
  EXPECT_EQ(settings.company_code, "");
}

TEST_F(ConnectionFileTest, FilesThatCannotBeReadFailWithTheirOwnError) {
  RunSettings settings;
  EXPECT_EQ(failure_number(dir_, settings), static_cast<int>(ErrorCode::PathFileAccess));
  EXPECT_EQ(failure_number(dir_ + "/nada.txt", settings), static_cast<int>(ErrorCode::FileNotFound));
  EXPECT_EQ(failure_number(dir_ + "/nada?.txt", settings), static_cast<int>(ErrorCode::BadFileNameOrNumber));
  EXPECT_EQ(failure_number(write("") + "/x", settings), static_cast<int>(ErrorCode::PathNotFound));
  EXPECT_EQ(settings.interchange_dir, "");
}

}  // namespace
}  // namespace kavelo
