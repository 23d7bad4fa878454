#include "interchange/line_reader.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace kavelo {
namespace {

// (A file that is missing, a folder, reading past the end: the import
// scenarios' error lines tell.)
class LineReaderTest : public ::testing::Test {
 protected:
  std::vector<std::string> lines_of(const std::string& bytes) {
    test::write_bytes(path, bytes);
    LineReader reader(path);
    std::vector<std::string> lines;
    while (!reader.at_end()) lines.push_back(reader.read_line());
    return lines;
  }
  test::TempDir dir;
  const std::string path = dir / "MAE.TXT";
};

TEST_F(LineReaderTest, EndsLinesAtCrOrCrLfButNotAtALoneLf) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"a\r\nb", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"a\nb\r\n", {"a\nb"}},
      {"a\r\n\r\nb\r\n", {"a", "", "b"}},
      {"a\r\r\n", {"a", ""}},
      {"\xd1" "and\xfa\x80\x81\r\n", {"Ñandú€\xc2\x81"}},  // Windows-1252 into UTF-8
  };
  for (const auto& [bytes, lines] : cases) EXPECT_EQ(lines_of(bytes), lines) << bytes;
}

TEST_F(LineReaderTest, ReadsLinesLongerThanItsBlockAndCrLfAcrossBlocks) {
  const std::string big(3 << 20, 'x');
  const auto lines = lines_of(big + "\r\n" + std::string((1 << 20) - 1, 'y') + "\r\nz");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], big);
  EXPECT_EQ(lines[1].size(), (1u << 20) - 1);
  EXPECT_EQ(lines[2], "z");
}

// A small file is read through a buffer of its own size: lines written to it
// after it was opened are still read, a CR LF split across reads included.
TEST_F(LineReaderTest, ReadsWhatIsAddedAfterItWasOpened) {
  test::write_bytes(path, "ab\r");
  LineReader reader(path);
  test::write_bytes(path, "ab\r\ncd\r\nef");
  std::vector<std::string> lines;
  while (!reader.at_end()) lines.push_back(reader.read_line());
  EXPECT_EQ(lines, (std::vector<std::string>{"ab", "cd", "ef"}));
}

}  // namespace
}  // namespace kavelo
