#pragma once
// The entry number a journal line is stored under: the file's own number, or a
// new one by the numbering settings of F_AUT when the file says 0.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "db/store.h"
#include "platform/date_time.h"
#include "platform/regional.h"

namespace kavelo {

enum class NumberingMode {
  JournalCounter,  // NAAAUT 1, NAMAUT 0
  JournalAndDate,  // NAAAUT 1, NAMAUT anything else
  Journal,         // NAAAUT anything but 1
};

// The mode of the settings NAAAUT and NAMAUT. An empty setting equals no
// number; any other value is compared as a number (a text that is no number
// fails as a type mismatch).
NumberingMode numbering_mode(const db::Value& naaaut, const db::Value& namaut, const RegionalSettings& regional);

// The numbering of one run over APU.TXT: the settings are read once, before it
// starts, and the number of the last entry begun is kept from line to line.
// What it learns of the lines and counters stored holds until forget(): while
// a transaction keeps other writers of them out. It knows the lines stored
// since then, so that it reads what a store has not been sent yet without
// making the store send it.
class EntryNumbering {
 public:
  // `settings`: the F_AUT row of CODAUT 1 in `settings_table`, nullopt when
  // there is none (the first entry to be numbered then fails).
  // `counter_not_written`: told when the journal's counter cannot take its
  // next number, which is then not written.
  EntryNumbering(const db::Table& settings_table, std::optional<db::Row> settings, const RegionalSettings& regional,
                 std::function<void()> counter_not_written);

  // A file number other than 0 stays as it is; 0 with order 1 begins a new
  // entry; 0 with any other order continues the last entry begun (0 before
  // any). One by one, a counter the table refuses to change is left as it is.
  // With `guid` (a record's GUIDAPU, not empty), a record numbered 0 whose
  // GUID a line of the journal and date holds is that line's entry, and the
  // entry goes on under its number.
  std::int32_t number(db::Store& store, std::int16_t journal, const DateTime& date, std::int32_t entry,
                      std::int32_t order, bool one_by_one, const std::string* guid = nullptr);
  // A line is stored under this journal, date and entry number, with this
  // GUIDAPU.
  void line_stored(std::int16_t journal, const DateTime& date, std::int32_t entry, const std::string& guid = {});
  // Writes the counters that records written together moved: once each.
  void write_counters(db::Store& store);

  // The number of the last entry begun, kept and put back for records
  // written again.
  void save() { saved_ = current_; }
  void restore() {
    current_ = saved_;
    unwritten_.clear();
  }
  // Likewise for one record written alone: put back once the database has
  // undone what it wrote, a counter included, which is then read again.
  void save_record() { record_saved_ = current_; }
  void restore_record() {
    current_ = record_saved_;
    forget();
  }
  // What was learnt of the database no longer holds.
  void forget();

 private:
  NumberingMode mode() const;
  void find_tables(db::Store& store);
  std::int32_t from_counter(db::Store& store, std::int16_t journal, const DateTime& date, bool one_by_one);
  std::int32_t after_highest(db::Store& store, std::int16_t journal, const std::optional<DateTime>& date);
  // The entry of the line of the journal and date that holds the GUID.
  std::optional<std::int32_t> entry_of_guid(db::Store& store, std::int16_t journal, const DateTime& date,
                                            const std::string& guid);
  // `highest` raised to `entry` when it is lower.
  void raise(std::optional<db::Value>& highest, std::int32_t entry) const;

  const db::Table& settings_table_;
  std::optional<db::Row> settings_;
  const RegionalSettings& regional_;
  std::function<void()> counter_not_written_;
  const db::Table* lines_ = nullptr;     // F_APU
  const db::Table* journals_ = nullptr;  // F_DIA
  db::Key journal_key_;
  int line_journal_ = -1, line_date_ = -1, line_entry_ = -1, counter_ = -1;
  std::int32_t current_ = 0;
  std::int32_t saved_ = 0;
  std::int32_t record_saved_ = 0;

  // The highest entry number of a journal (no date) or of a journal and date,
  // as the lines stored give it: nullopt when there is no line.
  std::map<std::pair<std::int16_t, std::optional<DateTime>>, std::optional<db::Value>> highest_;
  // The entry numbers a journal took on a date.
  std::map<std::pair<std::int16_t, DateTime>, std::unordered_set<std::int32_t>> taken_;
  // The journal's counter as last read or written.
  std::map<std::int16_t, std::int32_t> counters_;
  // The counters moved by records written together, not yet written.
  std::map<std::int16_t, db::RowValues> unwritten_;
  // The entry numbers of the lines stored since forget(), by journal and date.
  std::map<std::pair<std::int16_t, DateTime>, std::unordered_set<std::int32_t>> stored_;
  // The entry of each GUID (in upper case, as the column compares it) of a
  // journal and date, read once a run, a month of a journal at a time: a
  // file sent again finds its lines by them, and the run knows what it
  // stored itself.
  std::map<std::pair<std::int16_t, DateTime>, std::unordered_map<std::string, std::int32_t>> guids_;
  std::set<std::tuple<std::int16_t, int, int>> guid_months_;  // journal, year, month
  int line_guid_ = -1;
};

}  // namespace kavelo
