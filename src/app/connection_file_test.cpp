// What reading the connection file does that the start-up scenarios do not
// reach (line ends, folder lines and failures at their edges).
#include "app/connection_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/failure.h"
#include "test_support.h"

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
      {"a\r\nb", 8, {"a", "b"}},
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
  EXPECT_EQ(trim_blanks("   "), "");
  EXPECT_EQ(as_folder("/x/y//"), "/x/y//");
  EXPECT_EQ(as_folder(""), "/");
}

// A file that cannot be read fails with its own error, before any line.
TEST(ReadConnectionFile, Failures) {
  test::TempDir dir;
  test::write_bytes(dir / "corto.txt", "/in\r\n");
  const std::pair<std::string, ErrorCode> cases[] = {
      {dir.path(), ErrorCode::PathFileAccess},
      {dir / "nada.txt", ErrorCode::FileNotFound},
      {dir / "nada?.txt", ErrorCode::BadFileNameOrNumber},
      {dir / "corto.txt/x", ErrorCode::PathNotFound},
  };
  for (const auto& [path, code] : cases) {
    RunSettings settings;
    EXPECT_THAT([&] { read_connection_file(path, settings); },
                testing::Throws<Failure>(testing::Property(&Failure::number, static_cast<int>(code))))
        << path;
  }
}

}  // namespace
}  // namespace kavelo
