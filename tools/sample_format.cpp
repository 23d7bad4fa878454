#include "sample_format.h"

#include <array>
#include <charconv>

#include "platform/codepage.h"

namespace kavelo::sample {
namespace {

std::int64_t days_from_civil(int y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

const std::int64_t kFirstDay = days_from_civil(kYear, 1, 1);

}  // namespace

std::string to1252(std::string_view utf8) { return utf8_to_cp1252(utf8); }

std::string number(std::int64_t n) {
  std::array<char, 24> buffer{};
  auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), n);
  return std::string(buffer.data(), end);
}

std::string padded(std::int64_t n, int width) {
  std::string digits = number(n);
  if (static_cast<int>(digits.size()) < width) digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
  return digits;
}

std::string amount(std::int64_t cents, bool grouped) {
  std::string out = cents < 0 ? "-" : "";
  std::uint64_t value = static_cast<std::uint64_t>(cents < 0 ? -cents : cents);
  std::string units = number(static_cast<std::int64_t>(value / 100));
  if (grouped)
    for (std::size_t at = units.size(); at > 3; at -= 3) units.insert(at - 3, 1, '.');
  out += units;
  out += ',';
  out += padded(static_cast<std::int64_t>(value % 100), 2);
  return out;
}

std::string cut(std::string text, std::size_t size) {
  if (text.size() > size) text.resize(size);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

Date civil_from_days(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int year = static_cast<int>(yoe + era * 400 + (month <= 2));
  return {year, month, day};
}

std::int64_t day_of(std::int64_t index, std::int64_t count) { return kFirstDay + index * 365 / count; }

std::string date_text(std::int64_t days) {
  Date d = civil_from_days(days);
  return padded(d.day, 2) + "/" + padded(d.month, 2) + "/" + padded(d.year, 4);
}

}  // namespace kavelo::sample
