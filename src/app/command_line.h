#pragma once
// What the command line asks of kavelo: a run, a check run, its help or its
// version. The first argument is an option only when it is one of kavelo's own;
// anything else is the connection file's path, taken whole.
#include <string>
#include <vector>

namespace kavelo {

enum class Mode { Run, Check, Help, Version };

struct CommandLine {
  Mode mode = Mode::Run;
  // The arguments after the option, joined by a blank: a path with blanks may
  // arrive as several arguments.
  std::string connection_file;
};

CommandLine parse_command_line(const std::vector<std::string>& arguments);

// The text of --help.
const char* usage_text();

}  // namespace kavelo
