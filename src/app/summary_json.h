#pragma once
// The run summary as JSON, for the program that started kavelo: what each
// interchange file did and every failure, as the run summary and the error
// report give them, and how the run ended.
#include <string>

#include "interchange/run.h"

namespace kavelo {

// The whole document (UTF-8), ended by a line end; `exit_status` is the
// process's.
std::string run_summary_json(const Run& run, int exit_status);

}  // namespace kavelo
