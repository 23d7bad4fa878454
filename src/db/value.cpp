#include "db/value.h"

#include <cmath>
#include <fmt/format.h>

#include "platform/failure.h"
#include "platform/regional.h"

namespace kavelo::db {
namespace {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

// Rounds half to even and checks the range of T.
template <class T>
T whole_from_double(double d) {
  double r = std::nearbyint(d);
  if (!(r >= static_cast<double>(std::numeric_limits<T>::min()) &&
        r <= static_cast<double>(std::numeric_limits<T>::max())))
    throw failure(ErrorCode::Overflow);
  return static_cast<T>(r);
}

}  // namespace

bool Value::is_whole() const {
  return std::holds_alternative<std::uint8_t>(v_) || std::holds_alternative<std::int16_t>(v_) ||
         std::holds_alternative<std::int32_t>(v_);
}

double to_double(const Value& value, const RegionalSettings& regional) {
  return std::visit(Overloaded{
                        [](const Null&) -> double { throw failure(ErrorCode::TypeMismatch); },
                        [&](const std::string& s) { return parse_number(s, regional); },
                        [](bool b) { return b ? -1.0 : 0.0; },
                        [](std::uint8_t n) { return static_cast<double>(n); },
                        [](std::int16_t n) { return static_cast<double>(n); },
                        [](std::int32_t n) { return static_cast<double>(n); },
                        [](double d) { return d; },
                        [](Currency c) { return to_double(c); },
                        [](const DateTime& d) { return to_serial(d); },
                    },
                    value.storage());
}

std::int32_t to_int32(const Value& value, const RegionalSettings& regional) {
  if (auto n = value.get_if<std::int32_t>()) return *n;
  if (auto n = value.get_if<std::int16_t>()) return *n;
  if (auto n = value.get_if<std::uint8_t>()) return *n;
  if (auto c = value.get_if<Currency>()) {
    // Exact: half to even on the ten-thousandths.
    std::int64_t q = c->ten_thousandths / Currency::kScale, r = c->ten_thousandths % Currency::kScale;
    if (2 * std::abs(r) > Currency::kScale || (2 * std::abs(r) == Currency::kScale && q % 2 != 0))
      q += r > 0 ? 1 : -1;
    if (q < INT32_MIN || q > INT32_MAX) throw failure(ErrorCode::Overflow);
    return static_cast<std::int32_t>(q);
  }
  return whole_from_double<std::int32_t>(to_double(value, regional));
}

std::int16_t to_int16(const Value& value, const RegionalSettings& regional) {
  std::int32_t n = to_int32(value, regional);
  if (n < INT16_MIN || n > INT16_MAX) throw failure(ErrorCode::Overflow);
  return static_cast<std::int16_t>(n);
}

std::string to_text(const Value& value, const RegionalSettings& regional) {
  return std::visit(Overloaded{
                        [](const Null&) { return std::string(); },
                        [](const std::string& s) { return s; },
                        [](bool b) { return std::string(b ? "Verdadero" : "Falso"); },
                        [](std::uint8_t n) { return fmt::format("{}", n); },
                        [](std::int16_t n) { return fmt::format("{}", n); },
                        [](std::int32_t n) { return fmt::format("{}", n); },
                        [&](double d) { return format_number(d, regional); },
                        [&](Currency c) { return format_currency(c, regional); },
                        [&](const DateTime& d) { return format_date(d, regional); },
                    },
                    value.storage());
}

Value add_amount(const Value& total, const Value& amount, const RegionalSettings& regional) {
  const Value zero{Currency{}};
  const Value& a = total.is_null() ? zero : total;
  const Value& b = amount.is_null() ? zero : amount;
  auto x = a.get_if<Currency>();
  auto y = b.get_if<Currency>();
  if (x && y) {
    Currency sum;
    if (__builtin_add_overflow(x->ten_thousandths, y->ten_thousandths, &sum.ten_thousandths))
      throw failure(ErrorCode::Overflow);
    return sum;
  }
  return Value(to_double(a, regional) + to_double(b, regional));
}

}  // namespace kavelo::db
