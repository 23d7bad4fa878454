#pragma once
// One run of kavelo: its settings, the company database, the error report,
// what each interchange file did and the window. The program's main makes it
// and passes it to whatever needs it. Texts are UTF-8.
#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "db/store.h"
#include "platform/regional.h"
#include "platform/window.h"

namespace kavelo {

// Read from the connection file at start-up and not changed afterwards.
struct RunSettings {
  std::string connection_file;  // as given on the command line
  std::string interchange_dir;  // where the interchange files are read and the reports written
  std::string data_dir;
  std::string company_code;
  std::string database_suffix;
  std::string separator;  // as read: a blank in it is part of the separator
  std::string caption;    // of the window
  std::string label1;
  std::string label2;
  // data_dir + company_code + database_suffix + ".MDB"
  std::string database_path;
};

// A record that failed, as its error line gives it.
struct RecordFailure {
  enum class Outcome {
    passed_over,  // the record was undone and the import went on
    stopped,      // the import of the file stopped here
    lost,         // the records from here on were lost with the uncommitted work
  };
  Outcome outcome = Outcome::stopped;
  long record = 0;  // 0: before the first record (the file could not be read)
  std::string field_code;  // of the field being read; empty when none was
  std::string column;      // that field's column, when known
  int error = 0;           // the error's number; 0 for a message without one
  std::string description;
  std::string message;       // its line of the error report, without the line end
  std::string record_start;  // the start of the record's text; empty when not known
};

// What the import of one interchange file did, for the run summary. The
// counts are of what stays stored: a record undone is not counted.
struct FileSummary {
  std::string file_name;
  long read = 0;  // records read, the one that stopped the import included
  long added = 0;
  long changed = 0;
  long duplicates = 0;  // refused as duplicates and passed over
  // In the order of the error lines.
  std::vector<RecordFailure> failures;
  std::chrono::steady_clock::duration elapsed{};

  // The failure at which the import stopped before the end of the file.
  const RecordFailure* stop() const {
    for (const RecordFailure& f : failures)
      if (f.outcome == RecordFailure::Outcome::stopped) return &f;
    return nullptr;
  }
};

// What the command line asks of a run besides its connection file.
struct RunOptions {
  bool check = false;       // every write undone at the end
  bool all_errors = false;  // a check run that goes on past every failing record
  bool match_guid = false;  // a new journal entry takes the number of the stored line of its GUIDAPU
  std::string summary_json;  // where the run summary goes as JSON; empty: nowhere
};

// The company database could not be opened, or its lock taken, in any of the
// attempts: the run ends with `message` added to the error report. It is no
// Failure, so that no importer takes it for a failure of its file.
class OpenGaveUp : public std::runtime_error {
 public:
  explicit OpenGaveUp(const std::string& message) : std::runtime_error(message) {}
};

// The attempts to open a company file, each waiting a moment for the file's
// lock: the accounting application may hold it briefly.
inline constexpr int kOpenAttempts = 200;
inline constexpr std::chrono::milliseconds kOpenWait{50};
// A server that does not answer, or is not ready yet, is tried again at a
// growing pace for this long in all (as long as a lock is waited for); each
// attempt has a bound of its own (db::pg::kConnectWait).
inline constexpr std::chrono::milliseconds kServerWait{30000};
inline constexpr std::chrono::milliseconds kFirstServerPause{250};
inline constexpr std::chrono::milliseconds kLongestServerPause{2000};

class Run {
 public:
  Run(Window& run_window, const RegionalSettings& settings_of_region, const RunOptions& run_options)
      : regional(settings_of_region),
        window(run_window),
        check(run_options.check),
        all_errors(run_options.check && run_options.all_errors),
        match_guid(run_options.match_guid),
        summary_json(run_options.summary_json) {}
  // `check_run`: a check run, whose writes are all undone at its end.
  Run(Window& run_window, const RegionalSettings& settings_of_region, bool check_run)
      : Run(run_window, settings_of_region, options_of_check(check_run)) {}
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  RunSettings settings;
  const RegionalSettings regional;
  Window& window;
  // As the command line asked (RunOptions); all_errors only with check.
  const bool check;
  const bool all_errors;
  // A journal record numbered 0 whose GUIDAPU a line of its journal and date
  // holds is that line (--match-guid).
  const bool match_guid;
  const std::string summary_json;
  // The error report's text; empty while nothing failed.
  std::string error_text;
  // FRMEMP of the company's row of F_EMP, which marks the account levels that
  // carry balances; no value when the row could not be read, is not there
  // or has no such column.
  std::optional<db::Value> company_levels;
  // One entry per interchange file imported so far, in their order.
  std::vector<FileSummary> summaries;

  // The company database with a transaction open: opened (again, after a
  // server dropped it) and its transaction begun, up to kOpenAttempts times
  // at once for a file, and for a server for kServerWait while it does not
  // answer, the window saying so. A refusal that trying again does not mend
  // ends the attempts at once. When they fail: `message` (and, from a server
  // or a refusal, why) in a message box when `box`, then OpenGaveUp with it.
  db::Store& database(const std::string& message, bool box);
  // The company database as it is now: nullptr before it is opened.
  db::Store* open_database() { return store_.get(); }
  // Commits what the run wrote so far (a check run keeps it).
  void commit();
  // The end of the run's use of the database: everything committed, or undone
  // in a check run; a failure is added to the error report.
  void close_database();
  // Adds a message that ends the run as a line of its own: the error lines
  // before it keep their line end, and the message gets none.
  void add_closing_message(std::string_view message);

 private:
  static RunOptions options_of_check(bool check_run) {
    RunOptions options;
    options.check = check_run;
    return options;
  }

  std::unique_ptr<db::Store> store_;
};

}  // namespace kavelo
