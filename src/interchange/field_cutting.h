#pragma once
// Cutting a record into its fields.
#include <string>
#include <string_view>

namespace kavelo {

// The next field of `record`: the text before the first `separator`, with its
// trailing blanks removed (leading blanks and tabs stay). `record` loses the
// field and the separator. Without a separator in it, the field is the whole
// of `record`, which stays as it is. A separator that is empty or longer than
// one character never matches.
std::string next_field(std::string_view& record, std::string_view separator);

// True when `separator` is exactly one character (UTF-8).
bool is_one_character(std::string_view separator);

}  // namespace kavelo
