// Every conversion of an interchange field, under Spanish and US settings: a
// failure is always one of ours, and what is written reads back the same.
#include <cstdlib>
#include <string>

#include "db/value.h"
#include "interchange/conversions.h"
#include "platform/codepage.h"
#include "platform/failure.h"
#include "platform/regional.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  if (size < 1) return 0;
  kavelo::RegionalSettings settings = kavelo::RegionalSettings::spanish();
  if (data[0] & 1) settings = {kavelo::DateOrder::MonthDayYear, '/', ".", ","};
  std::string field = kavelo::cp1252_to_utf8(std::string(reinterpret_cast<const char*>(data + 1), size - 1));

  for (auto conversion : {kavelo::Conversion::Text, kavelo::Conversion::Number, kavelo::Conversion::Amount,
                          kavelo::Conversion::Date, kavelo::Conversion::Whole16, kavelo::Conversion::Whole32,
                          kavelo::Conversion::TextIfNotEmpty}) {
    try {
      auto value = kavelo::convert_field(conversion, field, settings);
      if (!value) continue;
      // The text form of a value reads back as the same value.
      if (auto amount = value->get_if<kavelo::Currency>()) {
        if (kavelo::parse_currency(kavelo::format_currency(*amount, settings), settings) != *amount) std::abort();
      }
      if (auto date = value->get_if<kavelo::DateTime>()) {
        if (kavelo::parse_date(kavelo::format_date(*date, settings), settings) != *date) std::abort();
      }
      (void)kavelo::db::to_text(*value, settings);
    } catch (const kavelo::Failure& f) {
      if (f.description().empty()) std::abort();
    }
  }
  return 0;
}
