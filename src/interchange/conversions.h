#pragma once
// The conversions of an interchange field into a column value.
#include <cstdint>
#include <optional>
#include <string_view>

#include "db/value.h"

namespace kavelo {

enum class Conversion {
  Text,            // the field as cut; the empty field writes the empty text
  Number,          // the leading number, "." as decimal point, 0 when there is none
  Amount,          // a currency amount by the regional settings
  Date,            // a date by the regional settings
  Whole16,         // the number rounded half to even, 16 bits
  Whole32,         // the same, 32 bits
  TextIfNotEmpty,  // the field as text, written only when it is not empty
};

// The leading part of the text that reads as a number: blanks, tabs and line
// feeds are skipped anywhere; an optional sign, digits with "." as decimal
// point and an optional exponent (E or D); &H and &O read hexadecimal and
// octal integers. 0 when there is none; only a number beyond the double range
// fails (overflow).
double read_number(std::string_view text);
std::int16_t read_whole16(std::string_view text);
std::int32_t read_whole32(std::string_view text);

// The value to write for a field, or nullopt when the column is to be left as
// it is (text if not empty, with an empty field).
std::optional<db::Value> convert_field(Conversion conversion, std::string field, const RegionalSettings& regional);

}  // namespace kavelo
