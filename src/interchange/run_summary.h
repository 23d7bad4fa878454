#pragma once
// The run summary: a short table of what each interchange file did, shown at
// the end of every run so that an integrator sees at a glance what was
// stored and, for a file that stopped, which record and field to fix.
#include <string>
#include <vector>

#include "interchange/run.h"

namespace kavelo {

// The table, one line per file, and under a file that stopped the record,
// the field and why. Every line ends with "\n".
std::string format_run_summary(const std::vector<FileSummary>& files);

// At most `length` characters of a record's text, "..." added when cut.
std::string record_start(std::string_view text, std::size_t length = 60);

}  // namespace kavelo
