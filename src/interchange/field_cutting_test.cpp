#include "interchange/field_cutting.h"

#include <gtest/gtest.h>

#include "interchange/import_procedure.h"

namespace kavelo {
namespace {

std::vector<std::string> cut_all(std::string line, std::string_view separator, int fields) {
  line = with_separator(std::move(line), separator);
  std::string_view record = line;
  std::vector<std::string> out;
  for (int i = 0; i < fields; ++i) out.push_back(next_field(record, separator));
  return out;
}

// Beyond the import scenarios: blanks at the ends, separators of other sizes.
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
           {"año§ñu§x", "§", 3, {"año", "ñu", "x"}},   // one character of two bytes
       }) {
    EXPECT_EQ(cut_all(c.line, c.separator, c.fields), c.expected) << c.line;
  }
  // A record without the separator is left as it is.
  std::string_view record = "abc  ";
  EXPECT_EQ(next_field(record, "|"), "abc");
  EXPECT_EQ(record, "abc  ");
}

}  // namespace
}  // namespace kavelo
