#include "interchange/field_cutting.h"

namespace kavelo {

bool is_one_character(std::string_view s) {
  if (s.empty()) return false;
  auto lead = static_cast<unsigned char>(s[0]);
  std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  return s.size() == length;
}

std::string prc_Campo(std::string_view& registro, std::string_view separador) {
  std::string_view field = registro;
  // UTF-8 is self-synchronising: the bytes of one whole character are only
  // found where that character is.
  if (is_one_character(separador)) {
    // A one-byte separator is looked for as a byte, without comparing strings.
    auto at = separador.size() == 1 ? registro.find(separador[0]) : registro.find(separador);
    if (at != std::string_view::npos) {
      field = registro.substr(0, at);
      registro.remove_prefix(at + separador.size());
    }
  }
  auto last = field.find_last_not_of(' ');
  return std::string(field.substr(0, last == std::string_view::npos ? 0 : last + 1));
}

}  // namespace kavelo
