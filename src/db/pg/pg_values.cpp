#include "db/pg/pg_values.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <variant>

#include <fmt/format.h>

#include "platform/text.h"

namespace kavelo::db::pg {
namespace {

std::optional<std::int64_t> whole_of(std::string_view text) {
  std::int64_t n = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return n;
}

std::optional<double> double_of(std::string_view text) {
  if (text == "Infinity") return HUGE_VAL;
  if (text == "-Infinity") return -HUGE_VAL;
  if (text == "NaN") return std::nan("");
  double d = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return d;
}

// "-123.4500" as an exact amount.
std::optional<Currency> amount_of(std::string_view text) {
  bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  std::string digits;
  std::int64_t exponent = 0;
  bool point = false;
  for (char c : text) {
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      digits += c;
      if (point) --exponent;
    } else {
      return std::nullopt;
    }
  }
  if (digits.empty()) return std::nullopt;
  return currency_from_decimal(negative, digits, exponent);
}

void append_double(std::string& out, double d) {
  if (std::isnan(d)) {
    out += "NaN";
  } else if (std::isinf(d)) {
    out += d > 0 ? "Infinity" : "-Infinity";
  } else {
    // The shortest text that reads back as the same double.
    fmt::format_to(std::back_inserter(out), "{}", d);
  }
}

}  // namespace

void append_amount(std::string& out, WideAmount n) {
  char digits[48];
  int count = 0;
  bool negative = n < 0;
  // Digits of the magnitude, taken from the negative side so that the
  // smallest value has one too.
  WideAmount rest = negative ? n : -n;
  do {
    digits[count++] = static_cast<char>('0' - static_cast<int>(rest % 10));
    rest /= 10;
  } while (rest != 0 || count < 5);
  if (negative) out += '-';
  while (count > 4) out += digits[--count];
  out += '.';
  while (count > 0) out += digits[--count];
}

void append_server_text(std::string& out, const Value& value, bool boolean) {
  const auto& v = value.storage();
  if (auto s = std::get_if<std::string>(&v)) {
    out += *s;
  } else if (auto b = std::get_if<bool>(&v)) {
    out += boolean ? (*b ? "true" : "false") : (*b ? "-1" : "0");
  } else if (auto d = std::get_if<double>(&v)) {
    append_double(out, *d);
  } else if (auto c = std::get_if<Currency>(&v)) {
    append_amount(out, c->ten_thousandths);
  } else if (auto t = std::get_if<DateTime>(&v)) {
    append_joined(out, '-', {{t->year, 4}, {t->month, 2}, {t->day, 2}});
    append_time(out, *t);
  } else if (auto n = std::get_if<std::uint8_t>(&v)) {
    append_padded(out, *n, 1);
  } else if (auto n16 = std::get_if<std::int16_t>(&v)) {
    append_padded(out, *n16, 1);
  } else if (auto n32 = std::get_if<std::int32_t>(&v)) {
    append_padded(out, *n32, 1);
  }
}

std::optional<std::string> server_text(const Value& value, bool boolean) {
  if (value.is_null()) return std::nullopt;
  std::string text;
  append_server_text(text, value, boolean);
  return text;
}

void append_copy_field(std::string& out, const Value& value, bool boolean) {
  if (value.is_null()) {
    out += "\\N";
    return;
  }
  auto s = value.get_if<std::string>();
  if (!s) {
    // Numbers and dates hold nothing to escape.
    append_server_text(out, value, boolean);
    return;
  }
  for (char c : *s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
}

Value value_of(std::string_view text, ColumnKind kind, bool boolean) {
  switch (kind) {
    case ColumnKind::Text: return Value(std::string(text));
    case ColumnKind::Byte:
      if (auto n = whole_of(text); n && *n >= 0 && *n <= 255) return Value(static_cast<std::uint8_t>(*n));
      break;
    case ColumnKind::Short:
      if (auto n = whole_of(text); n && *n >= INT16_MIN && *n <= INT16_MAX) return Value(static_cast<std::int16_t>(*n));
      break;
    case ColumnKind::Long:
      if (auto n = whole_of(text); n && *n >= INT32_MIN && *n <= INT32_MAX) return Value(static_cast<std::int32_t>(*n));
      break;
    case ColumnKind::Bit:
      if (boolean && (text == "t" || text == "f")) return Value(text == "t");
      if (auto n = whole_of(text)) return Value(*n != 0);
      break;
    case ColumnKind::Double:
      if (auto d = double_of(text)) return Value(*d);
      break;
    case ColumnKind::Currency:
      if (auto c = amount_of(text)) return Value(*c);
      break;
    case ColumnKind::DateTime:
      if (auto d = from_iso(text)) return Value(*d);
      break;
    case ColumnKind::Untyped:
      if (auto n = whole_of(text)) {
        if (*n >= INT32_MIN && *n <= INT32_MAX) return Value(static_cast<std::int32_t>(*n));
        return Value(static_cast<double>(*n));
      }
      if (auto d = double_of(text)) return Value(*d);
      break;
  }
  return Value(std::string(text));
}

ColumnKind kind_of_server_type(std::string_view type, std::string_view domain) {
  if (domain == "jet_byte") return ColumnKind::Byte;
  if (domain == "jet_bit") return ColumnKind::Bit;
  if (type == "varchar" || type == "text" || type == "bpchar") return ColumnKind::Text;
  if (type == "int2") return ColumnKind::Short;
  if (type == "int4") return ColumnKind::Long;
  if (type == "float8" || type == "float4") return ColumnKind::Double;
  if (type == "numeric") return ColumnKind::Currency;
  if (type == "timestamp" || type == "timestamptz" || type == "date") return ColumnKind::DateTime;
  if (type == "bool") return ColumnKind::Bit;
  return ColumnKind::Untyped;
}

Value default_of(std::string_view expression, ColumnKind kind) {
  std::string text(expression);
  if (text.empty()) return Null{};
  if (text.front() == '\'') {
    // A literal and the cast the server writes after it.
    auto close = text.rfind('\'');
    if (close != std::string::npos && close > 0) text = text.substr(0, close + 1);
  } else {
    if (auto cast = text.find("::"); cast != std::string::npos) text = text.substr(0, cast);
    while (text.size() >= 2 && text.front() == '(' && text.back() == ')') text = text.substr(1, text.size() - 2);
    // A function call, a sequence: the server's to work out.
    if (!whole_of(text) && !double_of(text)) return Null{};
  }
  // A number in quotes ('-1'::integer) is a number to a column of a number kind.
  if (kind != ColumnKind::Text && kind != ColumnKind::DateTime && text.size() >= 2 && text.front() == '\'') {
    std::string inner = text.substr(1, text.size() - 2);
    if (whole_of(inner) || double_of(inner)) text = inner;
  }
  return default_from_sql(text, kind);
}

}  // namespace kavelo::db::pg
