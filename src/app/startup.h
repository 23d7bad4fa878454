#pragma once
// Start-up of a run: the connection file into the run's settings, the reports
// of an earlier run deleted, the company database found and its company
// record read.
#include <string>

#include "interchange/run.h"

namespace kavelo {

// Fills the run's settings from the connection file `connection_file` (the
// command line, taken whole). False when the run ends here, its error text
// saying why; true when the imports may start.
bool start_run(Run& run, const std::string& connection_file);

// True when `pattern` names at least one regular file; "*" and "?" in its last
// part are wildcards, every other character stands for itself.
bool file_matches(const std::string& pattern);

}  // namespace kavelo
