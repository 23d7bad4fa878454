#include "platform/date_time.h"

#include <chrono>
#include <cmath>

#include "platform/text.h"

namespace kavelo {
namespace {

namespace chrono = std::chrono;

constexpr int kSecondsPerDay = 86400;
constexpr chrono::sys_days kSerialEpoch = chrono::year{1899} / chrono::December / 30;

bool is_leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap(year) ? 29 : kDays[month - 1];
}

chrono::sys_days to_days(const DateTime& value) {
  return chrono::year{value.year} / chrono::month{static_cast<unsigned>(value.month)} /
         chrono::day{static_cast<unsigned>(value.day)};
}

// The number `width` digits at `pos` spell; -1 when one of them is no digit.
int read_digits(std::string_view text, std::size_t pos, std::size_t width) {
  int result = 0;
  for (char c : text.substr(pos, width)) {
    if (c < '0' || c > '9') return -1;
    result = result * 10 + (c - '0');
  }
  return result;
}

}  // namespace

bool is_valid(const DateTime& value) {
  return value.year >= 100 && value.year <= 9999 && value.month >= 1 && value.month <= 12 && value.day >= 1 &&
         value.day <= days_in_month(value.year, value.month) && value.hour >= 0 && value.hour <= 23 &&
         value.minute >= 0 && value.minute <= 59 && value.second >= 0 && value.second <= 59;
}

std::string to_iso(const DateTime& value) {
  std::string text;
  text.reserve(19);
  append_joined(text, '-', {{value.year, 4}, {value.month, 2}, {value.day, 2}});
  if (value.has_time()) append_time(text, value);
  return text;
}

void append_time(std::string& text, const DateTime& value) {
  text += ' ';
  append_joined(text, ':', {{value.hour, 2}, {value.minute, 2}, {value.second, 2}});
}

std::optional<DateTime> from_iso(std::string_view text) {
  if (text.size() != 10 && text.size() != 19) return std::nullopt;
  if (text[4] != '-' || text[7] != '-') return std::nullopt;
  DateTime value{read_digits(text, 0, 4), read_digits(text, 5, 2), read_digits(text, 8, 2)};
  if (text.size() == 19) {
    if (text[10] != ' ' || text[13] != ':' || text[16] != ':') return std::nullopt;
    value.hour = read_digits(text, 11, 2);
    value.minute = read_digits(text, 14, 2);
    value.second = read_digits(text, 17, 2);
  }
  if (!is_valid(value)) return std::nullopt;
  return value;
}

// Before day 0 the whole part counts back while the fraction still counts the
// time forward (-1.25 is 29 December 1899 at 6:00), as serial dates always did.
double to_serial(const DateTime& value) {
  const auto day = static_cast<double>((to_days(value) - kSerialEpoch).count());
  const double time = (value.hour * 3600 + value.minute * 60 + value.second) / double{kSecondsPerDay};
  return day < 0 ? day - time : day + time;
}

std::optional<DateTime> from_serial(double serial) {
  // Beyond these the year leaves 100..9999 (and NaN fails both).
  if (!(serial > -657435.0 && serial < 2958466.0)) return std::nullopt;
  const double whole = std::trunc(serial);
  auto seconds = static_cast<int>(std::lround(std::fabs(serial - whole) * kSecondsPerDay));
  auto days = chrono::days{static_cast<int>(whole)};
  if (seconds == kSecondsPerDay) {
    days += chrono::days{1};
    seconds = 0;
  }
  chrono::year_month_day date{kSerialEpoch + days};
  DateTime value;
  value.year = static_cast<int>(date.year());
  value.month = static_cast<int>(static_cast<unsigned>(date.month()));
  value.day = static_cast<int>(static_cast<unsigned>(date.day()));
  value.hour = seconds / 3600;
  value.minute = seconds / 60 % 60;
  value.second = seconds % 60;
  if (!is_valid(value)) return std::nullopt;
  return value;
}

}  // namespace kavelo
