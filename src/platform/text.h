#pragma once
// Small text helpers shared by every part of the program.
#include <string>
#include <string_view>

namespace kavelo {

// The text with its ASCII letters in upper case; every other byte (those of
// UTF-8 characters included) as it is. Table, column and keyword names are ASCII.
inline std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

}  // namespace kavelo
