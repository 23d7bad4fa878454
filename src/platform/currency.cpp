#include "platform/currency.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>
#include <string>

namespace kavelo {

std::optional<Currency> currency_from_decimal(bool negative, std::string_view digits, std::int64_t exponent) {
  digits.remove_prefix(std::min(digits.find_first_not_of('0'), digits.size()));
  if (digits.empty()) return Currency{};
  if (exponent > std::numeric_limits<std::int64_t>::digits10) return std::nullopt;
  // How many of the digits count whole ten-thousandths; the rest are rounded.
  const std::int64_t whole = static_cast<std::int64_t>(digits.size()) + exponent + 4;
  if (whole < 0) return Currency{};

  const std::uint64_t limit = std::uint64_t{1} << 63;
  const std::uint64_t largest = negative ? limit : limit - 1;
  std::uint64_t count = 0;
  for (std::int64_t i = 0; i < whole; ++i) {
    const unsigned digit = i < static_cast<std::int64_t>(digits.size()) ? digits[i] - '0' : 0;
    if (count > (largest - digit) / 10) return std::nullopt;
    count = count * 10 + digit;
  }
  if (whole < static_cast<std::int64_t>(digits.size())) {
    auto rest = digits.substr(static_cast<std::size_t>(whole));
    const bool above_half = rest.find_first_not_of('0', 1) != std::string_view::npos;
    if (rest[0] > '5' || (rest[0] == '5' && (above_half || count % 2 == 1))) {
      if (count == largest) return std::nullopt;
      ++count;
    }
  }
  // Modular conversion (C++20) gives -2^63 for the largest negative count.
  return Currency{negative ? static_cast<std::int64_t>(0 - count) : static_cast<std::int64_t>(count)};
}

// Rounded on the shortest decimal that reads back as `value`, so that a number
// and the text it was read from give the same amount (0.00015 -> 0.0002).
std::optional<Currency> currency_from_double(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  // Most values were stored from ten-thousandths and scale back next to a
  // whole number; the error of the scaling (below 2^-12 in this range) cannot
  // move them across a half, so only values near one need the decimal digits.
  const double scaled = value * Currency::kScale;
  if (std::fabs(scaled) < 0x1p40) {
    const double whole = std::nearbyint(scaled);
    if (std::fabs(scaled - whole) < 0.25) return Currency{static_cast<std::int64_t>(whole)};
  }
  char buffer[32];
  const auto end = std::to_chars(buffer, std::end(buffer), std::fabs(value), std::chars_format::scientific).ptr;
  const std::string_view text(buffer, static_cast<std::size_t>(end - buffer));  // "d.ddde+xx" or "de-xx"
  const auto e = text.find('e');
  std::string digits(1, text[0]);
  if (e > 1) digits.append(text.substr(2, e - 2));
  const auto exponent_text = text.substr(text[e + 1] == '+' ? e + 2 : e + 1);
  int exponent = 0;
  std::from_chars(exponent_text.data(), exponent_text.data() + exponent_text.size(), exponent);
  return currency_from_decimal(std::signbit(value), digits, exponent - static_cast<int>(digits.size()) + 1);
}

double to_double(Currency value) { return static_cast<double>(value.ten_thousandths) / Currency::kScale; }

}  // namespace kavelo
