#pragma once
// Start-up of a run: the connection file into the run settings, the reports of
// an earlier run deleted, the company database found and its company record
// read.
#include <string>

namespace kavelo {

// Fills run() from the connection file `archivo_conexion` (the command line,
// taken whole). A fatal condition sets TextoErrores and ends the process
// through prc_Final; a normal return means the import run may start.
void startup(const std::string& archivo_conexion);

// True when `pattern` names at least one regular file; "*" and "?" in its last
// part are wildcards, every other character stands for itself.
bool file_matches(const std::string& pattern);

}  // namespace kavelo
