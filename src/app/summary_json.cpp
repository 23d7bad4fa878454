#include "app/summary_json.h"

#include <chrono>
#include <cmath>
#include <string_view>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "app/reports.h"
#include "platform/product.h"

namespace kavelo {
namespace {

using Json = nlohmann::ordered_json;

const char* outcome_name(RecordFailure::Outcome outcome) {
  switch (outcome) {
    case RecordFailure::Outcome::passed_over: return "passed_over";
    case RecordFailure::Outcome::stopped: return "stopped";
    case RecordFailure::Outcome::lost: return "lost";
  }
  return "";
}

const char* ending_name(int exit_status) {
  switch (exit_status) {
    case kExitNoErrors: return "no_errors";
    case kExitErrorsReported: return "errors_reported";
    default: return "reports_not_written";
  }
}

// The lines of the error report, without their line ends.
Json error_lines(std::string_view text) {
  Json lines = Json::array();
  while (!text.empty()) {
    const std::size_t end = text.find("\r\n");
    lines.push_back(std::string(text.substr(0, end)));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 2);
  }
  return lines;
}

Json file_json(const FileSummary& file) {
  Json failures = Json::array();
  for (const RecordFailure& f : file.failures) {
    failures.push_back({{"record", f.record},
                        {"outcome", outcome_name(f.outcome)},
                        {"field_code", f.field_code},
                        {"column", f.column},
                        {"error", f.error},
                        {"message", f.message},
                        {"record_start", f.record_start}});
  }
  // Milliseconds are all a caller can make use of.
  const double seconds = std::round(std::chrono::duration<double>(file.elapsed).count() * 1000) / 1000;
  return {
      {"name", file.file_name},
      {"read", file.read},
      {"added", file.added},
      {"changed", file.changed},
      {"duplicates", file.duplicates},
      {"seconds", seconds},
      {"stopped", file.stop() != nullptr},
      {"failures", std::move(failures)},
  };
}

}  // namespace

std::string run_summary_json(const Run& run, int exit_status) {
  Json files = Json::array();
  for (const FileSummary& file : run.summaries) files.push_back(file_json(file));
  const Json document = {
      {"program", "kavelo"},
      {"version", fmt::format("{}.{}", product::kVersionMajor, product::kVersionMinor)},
      {"check", run.check},
      {"all_errors", run.all_errors},
      {"ended", ending_name(exit_status)},
      {"exit_status", exit_status},
      {"errors", error_lines(run.error_text)},
      {"files", std::move(files)},
  };
  // A text that is not UTF-8 (a path as the system gave it) must not keep
  // the summary from being written.
  return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace kavelo
