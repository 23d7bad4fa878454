#include "app/connection_file.h"

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

// The number of the Failure that reading `path` throws; 0 when it throws none.
int failure_number(const std::string& path, RunSettings& settings) {
  try {
    read_connection_file(path, settings);
  } catch (const Failure& failed) {
    return failed.number();
  }
  return 0;
}

TEST(ReadConnectionFile, LinesAreDecodedAndKeptAsRead) {
  test::TempDir dir;
  test::write_bytes(dir / "conexion.txt",
                    " /in \r\n/datos\r\nCA\xD1" "A\r\n 01\r\n ;\r\nT\xEDtulo\r\nuno\r\ndos\r\nnueve\r\n");
  RunSettings settings;
  read_connection_file(dir / "conexion.txt", settings);
  EXPECT_EQ((Lines{settings.interchange_dir, settings.data_dir, settings.company_code, settings.database_suffix,
                   settings.separator, settings.caption, settings.label1, settings.label2}),
            (Lines{" /in ", "/datos", "CAÑA", " 01", " ;", "Título", "uno", "dos"}));
}

// A short file keeps the lines read before it failed; a file that cannot be
// read fails with its own error, before any line.
TEST(ReadConnectionFile, Failures) {
  test::TempDir dir;
  test::write_bytes(dir / "corto.txt", "/in\r\n/datos\r\n");
  RunSettings settings;
  EXPECT_EQ(failure_number(dir / "corto.txt", settings), static_cast<int>(ErrorCode::InputPastEndOfFile));
  EXPECT_EQ((Lines{settings.interchange_dir, settings.data_dir, settings.company_code}), (Lines{"/in", "/datos", ""}));

  RunSettings none;
  EXPECT_EQ(failure_number(dir.path(), none), static_cast<int>(ErrorCode::PathFileAccess));
  EXPECT_EQ(failure_number(dir / "nada.txt", none), static_cast<int>(ErrorCode::FileNotFound));
  EXPECT_EQ(failure_number(dir / "nada?.txt", none), static_cast<int>(ErrorCode::BadFileNameOrNumber));
  EXPECT_EQ(failure_number(dir / "corto.txt/x", none), static_cast<int>(ErrorCode::PathNotFound));
  EXPECT_EQ(none.interchange_dir, "");
}

}  // namespace
}  // namespace kavelo
