#pragma once
// The journal, APU.TXT.
#include <iosfwd>

#include "sample_data.h"

namespace kavelo::sample {

// N lines (at least 2) in whole entries of 2 to 6 lines: sales, purchases,
// payroll and treasury, each balanced in euros and in pesetas.
void write_journal(const Options& options, std::ostream& out);

}  // namespace kavelo::sample
