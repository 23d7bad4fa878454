#pragma once
// What the command line asks of kavelo: a run (a check run among them), its
// help, its version, or nothing it can do. kavelo's own options come first, in
// any order; from the first argument that is not one of them on, the arguments
// are the connection file's path, taken whole.
#include <string>
#include <vector>

#include "interchange/run.h"

namespace kavelo {

enum class Mode { Run, Help, Version, UsageError };

struct CommandLine {
  Mode mode = Mode::Run;
  RunOptions options;  // all_errors only with check
  // The arguments after the options, joined by a blank: a path with blanks
  // may arrive as several arguments.
  std::string connection_file;
  // Mode::UsageError: what is wrong, in a line of its own.
  std::string error;
};

CommandLine parse_command_line(const std::vector<std::string>& arguments);

// The text of --help.
const char* usage_text();

}  // namespace kavelo
