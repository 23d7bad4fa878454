#pragma once
// Cutting a record into its fields.
#include <string>
#include <string_view>

namespace kavelo {

// The next field of `registro`: the text before the first `separador`, with its
// trailing blanks removed (leading blanks and tabs stay). `registro` loses the
// field and the separator. Without a separator in it, the field is the whole
// of `registro`, which stays as it is. A separator that is empty or longer than
// one character never matches.
std::string prc_Campo(std::string_view& registro, std::string_view separador);

// True when `separador` is exactly one character (UTF-8).
bool is_one_character(std::string_view separador);

}  // namespace kavelo
