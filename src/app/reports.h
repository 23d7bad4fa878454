#pragma once
// The end of every run: the error report, the completion report and the exit
// status.
#include <string>

#include "interchange/run.h"

namespace kavelo {

// Exit statuses of the process.
inline constexpr int kExitNoErrors = 0;
inline constexpr int kExitErrorsReported = 1;
inline constexpr int kExitReportsNotWritten = 2;
// The options are not valid: nothing was run and no report written.
inline constexpr int kExitBadOptions = 2;

// The eight lines of FINAL.TXT (UTF-8), each ended by CR LF.
std::string final_report_text();

// True when a file can be made in the interchange folder, so the reports can
// be written there.
bool folder_takes_reports(const std::string& interchange_dir);
// True when a report can be written at `path` (its folder takes a new file).
bool place_takes_report(const std::string& path);

// Writes `interchange_dir` + "ERRORES.TXT" when `error_text` is not empty,
// then `interchange_dir` + "FINAL.TXT", both in Windows-1252, replacing older
// ones. Returns the exit status; a report that cannot be written is told on
// stderr.
int write_reports(const std::string& interchange_dir, const std::string& error_text);

// The end of every run: what it wrote committed (undone in a check run), its
// reports and its JSON summary (when asked for) written, and the window told
// how it ended. Returns the exit status.
int finish_run(Run& run);

}  // namespace kavelo
