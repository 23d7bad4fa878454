// The command line as parse_command_line reads it: the flags that no run shows
// yet (--match-guid) and an option's value that looks like an option
// (tests/startup_test.cpp runs the rest through the program).
#include "app/command_line.h"

#include <gtest/gtest.h>

namespace kavelo {
namespace {

TEST(CommandLine, OptionsComeFirstInAnyOrderAndThePathIsTakenWhole) {
  struct Case {
    std::vector<std::string> arguments;
    bool check, all_errors, match_guid;
    std::string summary_json, connection_file;
  };
  const Case cases[] = {
      {{"--match-guid", "c.txt"}, false, false, true, "", "c.txt"},
      {{"--all-errors", "--summary-json", "--check", "--check", "mi", "conexión.txt"}, true, true, false, "--check",
       "mi conexión.txt"},
      {{"--check", "--x", "--all-errors"}, true, false, false, "", "--x --all-errors"},
      {{"--check"}, true, false, false, "", ""},
  };
  for (const Case& c : cases) {
    const CommandLine line = parse_command_line(c.arguments);
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    EXPECT_EQ(line.mode, Mode::Run) << line.error;
    EXPECT_EQ(line.options.check, c.check);
    EXPECT_EQ(line.options.all_errors, c.all_errors);
    EXPECT_EQ(line.options.match_guid, c.match_guid);
    EXPECT_EQ(line.options.summary_json, c.summary_json);
    EXPECT_EQ(line.connection_file, c.connection_file);
  }
}

}  // namespace
}  // namespace kavelo
