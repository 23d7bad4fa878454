#pragma once
// The imports of a run: the six interchange files in their fixed order, each
// announced in the progress line.
#include "interchange/run.h"

namespace kavelo {

void import_all(Run& run);

}  // namespace kavelo
