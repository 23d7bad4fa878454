#include "import/journal/entry_numbering.h"

#include <fmt/format.h>

#include "db/query_reading.h"
#include "import/journal/entry_lines.h"
#include "platform/failure.h"

namespace kavelo {
namespace {

// An empty setting equals no number; any other value is compared as a number
// (a text that is no number fails as a type mismatch).
bool setting_is(const db::Value& value, double number) {
  return !value.is_null() && db::to_double(value) == number;
}

std::int32_t plus_one(std::int32_t n) {
  if (n == INT32_MAX) throw failure(ErrorCode::Overflow);
  return n + 1;
}

}  // namespace

std::string counter_query(std::int16_t journal) {
  return fmt::format("SELECT ASIDIA FROM F_DIA WHERE CODDIA={};", journal);
}

std::string highest_on_date_query(std::int16_t journal, const DateTime& date) {
  return fmt::format(
      "SELECT MAX(F_APU.ASIAPU) AS MAX, DIAAPU, FECAPU FROM F_APU GROUP BY DIAAPU, FECAPU "
      "HAVING (DIAAPU={}) AND (FECAPU={});",
      journal, jet_date_literal(date));
}

std::string highest_in_journal_query(std::int16_t journal) {
  return fmt::format(
      "SELECT Max(F_APU.ASIAPU) AS MAXI, F_APU.DIAAPU From F_APU GROUP BY F_APU.DIAAPU  "
      "HAVING (((F_APU.DIAAPU)={}));",
      journal);
}

NumberingMode numbering_mode(const db::Row& settings) {
  if (!setting_is(settings.at("NAAAUT"), 1)) return NumberingMode::Journal;
  return setting_is(settings.at("NAMAUT"), 0) ? NumberingMode::JournalCounter : NumberingMode::JournalAndDate;
}

EntryNumbering::EntryNumbering(db::Row settings, std::string path)
    : settings_(std::move(settings)), path_(std::move(path)) {}

std::int32_t EntryNumbering::NumerarAsiento(std::int16_t journal, const DateTime& date, std::int32_t entry,
                                            std::int32_t order) {
  if (entry != 0) return entry;
  if (order != 1) return current_;
  switch (numbering_mode(settings_)) {
    case NumberingMode::JournalCounter: current_ = from_counter(journal, date); break;
    case NumberingMode::JournalAndDate: current_ = after_highest(highest_on_date_query(journal, date), "MAX"); break;
    case NumberingMode::Journal: current_ = after_highest(highest_in_journal_query(journal), "MAXI"); break;
  }
  return current_;
}

std::int32_t EntryNumbering::from_counter(std::int16_t journal, const DateTime& date) {
  // A journal without a row or without a counter fails here; no counter is made.
  std::int32_t n = db::to_int32(db::LeerConsulta(counter_query(journal), path_).at("ASIDIA"));
  // Only the numbers the journal took on this same date are passed over.
  while (!LeerApuntesAsiento(journal, date, n, path_).empty()) n = plus_one(n);
  db::Row counter;
  counter.add("ASIDIA", db::Value(plus_one(n)));
  db::GrabarRegistro("F_DIA", counter, path_, {{"CODDIA", db::Value(journal)}});
  return n;
}

std::int32_t EntryNumbering::after_highest(const std::string& query, const char* column) {
  db::Row highest = db::LeerConsulta(query, path_);
  if (highest.empty()) return 1;  // no line yet
  return plus_one(db::to_int32(highest.at(column)));
}

}  // namespace kavelo
