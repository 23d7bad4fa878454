#pragma once
// The entry number a journal line is stored under: the file's own number, or a
// new one by the numbering settings of F_AUT when the file says 0.
#include <cstdint>
#include <string>

#include "db/row.h"
#include "platform/date_time.h"

namespace kavelo {

// The query texts of the three ways of numbering.
std::string counter_query(std::int16_t journal);  // ASIDIA of the journal
std::string highest_on_date_query(std::int16_t journal, const DateTime& date);
std::string highest_in_journal_query(std::int16_t journal);

enum class NumberingMode {
  JournalCounter,   // NAAAUT 1, NAMAUT 0
  JournalAndDate,   // NAAAUT 1, NAMAUT anything else
  Journal,          // NAAAUT anything but 1
};

// The mode of an F_AUT row; a row without the settings fails (error 3265).
NumberingMode numbering_mode(const db::Row& settings);

// The numbering of one run over APU.TXT: the settings are read once, before it
// starts, and the number of the last entry begun is kept from line to line.
class EntryNumbering {
 public:
  // `settings`: the F_AUT row of CODAUT 1, empty when there is none (the first
  // entry to be numbered then fails).
  EntryNumbering(db::Row settings, std::string path);

  // A file number other than 0 stays as it is; 0 with order 1 begins a new
  // entry; 0 with any other order continues the last entry begun (0 before any).
  std::int32_t NumerarAsiento(std::int16_t journal, const DateTime& date, std::int32_t entry, std::int32_t order);

 private:
  std::int32_t from_counter(std::int16_t journal, const DateTime& date);
  std::int32_t after_highest(const std::string& query, const char* column);

  db::Row settings_;
  std::string path_;
  std::int32_t current_ = 0;
};

}  // namespace kavelo
