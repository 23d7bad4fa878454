#include "app/command_line.h"

#include <cstddef>

namespace kavelo {

CommandLine parse_command_line(const std::vector<std::string>& arguments) {
  CommandLine line;
  std::size_t first = 0;
  if (!arguments.empty()) {
    const std::string& option = arguments[0];
    if (option == "--help") return {Mode::Help, {}};
    if (option == "--version") return {Mode::Version, {}};
    if (option == "--check") line.mode = Mode::Check, first = 1;
  }
  for (std::size_t i = first; i < arguments.size(); ++i) {
    if (i > first) line.connection_file += ' ';
    line.connection_file += arguments[i];
  }
  return line;
}

}  // namespace kavelo
