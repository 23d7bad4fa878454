#pragma once
// A calendar date with an optional time of day, as the company database keeps
// it: no time zone, a second's precision.
#include <compare>
#include <optional>
#include <string>
#include <string_view>

namespace kavelo {

struct DateTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;

  bool has_time() const { return hour != 0 || minute != 0 || second != 0; }
  auto operator<=>(const DateTime&) const = default;
};

// True for a real calendar day (years 100 to 9999) and a time of day.
bool is_valid(const DateTime& value);

// Storage form: "YYYY-MM-DD", or "YYYY-MM-DD HH:MM:SS" when there is a time.
std::string to_iso(const DateTime& value);
// Appends " HH:MM:SS".
void append_time(std::string& text, const DateTime& value);
// Reads the storage form back; nullopt for anything else.
std::optional<DateTime> from_iso(std::string_view text);

// Day numbers counted from 30 December 1899 (day 0), with the time as the
// fraction of the day, the serial form dates take inside numbers.
double to_serial(const DateTime& value);
std::optional<DateTime> from_serial(double serial);

}  // namespace kavelo
