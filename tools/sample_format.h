#pragma once
// Numbers, amounts, texts and dates as the sample's files write them, and the
// writer of an interchange file's lines.
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace kavelo::sample {

// Texts are written in the code in UTF-8 and held in Windows-1252, as the
// files carry them.
std::string to1252(std::string_view utf8);

std::string number(std::int64_t n);
// `n` with zeros in front up to `width` digits.
std::string padded(std::int64_t n, int width);

// Cents in the Spanish form: "1.234,56" with the thousands marked, or "1234,56".
std::string amount(std::int64_t cents, bool grouped);

// A share of an amount in basis points (1800 for 18 %), rounded half up.
inline std::int64_t share(std::int64_t cents, std::int64_t basis_points) {
  return (cents * basis_points + 5000) / 10000;
}

// The peseta amount of euro cents, in céntimos, rounded half up.
inline std::int64_t pesetas(std::int64_t euro_cents) { return (euro_cents * 166386 + 500) / 1000; }

// `text` cut to `size` bytes, without the spaces it then ends in.
std::string cut(std::string text, std::size_t size);

// ---------------------------------------------------------------------------
// Dates: whole days counted from 1 January 1970.

struct Date {
  int year;
  int month;
  int day;
};

Date civil_from_days(std::int64_t z);

// The sample's year; records are spread over it in file order.
inline constexpr int kYear = 2011;

// The day of record `index` out of `count`.
std::int64_t day_of(std::int64_t index, std::int64_t count);

// "dd/mm/yyyy".
std::string date_text(std::int64_t days);

// ---------------------------------------------------------------------------
// One line of an interchange file: the record's identifier, each field after
// a "|", then CR LF.
class LineOut {
 public:
  explicit LineOut(std::ostream& out) : out_(out) {}
  void start(std::string_view identifier) {
    line_.clear();
    line_ += identifier;
  }
  void field(std::string_view value) {
    line_ += '|';
    line_ += value;
  }
  void field(std::int64_t value) { field(number(value)); }
  void end() {
    line_ += "\r\n";
    out_.write(line_.data(), static_cast<std::streamsize>(line_.size()));
  }

 private:
  std::ostream& out_;
  std::string line_;
};

}  // namespace kavelo::sample
