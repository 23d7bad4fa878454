// An interchange file as an import reads it, at the edges the import
// scenarios do not reach (those read the common lines, fields, numbers,
// amounts and dates of every file, and report the files that cannot be read):
// its lines, their fields, the fields' conversions and the run's summary.
#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "interchange/conversions.h"
#include "interchange/field_cutting.h"
#include "interchange/import_procedure.h"
#include "interchange/line_reader.h"
#include "interchange/run_summary.h"
#include "platform/failure.h"
#include "test_support.h"

namespace kavelo {
namespace {

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

// The reader's block is 1 MiB: the first CR LF is split between two blocks.
TEST_F(LineReaderTest, ReadsLinesLongerThanItsBlockAndCrLfAcrossBlocks) {
  const std::string big(3 << 20, 'x');
  const auto lines = lines_of(std::string((1 << 20) - 1, 'y') + "\r\n" + big + "\r\nz");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].size(), (1u << 20) - 1);
  EXPECT_EQ(lines[1], big);
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

std::vector<std::string> cut_all(std::string line, std::string_view separator, int fields) {
  line = with_separator(std::move(line), separator);
  std::string_view record = line;
  std::vector<std::string> out;
  for (int i = 0; i < fields; ++i) out.push_back(next_field(record, separator));
  return out;
}

// Blanks at the ends, separators of other sizes.
TEST(FieldCutting, CutsFieldsAtTheSeparator) {
  struct Case {
    const char* line;
    const char* separator;
    int fields;
    std::vector<std::string> expected;
  };
  for (const auto& c : std::vector<Case>{
           {"  abc  |x", "|", 2, {"  abc", "x"}},      // leading blanks stay, trailing go
           {"\tabc\t|x", "|", 1, {"\tabc\t"}},         // tabs stay at both ends
           {"a;b", " ;", 2, {"a;b ;", "a;b ;"}},       // two characters never match
           {"C001 ", "", 2, {"C001", "C001"}},         // nor does the empty separator
           {"a°ñ§u§x", "§", 3, {"a°ñ", "u", "x"}},     // one character of two bytes
       }) {
    EXPECT_EQ(cut_all(c.line, c.separator, c.fields), c.expected) << c.line;
  }
  // A record without the separator is left as it is.
  std::string_view record = "abc  ";
  EXPECT_EQ(next_field(record, "|"), "abc");
  EXPECT_EQ(record, "abc  ");
}

TEST(ReadNumber, TakesTheLeadingNumberWithAPoint) {
  const std::pair<const char*, double> cases[] = {
      {"+4", 4},      {"1 2 3", 123}, {"\t1\n2", 12}, {".5", 0.5}, {"-.25x", -0.25}, {"2e-1", 0.2},
      {"3E", 3},      {"3E+", 3},     {"&HFF", 255},  {"&h1F", 31}, {"&O17", 15},    {"&Q1", 0},
      {"1.2.3", 1.2}, {"1e-400", 0},  {"--1", 0},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(read_number(text), expected) << text;
  EXPECT_THROW(read_number("1e400"), Failure);
}

TEST(ReadWhole, RoundsHalfToEvenAndChecksTheRange) {
  EXPECT_EQ(read_whole16("-2.5"), -2);
  EXPECT_EQ(read_whole16("32767"), 32767);
  EXPECT_EQ(read_whole16("-32768"), -32768);
  EXPECT_EQ(read_whole32("2147483647"), 2147483647);
  for (const char* text : {"32768", "-32769", "32767.5"})
    EXPECT_THAT([&] { read_whole16(text); },
                testing::Throws<Failure>(testing::Property(&Failure::number, static_cast<int>(ErrorCode::Overflow))))
        << text;
  EXPECT_THROW(read_whole32("2147483648"), Failure);
}

// A record's start is cut by characters, never inside one.
TEST(RunSummary, RecordStartCutsByCharacters) {
  const std::tuple<std::string, std::size_t, std::string> cases[] = {
      {"C001;C1;", 8, "C001;C1;"}, {"C001;C1;X", 8, "C001;C1;..."}, {"C001;Peñalara", 9, "C001;Peña..."},
      {"ñññ", 2, "ññ..."},         {"", 5, ""},
  };
  for (const auto& [text, length, start] : cases) EXPECT_EQ(record_start(text, length), start) << text;
}

TEST(RunSummary, ColumnsLineUpWithAccentedHeadings) {
  FileSummary file;
  file.file_name = "CLI.TXT";
  file.read = 12345;
  file.added = 12000;
  file.changed = 345;
  file.elapsed = std::chrono::milliseconds(1500);
  const std::string text = format_run_summary({file});
  const std::string header = text.substr(0, text.find('\n'));
  const std::string row = text.substr(header.size() + 1, text.find('\n', header.size() + 1) - header.size() - 1);
  // "Leídos" and "Añadidos" take one column per character, as the numbers do.
  auto width = [](const std::string& s) {
    std::size_t n = 0;
    for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
  };
  EXPECT_EQ(width(header), width(row)) << text;
  EXPECT_EQ(row, "CLI.TXT      12345     12000       345          0      1,50        8230");
}

// Under its file, each failure says what became of its record; past ten
// records passed over, the rest are only counted.
TEST(RunSummary, FailuresUnderTheirFile) {
  using Outcome = RecordFailure::Outcome;
  FileSummary file;
  file.file_name = "APU.TXT";
  for (long record = 1; record <= 12; ++record)
    file.failures.push_back({Outcome::passed_over, record, "02", "FECAPU", 13, "No coinciden los tipos", "", ""});
  file.failures.push_back({Outcome::stopped, 20, "", "", 3034, "Desbordamiento", "", "A001;1;..."});
  file.failures.push_back({Outcome::lost, 15, "", "", 3034, "Desbordamiento", "", ""});
  const std::string text = format_run_summary({file});
  std::string expected;
  for (int record = 1; record <= 10; ++record)
    expected += fmt::format("  rechazado el registro {}, campo 02 (FECAPU): No coinciden los tipos\n", record);
  expected +=
      "  y 2 registros rechazados más\n"
      "  parado en el registro 20: Desbordamiento\n"
      "  registro: A001;1;...\n"
      "  perdidos desde el registro 15: Desbordamiento\n";
  EXPECT_EQ(text.substr(text.find("\n  ") + 1), expected) << text;
}

}  // namespace
}  // namespace kavelo
