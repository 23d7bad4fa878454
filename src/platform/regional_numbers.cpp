// Numbers and currency amounts read and written by the regional settings.
#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <iterator>

#include "platform/failure.h"
#include "platform/regional.h"

namespace kavelo {
namespace {

// A number as written: digits times ten to the exponent, kept in decimal so an
// amount is rounded on what the text says.
struct Decimal {
  bool negative = false;
  std::string digits;
  std::int64_t exponent = 0;
};

// Far beyond any double or amount, yet far from overflowing the exponent.
constexpr std::int64_t kExponentLimit = 1'000'000;

[[noreturn]] void type_mismatch() { throw failure(ErrorCode::TypeMismatch); }

bool starts_with(std::string_view text, std::string_view symbol) {
  return !symbol.empty() && text.starts_with(symbol);
}

bool take(std::string_view& text, std::string_view symbol) {
  if (!starts_with(text, symbol)) return false;
  text.remove_prefix(symbol.size());
  return true;
}

// Moves the digits at the front of `text` to the end of `digits`; how many.
std::size_t take_digits(std::string_view& text, std::string& digits) {
  const auto count = std::min(text.find_first_not_of("0123456789"), text.size());
  digits.append(text.substr(0, count));
  text.remove_prefix(count);
  return count;
}

std::int64_t take_exponent(std::string_view& text) {
  const bool negative = take(text, "-");
  if (!negative) take(text, "+");
  std::string digits;
  if (take_digits(text, digits) == 0) type_mismatch();
  std::int64_t exponent = 0;
  for (char c : digits) exponent = std::min(exponent * 10 + (c - '0'), kExponentLimit);
  return negative ? -exponent : exponent;
}

std::string_view trim_blanks(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') + 1 - first);
}

Decimal read_decimal(std::string_view text, const RegionalSettings& settings) {
  text = trim_blanks(text);
  Decimal number;
  number.negative = take(text, "-");
  if (!number.negative) take(text, "+");
  // Grouping symbols may stand anywhere among the whole digits; they mean nothing.
  while (!starts_with(text, settings.decimal_symbol) &&
         (take_digits(text, number.digits) > 0 || take(text, settings.grouping_symbol))) {
  }
  if (take(text, settings.decimal_symbol)) number.exponent = -static_cast<std::int64_t>(take_digits(text, number.digits));
  if (number.digits.empty()) type_mismatch();
  if (take(text, "E") || take(text, "e")) number.exponent += take_exponent(text);
  if (!text.empty()) type_mismatch();
  return number;
}

// Decimal digits of the number before its decimal point (negative for 0.00ddd).
std::int64_t whole_digits(const Decimal& number) {
  const auto leading_zeros = std::min(number.digits.find_first_not_of('0'), number.digits.size());
  return static_cast<std::int64_t>(number.digits.size() - leading_zeros) + number.exponent;
}

}  // namespace

Currency parse_currency(std::string_view text, const RegionalSettings& settings) {
  const auto number = read_decimal(text, settings);
  const auto amount = currency_from_decimal(number.negative, number.digits, number.exponent);
  if (!amount) throw failure(ErrorCode::Overflow);
  return *amount;
}

double parse_number(std::string_view text, const RegionalSettings& settings) {
  const auto number = read_decimal(text, settings);
  const auto spelled = fmt::format("{}e{}", number.digits, number.exponent);
  double value = 0;
  const auto result = std::from_chars(spelled.data(), spelled.data() + spelled.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    // Too small for a double is zero; too large is an overflow.
    if (whole_digits(number) > 0) throw failure(ErrorCode::Overflow);
    value = 0;
  }
  return number.negative ? -value : value;
}

std::string format_number(double value, const RegionalSettings& settings) {
  if (value == 0) value = 0;  // no "-0"
  // Shortest digits that read back as the same double; plain digits for the
  // magnitudes amounts and quantities have, even where an exponent is shorter.
  const double size = std::fabs(value);
  char buffer[64];
  const auto end = size >= 1e-4 && size < 1e15
                       ? std::to_chars(buffer, std::end(buffer), value, std::chars_format::fixed).ptr
                       : std::to_chars(buffer, std::end(buffer), value).ptr;
  std::string text(buffer, end);
  if (const auto point = text.find('.'); point != std::string::npos) text.replace(point, 1, settings.decimal_symbol);
  return text;
}

std::string format_currency(Currency value, const RegionalSettings& settings) {
  const bool negative = value.ten_thousandths < 0;
  const auto count = static_cast<std::uint64_t>(value.ten_thousandths);
  const auto units = negative ? 0 - count : count;
  auto text = fmt::format("{}{}", negative ? "-" : "", units / Currency::kScale);
  if (const auto fraction = units % Currency::kScale; fraction != 0) {
    auto digits = fmt::format("{:04}", fraction);
    digits.erase(digits.find_last_not_of('0') + 1);
    text += settings.decimal_symbol + digits;
  }
  return text;
}

}  // namespace kavelo
