#pragma once
// Windows-1252, the code page of the interchange files, the connection file and
// the reports, to and from the UTF-8 used inside the program.
#include <string>
#include <string_view>

namespace kavelo {

// Every byte decodes; the five bytes Windows leaves undefined (81, 8D, 8F, 90,
// 9D) become the C1 code points of the same value.
std::string cp1252_to_utf8(std::string_view bytes);
// A character outside Windows-1252 (or a malformed UTF-8 sequence) becomes "?".
std::string utf8_to_cp1252(std::string_view text);

}  // namespace kavelo
