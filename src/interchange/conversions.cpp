#include "interchange/conversions.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "platform/failure.h"
#include "platform/regional.h"

namespace kavelo {
namespace {

bool skipped(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// The characters of the text with blanks, tabs and line feeds left out.
class Chars {
 public:
  explicit Chars(std::string_view text) : text_(text) { skip(); }
  bool done() const { return pos_ >= text_.size(); }
  char peek() const { return done() ? '\0' : text_[pos_]; }
  char upper_peek() const { return static_cast<char>(std::toupper(static_cast<unsigned char>(peek()))); }
  void next() {
    ++pos_;
    skip();
  }

 private:
  void skip() {
    while (pos_ < text_.size() && skipped(text_[pos_])) ++pos_;
  }
  std::string_view text_;
  std::size_t pos_ = 0;
};

double radix_integer(Chars& chars, int radix) {
  double value = 0;
  while (true) {
    char c = chars.upper_peek();
    int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : 99;
    if (digit >= radix) break;
    value = value * radix + digit;
    chars.next();
  }
  return value;
}

template <class T>
T round_to(double value) {
  double r = std::nearbyint(value);
  if (!(r >= std::numeric_limits<T>::min() && r <= std::numeric_limits<T>::max())) throw failure(ErrorCode::Overflow);
  return static_cast<T>(r);
}

}  // namespace

double read_number(std::string_view text) {
  Chars chars(text);
  if (chars.peek() == '&') {
    chars.next();
    char kind = chars.upper_peek();
    if (kind == 'H' || kind == 'O') {
      chars.next();
      double value = radix_integer(chars, kind == 'H' ? 16 : 8);
      if (std::isinf(value)) throw failure(ErrorCode::Overflow);
      return value;
    }
    return 0;
  }
  // The accepted characters, in a form from_chars reads.
  std::string number;
  if (chars.peek() == '+' || chars.peek() == '-') {
    if (chars.peek() == '-') number += '-';
    chars.next();
  }
  bool digits = false, point = false;
  while (true) {
    char c = chars.peek();
    if (std::isdigit(static_cast<unsigned char>(c))) {
      digits = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
    number += c;
    chars.next();
  }
  if (!digits) return 0;
  char e = chars.upper_peek();
  if (e == 'E' || e == 'D') {
    std::string exponent = "e";
    chars.next();
    if (chars.peek() == '+' || chars.peek() == '-') {
      exponent += chars.peek();
      chars.next();
    }
    bool exponent_digits = false;
    while (std::isdigit(static_cast<unsigned char>(chars.peek()))) {
      exponent += chars.peek();
      exponent_digits = true;
      chars.next();
    }
    if (exponent_digits) number += exponent;
  }
  double value = 0;
  auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // Too small is 0; only too large overflows.
    bool tiny = number.find("e-") != std::string::npos;
    if (!tiny) throw failure(ErrorCode::Overflow);
    return 0;
  }
  return value;
}

std::int16_t read_whole16(std::string_view text) { return round_to<std::int16_t>(read_number(text)); }
std::int32_t read_whole32(std::string_view text) { return round_to<std::int32_t>(read_number(text)); }

std::optional<db::Value> convert_field(Conversion conversion, std::string field, const RegionalSettings& regional) {
  switch (conversion) {
    case Conversion::Text: return db::Value(std::move(field));
    case Conversion::Number: return db::Value(read_number(field));
    case Conversion::Amount: return db::Value(parse_currency(field, regional));
    case Conversion::Date: return db::Value(parse_date(field, regional));
    case Conversion::Whole16: return db::Value(read_whole16(field));
    case Conversion::Whole32: return db::Value(read_whole32(field));
    case Conversion::TextIfNotEmpty:
      if (field.empty()) return std::nullopt;
      return db::Value(std::move(field));
  }
  return std::nullopt;
}

}  // namespace kavelo
