#include "interchange/import_procedure.h"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "interchange/field_cutting.h"
#include "interchange/line_reader.h"
#include "interchange/run_summary.h"
#include "platform/failure.h"

namespace kavelo {
namespace {

using Clock = std::chrono::steady_clock;

// The records written together: sent at once to a server, and undone and
// written again one by one when any of them fails.
constexpr std::size_t kGroupRecords = 1000;
// A group of long records is cut sooner: what a group holds (its lines here,
// its rows in a server's store) stays a few megabytes whatever the records.
constexpr std::size_t kGroupBytes = 4 << 20;
// A commit costs a few disk syncs and a pause: the interval bounds how long
// another program waits for the lock and how much work a crash undoes; the
// count only bounds a transaction when records come faster than 40,000 a
// second.
constexpr long kCommitRecords = 20000;
constexpr std::chrono::milliseconds kCommitInterval{500};
// How long the lock stays free after such a commit, so that another program
// waiting to write (the accounting application) gets its turn.
constexpr std::chrono::milliseconds kCommitPause{5};

constexpr const char* kGroup = "kavelo_group";
constexpr const char* kRecord = "kavelo_record";
// Around all that a record writes, its numbering included, when a failing
// record is passed over.
constexpr const char* kWholeRecord = "kavelo_whole_record";

bool is_duplicate(const Failure& f) { return f.number() == static_cast<int>(ErrorCode::DuplicateValue); }

// The key of the master files and the registers: one field, a code or a
// number, written to the description's key column under its field code.
class KeyColumnSteps : public RecordSteps {
 public:
  KeyColumnSteps(const ImportDescription& d, const Run& run) : d_(d), run_(run) {}

  void prepare(db::Store&, const db::Table& table) override {
    table_ = &table;
    key_ = table.key({d_.key_column});
  }
  void position(db::Store&, std::string_view& record, db::RowValues& row, std::string& field_code, bool) override {
    std::string code = next_field(record, run_.settings.separator);
    db::Value key = d_.key_kind == KeyKind::TextCode ? db::Value(std::move(code)) : db::Value(read_whole32(code));
    field_code = d_.key_field_code;
    const auto column = static_cast<std::size_t>(key_.columns.front());
    row[column] = db::convert_for_column(table_->columns[column], std::move(key), run_.regional);
  }
  const db::Key& key() const override { return key_; }

 private:
  const ImportDescription& d_;
  const Run& run_;
  const db::Table* table_ = nullptr;
  db::Key key_;
};

// Adds the file's summary to the run's when the import ends, however it ends.
class SummaryScope {
 public:
  SummaryScope(Run& run, std::string_view file_name) : run_(run), started_(Clock::now()) {
    summary.file_name = file_name;
  }
  ~SummaryScope() {
    summary.elapsed = Clock::now() - started_;
    run_.summaries.push_back(std::move(summary));
  }
  SummaryScope(const SummaryScope&) = delete;
  SummaryScope& operator=(const SummaryScope&) = delete;

  FileSummary summary;

 private:
  Run& run_;
  Clock::time_point started_;
};

// What the summary counts, as of some moment.
struct Counts {
  db::WriteCounts written;
  long duplicates = 0;
};

// One file's import: its records read, grouped, written and committed.
class FileImport {
 public:
  FileImport(Run& run, const ImportDescription& d, RecordSteps& steps, FileSummary& summary)
      : run_(run), d_(d), steps_(steps), summary_(summary), separator_(run.settings.separator) {}

  void run();

 private:
  // Reads the next record: a comment line is passed over once, so the line
  // after it is a record whatever it begins with.
  void read_record(LineReader& file);
  // Begins the transaction when none is open, and keeps other writers of the
  // file's tables out of it before its first read.
  void begin_and_lock();
  void process(std::string_view text, bool one_by_one);
  std::string progress_text(const db::RowValues& row);
  std::string progress_value(std::string_view column, const db::RowValues& row);
  void start_group();
  void end_group();
  // Ends the group; when that fails, writes it again one by one.
  void settle_group();
  // The group is undone and its records written again one by one; the first
  // that fails (not as a duplicate) fails here, unless it is passed over.
  void write_group_again();
  // One by one in a check run of every error: the record is written, or
  // undone with everything it wrote and its error line added.
  void write_or_pass_over();
  bool commit_due() const {
    return records_since_commit_ >= kCommitRecords || Clock::now() - last_commit_ >= kCommitInterval;
  }
  // `pause`: the lock is left free for a moment after the commit, so that
  // another program waiting to write gets its turn in mid-file.
  void commit(bool pause);
  void fail(const Failure& f);
  // Adds the failure to the file's summary.
  void add_failure(RecordFailure::Outcome outcome, long record, std::string field_code, int error,
                   std::string_view description, std::string message);
  // Adds the record's error line to the error report, and the failure to the
  // summary.
  void report(RecordFailure::Outcome outcome, long record, std::string field_code, const Failure& f);

