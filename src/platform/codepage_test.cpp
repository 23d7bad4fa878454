#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace kavelo {
namespace {

// Into the Windows characters, and every byte back to itself.
TEST(Codepage, DecodesToTheWindowsCharactersAndEveryByteSurvivesARoundTrip) {
  EXPECT_EQ(cp1252_to_utf8("Espa\xF1" "a \x80 \x93x\x94 \x9F"), "España € “x” Ÿ");
  EXPECT_EQ(cp1252_to_utf8("\x81\x8D\x8F\x90\x9D"), "\u0081\u008D\u008F\u0090\u009D");
  EXPECT_EQ(cp1252_to_utf8(std::string_view("a\0b", 3)), std::string_view("a\0b", 3));
  std::string all;
  for (int byte = 0; byte < 256; ++byte) {
    const std::string one(1, static_cast<char>(byte));
    EXPECT_EQ(utf8_to_cp1252(cp1252_to_utf8(one)), one) << byte;
    all += one;
  }
  EXPECT_EQ(utf8_to_cp1252(cp1252_to_utf8(all)), all);
}

TEST(Codepage, EncodesAcrossTheAsciiRuns) {
  const std::string text = "Cuenta de clientes nacionales: Peñíscola, Ávila y Logroño (1.234,56 €)";
  const auto bytes = utf8_to_cp1252(text);
  EXPECT_EQ(bytes, "Cuenta de clientes nacionales: Pe\xF1\xEDscola, \xC1vila y Logro\xF1o (1.234,56 \x80)");
  EXPECT_EQ(cp1252_to_utf8(bytes), text);
}

TEST(Codepage, WhatWindows1252CannotHoldBecomesOneQuestionMarkEach) {
  struct Case {
    const char* text;
    const char* bytes;
  };
  const Case cases[] = {
      {"中文", "??"},                  // outside the code page
      {"a😀b", "a?b"},                 // four-byte character
      {"\u0080 \u009F", "? ?"},        // C1 controls the code page uses for other characters
      {"\xC3", "?"},                   // sequence cut at the end
      {"\xC3(", "?("},                 // continuation missing
      {"\xE2\x82 ", "? "},             // three-byte sequence cut short
      {"\xFF\xFE", "??"},              // never a lead byte
      {"\x80x", "?x"},                 // lone continuation byte
      {"\xC0\xAF", "??"},              // overlong form
      {"\xED\xA0\x80", "???"},         // surrogate
      {"\xF4\x90\x80\x80", "????"},    // beyond U+10FFFF
      {"\xF0\x9F\x98", "?"},           // four-byte sequence cut short
  };
  for (const auto& [text, bytes] : cases) EXPECT_EQ(utf8_to_cp1252(text), bytes) << text;
}

}  // namespace
}  // namespace kavelo
