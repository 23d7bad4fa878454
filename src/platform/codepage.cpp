#include "platform/codepage.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace kavelo {
namespace {

// Code points of bytes 80 to 9F; the five bytes Windows leaves undefined keep
// their own value so that every byte survives a round trip.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

struct Utf8Form {
  char bytes[3];
  unsigned char size;
};

// UTF-8 of the bytes 80 to FF (A0 to FF are the Latin-1 code points).
constexpr std::array<Utf8Form, 128> kUtf8Forms = [] {
  std::array<Utf8Form, 128> forms{};
  for (unsigned byte = 0x80; byte <= 0xFF; ++byte) {
    const char32_t cp = byte < 0xA0 ? kHighControls[byte - 0x80] : byte;
    auto& form = forms[byte - 0x80];
    if (cp < 0x800) {
      form = {{static_cast<char>(0xC0 | cp >> 6), static_cast<char>(0x80 | (cp & 0x3F))}, 2};
    } else {
      form = {{static_cast<char>(0xE0 | cp >> 12), static_cast<char>(0x80 | (cp >> 6 & 0x3F)),
               static_cast<char>(0x80 | (cp & 0x3F))},
              3};
    }
  }
  return forms;
}();

// Length of the leading run of ASCII bytes, checked eight at a time: most text
// in the files is ASCII and passes through in bulk.
std::size_t ascii_run(std::string_view text) {
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    if (word & 0x8080808080808080) break;
  }
  while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80) ++i;
  return i;
}

// No character: to_cp1252 turns it into "?" like any other it cannot encode.
constexpr char32_t kMalformed = 0xFFFFFFFF;

struct Decoded {
  char32_t code_point;
  std::size_t length;
};

// One character of `text`, which starts with a non-ASCII byte. A malformed
// sequence is as long as its longest well-formed start (at least one byte), so
// each bad sequence yields one replacement.
Decoded decode_utf8(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = 0;
  char32_t cp = 0;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    cp = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    cp = lead & 0x0Fu;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    cp = lead & 0x07u;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
  } else {
    return {kMalformed, 1};
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (i == text.size()) return {kMalformed, i};
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < low || byte > high) return {kMalformed, i};
    cp = cp << 6 | (byte & 0x3Fu);
    low = 0x80;
    high = 0xBF;
  }
  return {cp, length};
}

char to_cp1252(char32_t cp) {
  if (cp >= 0xA0 && cp <= 0xFF) return static_cast<char>(cp);
  const auto* found = std::find(std::begin(kHighControls), std::end(kHighControls), cp);
  return found != std::end(kHighControls) ? static_cast<char>(0x80 + (found - kHighControls)) : '?';
}

}  // namespace

std::string cp1252_to_utf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size() + bytes.size() / 8);  // mostly ASCII, a few two- or three-byte forms
  while (!bytes.empty()) {
    const auto run = ascii_run(bytes);
    text.append(bytes.substr(0, run));
    bytes.remove_prefix(run);
    for (; !bytes.empty() && static_cast<unsigned char>(bytes.front()) >= 0x80; bytes.remove_prefix(1)) {
      const auto& form = kUtf8Forms[static_cast<unsigned char>(bytes.front()) - 0x80];
      text.append(form.bytes, form.size);
    }
  }
  return text;
}

std::string utf8_to_cp1252(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  while (!text.empty()) {
    const auto run = ascii_run(text);
    bytes.append(text.substr(0, run));
    text.remove_prefix(run);
    if (text.empty()) break;
    const auto [cp, length] = decode_utf8(text);
    bytes += to_cp1252(cp);
    text.remove_prefix(length);
  }
  return bytes;
}

}  // namespace kavelo
