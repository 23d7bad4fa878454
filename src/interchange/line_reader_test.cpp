#include "interchange/line_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "platform/failure.h"

namespace kavelo {
namespace {

class LineReaderTest : public ::testing::Test {
 protected:
  std::string file_with(const std::string& bytes) {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path_;
  }
  std::vector<std::string> lines_of(const std::string& bytes) {
    LineReader reader(file_with(bytes));
    std::vector<std::string> lines;
    while (!reader.at_end()) lines.push_back(reader.read_line());
    return lines;
  }
  void TearDown() override { std::filesystem::remove(path_); }

  std::string path_ = (std::filesystem::temp_directory_path() /
                       ("kavelo-lines-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                        ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                          .string();
};

TEST_F(LineReaderTest, EndsLinesAtCrOrCrLfButNotAtALoneLf) {
  struct Case {
    std::string bytes;
    std::vector<std::string> lines;
  };
  for (const auto& c : std::vector<Case>{
           {"", {}},
           {"a\r\nb\r\n", {"a", "b"}},  // no empty record after the last line end
           {"a\r\nb", {"a", "b"}},
           {"a\rb\r", {"a", "b"}},
           {"a\nb\r\n", {"a\nb"}},
           {"a\r\n\r\nb\r\n", {"a", "", "b"}},
           {"a\r\r\n", {"a", ""}},
           {"\xd1" "and\xfa\x80\x81\r\n", {"Ñandú€\xc2\x81"}},  // Windows-1252 into UTF-8
       }) {
    EXPECT_EQ(lines_of(c.bytes), c.lines);
  }
}

TEST_F(LineReaderTest, ReadsLinesLongerThanItsBlockAndCrLfAcrossBlocks) {
  std::string big(3 << 20, 'x');
  std::string bytes = big + "\r\n" + std::string((1 << 20) - 1, 'y') + "\r\nz";
  auto lines = lines_of(bytes);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], big);
  EXPECT_EQ(lines[1].size(), (1u << 20) - 1);
  EXPECT_EQ(lines[2], "z");
}

// A small file is read through a buffer of its own size: lines written to it
// after it was opened are still read, a CR LF split across reads included.
TEST_F(LineReaderTest, ReadsWhatIsAddedAfterItWasOpened) {
  LineReader reader(file_with("ab\r"));
  std::FILE* f = std::fopen(path_.c_str(), "ab");
  std::fputs("\ncd\r\nef", f);
  std::fclose(f);
  std::vector<std::string> lines;
  while (!reader.at_end()) lines.push_back(reader.read_line());
  EXPECT_EQ(lines, (std::vector<std::string>{"ab", "cd", "ef"}));
}

TEST_F(LineReaderTest, FailsPastTheEndAndOnFilesItCannotOpen) {
  LineReader reader(file_with("a\r\n"));
  reader.read_line();
  try {
    reader.read_line();
    ADD_FAILURE();
  } catch (const Failure& f) {
    EXPECT_EQ(f.number(), static_cast<int>(ErrorCode::InputPastEndOfFile));
  }
  try {
    LineReader missing(path_ + ".missing");
    ADD_FAILURE();
  } catch (const Failure& f) {
    EXPECT_EQ(f.number(), static_cast<int>(ErrorCode::FileNotFound));
  }
  EXPECT_THROW(LineReader(std::filesystem::temp_directory_path().string()), Failure);
}

}  // namespace
}  // namespace kavelo
