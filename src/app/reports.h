#pragma once
// The end of every run: the error report, the completion report and the end
// of the process.
#include <string>

namespace kavelo {

// Exit statuses of the process.
inline constexpr int kExitNoErrors = 0;
inline constexpr int kExitErrorsReported = 1;
inline constexpr int kExitReportsNotWritten = 2;

// The eight lines of FINAL.TXT (UTF-8), each ended by CR LF.
std::string final_report_text();

// True when a file can be made in the interchange folder, so the reports can
// be written there.
bool folder_takes_reports(const std::string& dir_intercambio);

// Writes `dir_intercambio` & "ERRORES.TXT" when `texto_errores` is not empty,
// then `dir_intercambio` & "FINAL.TXT", both in Windows-1252, replacing older
// ones. Returns the exit status; a report that cannot be written is told on
// stderr.
int write_reports(const std::string& dir_intercambio, const std::string& texto_errores);

// Commits what the run wrote, writes the reports of run() and ends the process
// with write_reports' status. Nothing after a call runs.
[[noreturn]] void prc_Final();

}  // namespace kavelo
