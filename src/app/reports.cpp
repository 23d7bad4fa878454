#include "app/reports.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string_view>

#include <fmt/format.h>

#include "app/summary_json.h"
#include "interchange/run_summary.h"
#include "platform/codepage.h"
#include "platform/product.h"
#include "platform/window.h"

namespace kavelo {
namespace {

void tell_not_written(const std::string& path, int error) {
  fmt::print(stderr, "kavelo: no es posible escribir {}: {}\n", path, std::strerror(error));
}

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string temporary_name(const std::string& path) { return fmt::format("{}.{}.tmp", path, ::getpid()); }

// The caller polls for the reports and reads them as soon as they appear, so a
// report is written in full under a temporary name in the same folder and only
// then renamed over its final name: it is never seen half written.
bool write_report(const std::string& path, std::string_view bytes) {
  const std::string temporary = temporary_name(path);
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0 && errno == EEXIST) {
    // Left by an earlier process that had the same id.
    ::unlink(temporary.c_str());
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  }
  if (fd < 0) {
    tell_not_written(path, errno);
    return false;
  }
  bool written = write_all(fd, bytes) && ::fsync(fd) == 0;
  int error = errno;
  if (::close(fd) != 0 && written) {
    written = false;
    error = errno;
  }
  if (written && ::rename(temporary.c_str(), path.c_str()) != 0) {
    written = false;
    error = errno;
  }
  if (!written) {
    ::unlink(temporary.c_str());
    tell_not_written(path, error);
  }
  return written;
}

}  // namespace

bool folder_takes_reports(const std::string& interchange_dir) { return place_takes_report(interchange_dir + "FINAL.TXT"); }

bool place_takes_report(const std::string& path) {
  const std::string probe = temporary_name(path);
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

std::string final_report_text() {
  const std::string blanks(24, ' ');
  const std::string rule = " " + std::string(23, '-');
  return fmt::format(
      "{0}\r\n{1}\r\n    Proceso terminado   \r\n{1}\r\n{0}\r\n  {2}\r\n  Versión: {3} {4}\r\n  {5}\r\n", blanks, rule,
      product::kTitle, product::kVersionMajor, product::kVersionMinor, product::kComments);
}

int write_reports(const std::string& interchange_dir, const std::string& error_text) {
  int status = kExitNoErrors;
  if (!error_text.empty()) {
    // Without its ERRORES.TXT a FINAL.TXT would tell the caller that nothing
    // failed: then neither is written.
    if (!write_report(interchange_dir + "ERRORES.TXT", utf8_to_cp1252(error_text + "\r\n"))) {
      return kExitReportsNotWritten;
    }
    status = kExitErrorsReported;
  }
  if (!write_report(interchange_dir + "FINAL.TXT", utf8_to_cp1252(final_report_text()))) {
    return kExitReportsNotWritten;
  }
  return status;
}

int finish_run(Run& run) {
  // Everything the run wrote is committed before FINAL.TXT appears, so that a
  // caller who sees it finds every row stored; a commit that fails is an error
  // of the run like any other.
  run.close_database();
  int status = write_reports(run.settings.interchange_dir, run.error_text);
  // The JSON tells the status that the reports gave; without it, the status
  // says that a report is missing.
  if (!run.summary_json.empty() && !write_report(run.summary_json, run_summary_json(run, status)))
    status = kExitReportsNotWritten;
  // The summary of the files, then the last line of the run.
  std::string closing = run.summaries.empty() ? std::string() : format_run_summary(run.summaries);
  if (run.check) closing += "Comprobación: la base de datos de la empresa queda como estaba.\n";
  closing += status == kExitNoErrors         ? "Proceso terminado sin errores"
             : status == kExitErrorsReported ? "Proceso terminado con errores: " + run.settings.interchange_dir +
                                                   "ERRORES.TXT"
                                             : "Proceso terminado sin informes";
  run.window.finish(closing);
  return status;
}

}  // namespace kavelo
