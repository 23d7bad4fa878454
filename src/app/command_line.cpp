#include "app/command_line.h"

#include <cstddef>

namespace kavelo {
namespace {

CommandLine only(Mode mode, std::string error = {}) {
  CommandLine line;
  line.mode = mode;
  line.error = std::move(error);
  return line;
}

CommandLine usage_error(std::string error) { return only(Mode::UsageError, std::move(error)); }

}  // namespace

CommandLine parse_command_line(const std::vector<std::string>& arguments) {
  if (!arguments.empty() && arguments[0] == "--help") return only(Mode::Help);
  if (!arguments.empty() && arguments[0] == "--version") return only(Mode::Version);
  CommandLine line;
  std::size_t i = 0;
  for (; i < arguments.size(); ++i) {
    const std::string& option = arguments[i];
    if (option == "--check") {
      line.options.check = true;
    } else if (option == "--all-errors") {
      line.options.all_errors = true;
    } else if (option == "--match-guid") {
      line.options.match_guid = true;
    } else if (option == "--summary-json") {
      if (!line.options.summary_json.empty()) return usage_error("--summary-json aparece dos veces");
      if (i + 1 >= arguments.size() || arguments[i + 1].empty())
        return usage_error("--summary-json necesita el nombre de un archivo");
      line.options.summary_json = arguments[++i];
    } else if (option == "--help" || option == "--version") {
      // Neither combines with anything: a path of that name can be written ./--help.
      return usage_error(option + " va solo");
    } else {
      break;
    }
  }
  if (line.options.all_errors && !line.options.check) return usage_error("--all-errors solo vale con --check");
  for (std::size_t first = i; i < arguments.size(); ++i) {
    if (i > first) line.connection_file += ' ';
    line.connection_file += arguments[i];
  }
  return line;
}

}  // namespace kavelo
