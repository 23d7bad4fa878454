#include "interchange/field_cutting.h"

namespace kavelo {

bool is_one_character(std::string_view s) {
  if (s.empty()) return false;
  auto lead = static_cast<unsigned char>(s[0]);
  std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  return s.size() == length;
}

std::string next_field(std::string_view& record, std::string_view separator) {
  std::string_view field = record;
  // UTF-8 is self-synchronising: the bytes of one whole character are only
  // found where that character is.
  if (is_one_character(separator)) {
    // A one-byte separator is looked for as a byte, without comparing strings.
    auto at = separator.size() == 1 ? record.find(separator[0]) : record.find(separator);
    if (at != std::string_view::npos) {
      field = record.substr(0, at);
      record.remove_prefix(at + separator.size());
    }
  }
  auto last = field.find_last_not_of(' ');
  return std::string(field.substr(0, last == std::string_view::npos ? 0 : last + 1));
}

}  // namespace kavelo