  Run& run_;
  const ImportDescription& d_;
  RecordSteps& steps_;
  FileSummary& summary_;
  const std::string& separator_;

  db::Store* store_ = nullptr;
  const db::Table* table_ = nullptr;
  std::vector<std::string> tables_;
  std::vector<int> columns_;  // of the layout's fields; -1 for a column the table lacks
  bool prepared_ = false;
  bool locked_ = false;

  long record_ = 0;  // the record being written
  std::string line_;
  std::string field_code_;
  Counts counts_;

  struct Pending {
    long record;
    std::string line;
  };
  std::vector<Pending> group_;
  std::size_t group_bytes_ = 0;
  Counts group_counts_;

  // The records up to committed_ are committed, with these counts. A commit
  // that fails loses the records after it: the error line then names the
  // first of them.
  long committed_ = 0;
  Counts committed_counts_;
  bool committing_ = false;
  long records_since_commit_ = 0;
  Clock::time_point last_commit_ = Clock::now();
};

void FileImport::read_record(LineReader& file) {
  ++record_;
  summary_.read = record_;
  // A line that cannot be read has no text to show.
  line_.clear();
  line_ = with_separator(file.read_line(), separator_);
  if (line_.starts_with('\'')) line_ = with_separator(file.read_line(), separator_);
}

void FileImport::begin_and_lock() {
  if (!store_->in_transaction()) {
    store_->begin(db::kWriteBusyWait);
    locked_ = false;
  }
  if (locked_) return;
  const auto give_up = Clock::now() + db::kWriteBusyWait;
  for (;;) {
    try {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(give_up - Clock::now());
      store_->lock(tables_, std::max(left, std::chrono::milliseconds(1)));
      locked_ = true;
      return;
    } catch (const Failure& refused) {
      // What this transaction locked would keep the other session waiting
      // too (a deadlock, which the server breaks by refusing one of them): it
      // is given back, and the locks are asked for again while time is left.
      // A check run's transaction holds its writes: it keeps what it has.
      if (refused.number() != static_cast<int>(ErrorCode::TableInUse) || run_.check) throw;
      store_->roll_back();
      steps_.transaction_ended();
      if (Clock::now() >= give_up) throw;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      store_->begin(db::kWriteBusyWait);
    }
  }
}

std::string FileImport::progress_value(std::string_view column, const db::RowValues& row) {
  const int c = table_->at(column);
  const auto i = static_cast<std::size_t>(c);
  if (row[i]) return db::to_text(*row[i], run_.regional);
  // A column the record leaves as it is shows what the row holds.
  std::vector<db::Value> key;
  for (int k : steps_.key().columns) key.push_back(*row[static_cast<std::size_t>(k)]);
  auto found = store_->find(*table_, steps_.key(), key);
  return db::to_text(found ? (*found)[i] : table_->columns[i].default_value, run_.regional);
}

std::string FileImport::progress_text(const db::RowValues& row) {
  return fmt::format("{}{} - {}", d_.progress_text, progress_value(d_.progress_first, row),
                     progress_value(d_.progress_second, row));
}

void FileImport::process(std::string_view text, bool one_by_one) {
  std::string_view rest = text;
  field_code_.clear();
  if (!prepared_) {
    steps_.prepare(*store_, *table_);
    for (const LayoutField& field : d_.layout) columns_.push_back(table_->find(field.column));
    prepared_ = true;
  }
  field_code_ = "00";
  if (next_field(rest, separator_) != d_.identifier) throw failure(ErrorCode::BadRecordIdentifier);

  db::RowValues row(table_->columns.size());
  steps_.position(*store_, rest, row, field_code_, one_by_one);
  for (std::size_t i = 0; i < d_.layout.size(); ++i) {
    const LayoutField& field = d_.layout[i];
    field_code_ = field.field_code;
    std::optional<db::Value> value = convert_field(field.conversion, next_field(rest, separator_), run_.regional);
    if (!value) continue;
    if (columns_[i] < 0) throw failure(ErrorCode::ItemNotFound, field.column);
    const auto c = static_cast<std::size_t>(columns_[i]);
    row[c] = db::convert_for_column(table_->columns[c], std::move(*value), run_.regional);
  }
  field_code_.clear();
  // An unattended run shows no progress: the record's label is not made.
  if (run_.window.shows_labels()) {
    run_.window.set_label(Label::progress, progress_text(row));
    run_.window.repaint_label(Label::progress);
  }

  steps_.keep(row);
  if (one_by_one) store_->savepoint(kRecord);
  // A record undone is not counted.
  const Counts before = counts_;
  try {
    bool duplicate = false;
    try {
      store_->write(*table_, steps_.key(), std::move(row), counts_.written, steps_.outcome());
      if (one_by_one) store_->sync();
    } catch (const Failure& f) {
      // A row that would duplicate a unique value is passed over in silence.
      if (!one_by_one || !is_duplicate(f)) throw;
      duplicate = true;
      ++counts_.duplicates;
      store_->roll_back_to(kRecord);
      store_->savepoint(kRecord);
    }
    steps_.after_write(*store_, duplicate, one_by_one);
    if (one_by_one) store_->release(kRecord);
  } catch (const Failure&) {
    // The record is undone as a whole; the records before it stay.
    if (one_by_one && !store_->lost()) {
      store_->roll_back_to(kRecord);
      counts_ = before;
    }
    throw;
  }
}

void FileImport::start_group() {
  store_->savepoint(kGroup);
  steps_.group_started();
  group_counts_ = counts_;
}

void FileImport::end_group() {
  if (group_.empty()) return;
  steps_.end_group(*store_);
  store_->release(kGroup);
  group_.clear();
  group_bytes_ = 0;
}

void FileImport::write_group_again() {
  store_->roll_back_to(kGroup);
  steps_.group_undone();
  counts_ = group_counts_;
  std::vector<Pending> again = std::move(group_);
  group_.clear();
  group_bytes_ = 0;
  for (Pending& pending : again) {
    record_ = pending.record;
    summary_.read = record_;
    line_ = std::move(pending.line);
    if (run_.all_errors)
      write_or_pass_over();
    else
      process(line_, true);
  }
}

void FileImport::write_or_pass_over() {
  store_->savepoint(kWholeRecord);
  steps_.record_started();
  try {
    process(line_, true);
    store_->release(kWholeRecord);
  } catch (const Failure& f) {
    if (store_->lost()) throw;
    // A roll back that fails ends the file.
    store_->roll_back_to(kWholeRecord);
    steps_.record_undone();
    report(RecordFailure::Outcome::passed_over, record_, field_code_, f);
  }
}

void FileImport::settle_group() {
  try {
    end_group();
  } catch (const Failure&) {
    if (store_->lost()) throw;
    write_group_again();
  }
}

void FileImport::commit(bool pause) {
  settle_group();
  committing_ = true;
  run_.commit();
  committing_ = false;
  committed_ = record_;
  committed_counts_ = counts_;
  records_since_commit_ = 0;
  last_commit_ = Clock::now();
  // A check run keeps its one transaction, and its locks, to the end.
  if (run_.check) return;
  steps_.transaction_ended();
  if (pause) std::this_thread::sleep_for(kCommitPause);
}

void FileImport::add_failure(RecordFailure::Outcome outcome, long record, std::string field_code, int error,
                             std::string_view description, std::string message) {
  RecordFailure failure;
  failure.outcome = outcome;
  failure.record = record;
  failure.column = column_of_field(d_, steps_, field_code);
  failure.field_code = std::move(field_code);
  failure.error = error;
  failure.description = description;
  failure.message = std::move(message);
  if (outcome != RecordFailure::Outcome::lost && record > 0 && record == record_)
    failure.record_start = record_start(line_);
  summary_.failures.push_back(std::move(failure));
}

void FileImport::report(RecordFailure::Outcome outcome, long record, std::string field_code, const Failure& f) {
  std::string line = error_line(d_.error_label, record, field_code, f.description());
  run_.error_text += line;
  line.resize(line.size() - 2);  // the line end
  add_failure(outcome, record, std::move(field_code), f.number(), f.description(), std::move(line));
}

void FileImport::fail(const Failure& f) {
  if (committing_) {
    // The commit lost the records after the last one committed; the text of
    // the first of them is no longer at hand.
    record_ = committed_ + 1;
    field_code_.clear();
    line_.clear();
    counts_ = committed_counts_;
  }
  report(RecordFailure::Outcome::stopped, record_, field_code_, f);
  // The records before the failing one are kept, unless the database lost
  // them: then the line of the first record lost says so.
  auto lost = [&](const Failure& why) {
    counts_ = committed_counts_;
    if (run_.error_text.ends_with(error_line(d_.error_label, committed_ + 1, "", why.description()))) return;
    report(RecordFailure::Outcome::lost, committed_ + 1, "", why);
  };
  if (store_ && store_->lost()) {
    lost(f);
    return;
  }
  // A group that was not undone must not be committed in part.
  if (!group_.empty()) {
    try {
      store_->roll_back_to(kGroup);
    } catch (const Failure&) {
      store_->roll_back();
      lost(f);
      return;
    }
    counts_ = group_counts_;
    group_.clear();
    group_bytes_ = 0;
  }
  try {
    run_.commit();
  } catch (const Failure& why) {
    lost(why);
  }
}

void FileImport::run() {
  try {
    try {
      LineReader file(run_.settings.interchange_dir + std::string(d_.file_name));
      steps_.before_open(run_);
      store_ = &run_.database("No es posible abrir la base de datos: " + run_.settings.database_path, false);
      // An empty file has no record to write: its table is only looked for.
      if (file.at_end() && !store_->has_table(d_.table)) throw failure(ErrorCode::TableNotFound, d_.table);
      if (!file.at_end()) {
        table_ = &store_->table(d_.table);
        tables_ = steps_.tables_written(table_->name);
        std::sort(tables_.begin(), tables_.end());
      }
      while (!file.at_end()) {
        try {
          read_record(file);
        } catch (const Failure&) {
          // The records before a line that cannot be read are written first:
          // one of them may fail before it.
          const long at = record_;
          std::string text = line_;
          settle_group();
          record_ = at, summary_.read = at, line_ = std::move(text);
          throw;
        }
        field_code_.clear();
        begin_and_lock();
        if (group_.empty()) start_group();
        group_.push_back({record_, line_});
        group_bytes_ += line_.size();
        ++records_since_commit_;
        try {
          process(line_, false);
        } catch (const Failure&) {
          if (store_->lost()) throw;
          write_group_again();
        }
        if (group_.size() >= kGroupRecords || group_bytes_ >= kGroupBytes || commit_due()) settle_group();
        // A check run commits nothing, but its groups end on the same beat.
        if (commit_due()) commit(!run_.check);
      }
      commit(false);
    } catch (const Failure& f) {
      fail(f);
    }
  } catch (const OpenGaveUp& gave_up) {
    add_failure(RecordFailure::Outcome::stopped, record_, field_code_, 0, gave_up.what(), gave_up.what());
    summary_.added = counts_.written.added, summary_.changed = counts_.written.changed;
    summary_.duplicates = counts_.duplicates + counts_.written.duplicates;
    throw;
  }
  summary_.added = counts_.written.added, summary_.changed = counts_.written.changed;
  summary_.duplicates = counts_.duplicates + counts_.written.duplicates;
}

}  // namespace

std::string error_line(std::string_view label, long record, std::string_view field_code,
                       std::string_view description) {
  return fmt::format("{}{}/{}) {}\r\n", label, record, field_code, description);
}

std::string with_separator(std::string line, std::string_view separator) {
  if (!line.ends_with(separator)) line += separator;
  return line;
}

std::string_view column_of_field(const ImportDescription& d, const RecordSteps& steps, std::string_view field_code) {
  if (field_code.empty()) return {};
  if (field_code == d.key_field_code && !d.key_column.empty()) return d.key_column;
  for (const LayoutField& field : d.layout)
    if (field.field_code == field_code) return field.column;
  return steps.key_column_of(field_code);
}

void import_file(Run& run, const ImportDescription& description, RecordSteps* steps) {
  run.window.repaint();
  KeyColumnSteps key_steps(description, run);
  SummaryScope scope(run, description.file_name);
  FileImport(run, description, steps ? *steps : key_steps, scope.summary).run();
}

}  // namespace kavelo
