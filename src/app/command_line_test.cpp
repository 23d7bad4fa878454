#include "app/command_line.h"

#include <gtest/gtest.h>

namespace kavelo {
namespace {

// Beyond what the start-up scenarios run.
TEST(CommandLine, AnOptionOnlyWhenFirstAndOneOfOurs) {
  struct Case {
    std::vector<std::string> arguments;
    Mode mode;
    std::string connection_file;
  };
  const Case cases[] = {
      {{"--check", "/in/kavelo.conn"}, Mode::Check, "/in/kavelo.conn"},
      {{"--check", "/mis", "datos/k.conn"}, Mode::Check, "/mis datos/k.conn"},
      {{"--version", "x"}, Mode::Version, ""},
      // Not ours: part of the path.
      {{"-c", "k.conn"}, Mode::Run, "-c k.conn"},
      {{"k.conn", "--check"}, Mode::Run, "k.conn --check"},
      {{}, Mode::Run, ""},
  };
  for (const Case& c : cases) {
    CommandLine line = parse_command_line(c.arguments);
    EXPECT_EQ(line.mode, c.mode) << c.connection_file;
    EXPECT_EQ(line.connection_file, c.connection_file);
  }
}

}  // namespace
}  // namespace kavelo
