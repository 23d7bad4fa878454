#pragma once
// The regional settings: how dates, numbers and currency amounts are read from
// text and written as text. They come from the locale environment; with none
// set, a C/POSIX/C.UTF-8 locale or one that is not installed, Spanish
// conventions apply (dd/mm/yyyy, decimal ",", grouping ".").
#include <string>
#include <string_view>

#include "platform/currency.h"
#include "platform/date_time.h"

namespace kavelo {

enum class DateOrder { DayMonthYear, MonthDayYear, YearMonthDay };

struct RegionalSettings {
  DateOrder date_order = DateOrder::DayMonthYear;
  char date_separator = '/';
  std::string decimal_symbol = ",";
  std::string grouping_symbol = ".";

  static RegionalSettings spanish() { return {}; }
  bool operator==(const RegionalSettings&) const = default;
};

// Read from LC_ALL, LC_TIME / LC_NUMERIC and LANG through the C library's
// locale data.
RegionalSettings regional_settings_from_environment();

// A date strictly in the regional order (separators "/", "-" and "."; one or two
// digit day and month; four-digit years, two-digit years 00-29 as 2000s and
// 30-99 as 1900s; an optional time h:mm or h:mm:ss), or ISO yyyy-mm-dd.
// Anything else is a type mismatch Failure.
DateTime parse_date(std::string_view text, const RegionalSettings& settings);
// The short date: dd/mm/yyyy under Spanish conventions; a time, when there is
// one, follows as " hh:mm:ss".
std::string format_date(const DateTime& value, const RegionalSettings& settings);

// A currency amount: blanks around, a leading sign, digits with grouping
// symbols ignored, one decimal symbol, an optional exponent; rounded half to
// even to four decimals. Type mismatch for the empty text and anything else;
// overflow outside the currency range.
Currency parse_currency(std::string_view text, const RegionalSettings& settings);
// A number the same way, as a double (type mismatch, overflow as above).
double parse_number(std::string_view text, const RegionalSettings& settings);

// Numbers and amounts as the regional settings write them: no grouping, the
// regional decimal symbol, no trailing zeros ("1234,5", "-0,25", "3").
std::string format_number(double value, const RegionalSettings& settings);
std::string format_currency(Currency value, const RegionalSettings& settings);

}  // namespace kavelo
