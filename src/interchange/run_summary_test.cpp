#include "interchange/run_summary.h"

#include <gtest/gtest.h>

namespace kavelo {
namespace {

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

}  // namespace
}  // namespace kavelo
