// Dates read and written by the regional settings.

#include <tuple>

#include "platform/failure.h"
#include "platform/regional.h"
#include "platform/text.h"

namespace kavelo {
namespace {

[[noreturn]] void type_mismatch() { throw failure(ErrorCode::TypeMismatch); }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

struct Number {
  int value = 0;
  std::size_t digits = 0;
};

// The digits at the front of `text`; no field of a date has more than four,
// so reading stops after five (which no field accepts).
Number take_number(std::string_view& text) {
  Number number;
  for (; !text.empty() && is_digit(text.front()) && number.digits < 5; text.remove_prefix(1)) {
    number.value = number.value * 10 + (text.front() - '0');
    ++number.digits;
  }
  return number;
}

bool take(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

std::size_t skip_blanks(std::string_view& text) {
  const auto blanks = std::min(text.find_first_not_of(' '), text.size());
  text.remove_prefix(blanks);
  return blanks;
}

bool is_day_or_month(Number number) { return number.digits == 1 || number.digits == 2; }

// Two-digit years 00-29 are this century's, 30-99 the last one's.
int full_year(Number year) {
  if (year.digits == 4) return year.value;
  if (year.digits == 2) return year.value + (year.value < 30 ? 2000 : 1900);
  type_mismatch();
}

// "h:mm" or "h:mm:ss" into `value` (the ranges are checked with the date).
void take_time(std::string_view& text, DateTime& value) {
  const auto hour = take_number(text);
  if (!is_day_or_month(hour) || !take(text, ':')) type_mismatch();
  const auto minute = take_number(text);
  if (minute.digits != 2) type_mismatch();
  value.hour = hour.value;
  value.minute = minute.value;
  if (take(text, ':')) {
    const auto second = take_number(text);
    if (second.digits != 2) type_mismatch();
    value.second = second.value;
  }
}

}  // namespace

DateTime parse_date(std::string_view text, const RegionalSettings& settings) {
  skip_blanks(text);
  const auto first = take_number(text);
  const char separator = text.empty() ? '\0' : text.front();
  if (separator != '/' && separator != '-' && separator != '.') type_mismatch();
  text.remove_prefix(1);
  const auto second = take_number(text);
  if (!take(text, separator)) type_mismatch();
  const auto third = take_number(text);

  // A four-digit first field can only be a year, so ISO dates read under any order.
  const auto order = first.digits == 4 && separator == '-' ? DateOrder::YearMonthDay : settings.date_order;
  const auto [year, month, day] = [&] {
    switch (order) {
      case DateOrder::DayMonthYear: return std::tuple{third, second, first};
      case DateOrder::MonthDayYear: return std::tuple{third, first, second};
      case DateOrder::YearMonthDay: break;
    }
    return std::tuple{first, second, third};
  }();
  if (!is_day_or_month(month) || !is_day_or_month(day)) type_mismatch();
  DateTime value;
  value.year = full_year(year);
  value.month = month.value;
  value.day = day.value;

  if (skip_blanks(text) > 0 && !text.empty()) {
    take_time(text, value);
    skip_blanks(text);
  }
  if (!text.empty() || !is_valid(value)) type_mismatch();
  return value;
}

std::string format_date(const DateTime& value, const RegionalSettings& settings) {
  std::string text;
  text.reserve(19);
  const PaddedNumber day{value.day, 2}, month{value.month, 2}, year{value.year, 4};
  switch (settings.date_order) {
    case DateOrder::DayMonthYear: append_joined(text, settings.date_separator, {day, month, year}); break;
    case DateOrder::MonthDayYear: append_joined(text, settings.date_separator, {month, day, year}); break;
    case DateOrder::YearMonthDay: append_joined(text, settings.date_separator, {year, month, day}); break;
  }
  if (value.has_time()) append_time(text, value);
  return text;
}

}  // namespace kavelo
