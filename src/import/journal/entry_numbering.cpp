#include "import/journal/entry_numbering.h"

#include "platform/failure.h"
#include "platform/text.h"

namespace kavelo {
namespace {

bool setting_is(const db::Value& value, double number, const RegionalSettings& regional) {
  return !value.is_null() && db::to_double(value, regional) == number;
}

std::int32_t plus_one(std::int32_t n) {
  if (n == INT32_MAX) throw failure(ErrorCode::Overflow);
  return n + 1;
}

constexpr const char* kCounter = "kavelo_counter";

}  // namespace

NumberingMode numbering_mode(const db::Value& naaaut, const db::Value& namaut, const RegionalSettings& regional) {
  if (!setting_is(naaaut, 1, regional)) return NumberingMode::Journal;
  return setting_is(namaut, 0, regional) ? NumberingMode::JournalCounter : NumberingMode::JournalAndDate;
}

EntryNumbering::EntryNumbering(const db::Table& settings_table, std::optional<db::Row> settings,
                               const RegionalSettings& regional, std::function<void()> counter_not_written)
    : settings_table_(settings_table),
      settings_(std::move(settings)),
      regional_(regional),
      counter_not_written_(std::move(counter_not_written)) {}

NumberingMode EntryNumbering::mode() const {
  // No row, or a row without the settings, fails as the setting not found.
  auto setting = [&](std::string_view name) -> const db::Value& {
    int at = settings_table_.find(name);
    if (!settings_ || at < 0) throw failure(ErrorCode::ItemNotFound, name);
    return (*settings_)[static_cast<std::size_t>(at)];
  };
  const db::Value& naaaut = setting("NAAAUT");
  if (!setting_is(naaaut, 1, regional_)) return NumberingMode::Journal;
  return numbering_mode(naaaut, setting("NAMAUT"), regional_);
}

void EntryNumbering::find_tables(db::Store& store) {
  if (lines_) return;
  const db::Table& lines = store.table("F_APU");
  line_journal_ = lines.at("DIAAPU");
  line_date_ = lines.at("FECAPU");
  line_entry_ = lines.at("ASIAPU");
  line_guid_ = lines.find("GUIDAPU");
  lines_ = &lines;
}

std::int32_t EntryNumbering::number(db::Store& store, std::int16_t journal, const DateTime& date, std::int32_t entry,
                                    std::int32_t order, bool one_by_one, const std::string* guid) {
  if (entry != 0) return entry;
  if (guid && !guid->empty())
    if (auto known = entry_of_guid(store, journal, date, *guid)) return current_ = *known;
  if (order != 1) return current_;
  switch (mode()) {
    case NumberingMode::JournalCounter: current_ = from_counter(store, journal, date, one_by_one); break;
    case NumberingMode::JournalAndDate: current_ = after_highest(store, journal, date); break;
    case NumberingMode::Journal: current_ = after_highest(store, journal, std::nullopt); break;
  }
  return current_;
}

std::int32_t EntryNumbering::from_counter(db::Store& store, std::int16_t journal, const DateTime& date,
                                          bool one_by_one) {
  find_tables(store);
  if (!journals_) {
    const db::Table& journals = store.table("F_DIA");
    journal_key_ = journals.key({"CODDIA"});
    counter_ = journals.find("ASIDIA");
    journals_ = &journals;
  }
  // A journal without a row or without a counter fails here; no counter is made.
  std::int32_t n;
  if (auto known = counters_.find(journal); known != counters_.end()) {
    n = known->second;
  } else {
    auto row = store.find(*journals_, journal_key_, {db::Value(journal)});
    if (!row || counter_ < 0) throw failure(ErrorCode::ItemNotFound, "ASIDIA");
    n = db::to_int32((*row)[static_cast<std::size_t>(counter_)], regional_);
  }
  // Only the numbers the journal took on this same date are passed over.
  auto taken = taken_.find({journal, date});
  if (taken == taken_.end()) {
    std::unordered_set<std::int32_t> numbers;
    for (const db::Value& v :
         store.distinct(*lines_, line_entry_, {{line_journal_, db::Value(journal)}, {line_date_, db::Value(date)}},
                        db::Unsent::left))
      if (!v.is_null()) numbers.insert(db::to_int32(v, regional_));
    if (auto stored = stored_.find({journal, date}); stored != stored_.end())
      numbers.insert(stored->second.begin(), stored->second.end());
    taken = taken_.emplace(std::make_pair(journal, date), std::move(numbers)).first;
  }
  while (taken->second.contains(n)) n = plus_one(n);

  // The counter moves past the number given. A counter that cannot take the
  // next number is left as it is; so is one the table refuses to change.
  counters_.erase(journal);
  const std::int32_t next = plus_one(n);
  const auto column = static_cast<std::size_t>(counter_);
  db::RowValues row(journals_->columns.size());
  try {
    row[column] = db::convert_for_column(journals_->columns[column], db::Value(next), regional_);
  } catch (const Failure&) {
    if (!one_by_one) throw;
    counter_not_written_();
    return n;
  }
  row[static_cast<std::size_t>(journal_key_.columns.front())] = db::Value(journal);
  if (!one_by_one) {
    // Records written together write the counter once, with its last number.
    unwritten_[journal] = std::move(row);
  } else {
    store.savepoint(kCounter);
    try {
      store.change(*journals_, journal_key_, std::move(row));
      store.release(kCounter);
    } catch (const Failure&) {
      if (store.lost()) throw;
      store.roll_back_to(kCounter);
      return n;
    }
  }
  counters_[journal] = next;
  return n;
}

std::int32_t EntryNumbering::after_highest(db::Store& store, std::int16_t journal,
                                           const std::optional<DateTime>& date) {
  find_tables(store);
  auto known = highest_.find({journal, date});
  if (known == highest_.end()) {
    db::Conditions where{{line_journal_, db::Value(journal)}};
    if (date) where.emplace_back(line_date_, db::Value(*date));
    known = highest_.emplace(std::make_pair(journal, date), store.largest(*lines_, line_entry_, where, db::Unsent::left))
                .first;
    // With the lines stored since, which the store may not have been sent.
    for (const auto& [key, entries] : stored_)
      if (key.first == journal && (!date || key.second == *date))
        for (std::int32_t entry : entries) raise(known->second, entry);
  }
  if (!known->second) return 1;  // no line yet
  return plus_one(db::to_int32(*known->second, regional_));
}

void EntryNumbering::raise(std::optional<db::Value>& highest, std::int32_t entry) const {
  try {
    if (!highest || highest->is_null() || db::to_int32(*highest, regional_) < entry) highest = db::Value(entry);
  } catch (const Failure&) {
    // The column holds what is no number: the next numbering fails on it.
  }
}

std::optional<std::int32_t> EntryNumbering::entry_of_guid(db::Store& store, std::int16_t journal, const DateTime& date,
                                                          const std::string& guid) {
  find_tables(store);
  if (line_guid_ < 0) throw failure(ErrorCode::ItemNotFound, "GUIDAPU");
  if (guid_months_.emplace(journal, date.year, date.month).second) {
    // The lines of the whole month, in one read: a file's lines come a date
    // after another.
    const DateTime first{date.year, date.month, 1};
    const DateTime next = date.month == 12 ? DateTime{date.year + 1, 1, 1} : DateTime{date.year, date.month + 1, 1};
    for (const db::Row& row : store.rows(*lines_, {line_guid_, line_entry_, line_date_},
                                         {{line_journal_, db::Value(journal)}},
                                         db::Span{line_date_, db::Value(first), db::Value(next)}, db::Unsent::left)) {
      const db::Value& stored = row[0];
      const db::Value& number = row[1];
      const db::Value& day = row[2];
      if (stored.is_null() || number.is_null() || !day.is_date()) continue;
      const std::string text = db::to_text(stored, regional_);
      if (!text.empty())
        guids_[{journal, *day.get_if<DateTime>()}].emplace(upper(text), db::to_int32(number, regional_));
    }
  }
  auto known = guids_.find({journal, date});
  if (known == guids_.end()) return std::nullopt;
  auto it = known->second.find(upper(guid));
  if (it == known->second.end()) return std::nullopt;
  return it->second;
}

void EntryNumbering::line_stored(std::int16_t journal, const DateTime& date, std::int32_t entry,
                                 const std::string& guid) {
  if (!guid.empty() && guid_months_.contains({journal, date.year, date.month}))
    guids_[{journal, date}].emplace(upper(guid), entry);
  stored_[{journal, date}].insert(entry);
  if (auto taken = taken_.find({journal, date}); taken != taken_.end()) taken->second.insert(entry);
  for (const auto& key : {std::make_pair(journal, std::optional<DateTime>(date)),
                          std::make_pair(journal, std::optional<DateTime>())})
    if (auto known = highest_.find(key); known != highest_.end()) raise(known->second, entry);
}

void EntryNumbering::write_counters(db::Store& store) {
  for (auto& [journal, row] : unwritten_) store.change(*journals_, journal_key_, std::move(row));
  unwritten_.clear();
}

void EntryNumbering::forget() {
  highest_.clear();
  taken_.clear();
  counters_.clear();
  stored_.clear();
}

}  // namespace kavelo
