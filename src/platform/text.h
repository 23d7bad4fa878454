#pragma once
// Small text helpers shared by every part of the program.
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace kavelo {

// The text with its ASCII letters in upper case; every other byte (those of
// UTF-8 characters included) as it is. Table, column and keyword names are ASCII.
inline std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

// The same in lower case.
inline std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// Appends a whole number with at least `width` digits, zeros in front (after
// the sign), as "{:0<width>}" formats it: dates are written for every row.
inline void append_padded(std::string& out, int value, int width) {
  char digits[12];
  int count = 0;
  unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) out += '-';
  if (int zeros = width - count - (value < 0 ? 1 : 0); zeros > 0) out.append(static_cast<std::size_t>(zeros), '0');
  while (count > 0) out += digits[--count];
}

// Appends whole numbers, each zero-padded to its width, with `separator`
// between them: {{2011, 4}, {3, 2}, {5, 2}} and '-' give "2011-03-05".
struct PaddedNumber {
  int value;
  int width;
};
inline void append_joined(std::string& out, char separator, std::initializer_list<PaddedNumber> numbers) {
  bool first = true;
  for (const PaddedNumber& n : numbers) {
    if (!first) out += separator;
    first = false;
    append_padded(out, n.value, n.width);
  }
}

// The UTF-8 characters of a text, one string each.
inline std::vector<std::string> utf8_characters(std::string_view text) {
  std::vector<std::string> out;
  for (char c : text) {
    if (out.empty() || (static_cast<unsigned char>(c) & 0xC0) != 0x80)
      out.emplace_back(1, c);
    else
      out.back() += c;
  }
  return out;
}

}  // namespace kavelo
