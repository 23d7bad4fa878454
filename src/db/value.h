#pragma once
// A field value of the company database: Null, text, boolean, a whole number of
// one of three widths, a double, a currency amount or a date.
#include <cstdint>
#include <string>
#include <variant>

#include "platform/currency.h"
#include "platform/date_time.h"
#include "platform/regional.h"

namespace kavelo::db {

struct Null {
  bool operator==(const Null&) const = default;
};

class Value {
 public:
  using Storage = std::variant<Null, std::string, bool, std::uint8_t, std::int16_t, std::int32_t, double, Currency,
                               DateTime>;

  Value() = default;
  Value(Null) {}
  Value(std::string text) : v_(std::move(text)) {}
  Value(const char* text) : v_(std::string(text)) {}
  Value(bool b) : v_(b) {}
  Value(std::uint8_t n) : v_(n) {}
  Value(std::int16_t n) : v_(n) {}
  Value(std::int32_t n) : v_(n) {}
  Value(double d) : v_(d) {}
  Value(Currency c) : v_(c) {}
  Value(DateTime d) : v_(d) {}

  bool is_null() const { return std::holds_alternative<Null>(v_); }
  bool is_text() const { return std::holds_alternative<std::string>(v_); }
  bool is_date() const { return std::holds_alternative<DateTime>(v_); }
  // Byte, 16-bit or 32-bit integer.
  bool is_whole() const;
  bool is_boolean() const { return std::holds_alternative<bool>(v_); }

  const Storage& storage() const { return v_; }
  template <class T>
  const T* get_if() const {
    return std::get_if<T>(&v_);
  }
  template <class T>
  T* get_if() {
    return std::get_if<T>(&v_);
  }

  bool operator==(const Value&) const = default;

 private:
  Storage v_;
};

// The value as a 32-bit integer: whole numbers as they are, doubles and
// amounts rounded half to even, booleans as -1 or 0, text by the regional
// reading. Null and text that is no number are a type mismatch; a value out of
// range is an overflow.
std::int32_t to_int32(const Value& value, const RegionalSettings& regional);
std::int16_t to_int16(const Value& value, const RegionalSettings& regional);
// The value as a double (same rules as to_int32).
double to_double(const Value& value, const RegionalSettings& regional);
// The text form of a value as the regional settings write it: whole numbers in
// plain decimal digits, other numbers with the regional decimal symbol, dates
// as short dates, booleans as "Verdadero"/"Falso"; Null gives the empty text.
std::string to_text(const Value& value, const RegionalSettings& regional);

// A running total plus an amount: exact for two currency amounts (an
// overflow fails), a double otherwise. A total or an amount that holds no
// value counts as 0, so that neither swallows the other.
Value add_amount(const Value& total, const Value& amount, const RegionalSettings& regional);

}  // namespace kavelo::db
