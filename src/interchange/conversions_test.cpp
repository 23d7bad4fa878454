#include "interchange/conversions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/failure.h"
#include "platform/regional.h"

namespace kavelo {
namespace {

// Throws the Failure of `code`.
auto fails_with(ErrorCode code) {
  return ::testing::Throws<Failure>(::testing::Property(&Failure::number, static_cast<int>(code)));
}

TEST(ReadNumber, TakesTheLeadingNumberWithAPoint) {
  const std::pair<const char*, double> cases[] = {
      {"12,5", 12},   {"1.234,56", 1.234}, {"1.5E2", 150},   {" 7 ", 7},     {"ABC", 0},
      {"", 0},        {"2.5", 2.5},        {"-3", -3},       {"+4", 4},      {"1 2 3", 123},
      {"\t1\n2", 12}, {".5", 0.5},         {"-.25x", -0.25}, {"1.5D2", 150}, {"2e-1", 0.2},
      {"3E", 3},      {"3E+", 3},          {"&HFF", 255},    {"&h1F", 31},   {"&O17", 15},
      {"&Q1", 0},     {"1.2.3", 1.2},      {"1e-400", 0},    {"--1", 0},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(read_number(text), expected) << text;
  EXPECT_THROW(read_number("1e400"), Failure);
}

TEST(ReadWhole, RoundsHalfToEvenAndChecksTheRange) {
  EXPECT_EQ(read_whole16("12.5"), 12);
  EXPECT_EQ(read_whole16("13.5"), 14);
  EXPECT_EQ(read_whole16("-2.5"), -2);
  EXPECT_EQ(read_whole16("32767"), 32767);
  EXPECT_EQ(read_whole16("-32768"), -32768);
  EXPECT_EQ(read_whole32("2147483647"), 2147483647);
  for (const char* text : {"32768", "-32769", "32767.5"})
    EXPECT_THAT([&] { read_whole16(text); }, fails_with(ErrorCode::Overflow)) << text;
  EXPECT_THROW(read_whole32("2147483648"), Failure);
}

TEST(ConvertField, GivesTheValueOfEachConversion) {
  const RegionalSettings spanish = RegionalSettings::spanish();
  EXPECT_EQ(convert_field(Conversion::Text, "  a", spanish), db::Value("  a"));
  EXPECT_EQ(convert_field(Conversion::Text, "", spanish), db::Value(""));
  EXPECT_EQ(convert_field(Conversion::Number, "12,5", spanish), db::Value(12.0));
  EXPECT_EQ(convert_field(Conversion::Amount, "1.234,56", spanish), db::Value(Currency{12345600}));
  EXPECT_EQ(convert_field(Conversion::Date, "15/03/2011", spanish), db::Value(DateTime{2011, 3, 15}));
  EXPECT_EQ(convert_field(Conversion::Whole32, "13.5", spanish), db::Value(std::int32_t{14}));
  EXPECT_EQ(convert_field(Conversion::TextIfNotEmpty, "", spanish), std::nullopt);
  EXPECT_EQ(convert_field(Conversion::TextIfNotEmpty, "01/02/2011", spanish), db::Value("01/02/2011"));
  for (const char* bad : {"", "ABC", "1,2,3"})
    EXPECT_THAT([&] { convert_field(Conversion::Amount, bad, spanish); }, fails_with(ErrorCode::TypeMismatch)) << bad;
  EXPECT_THROW(convert_field(Conversion::Date, "", spanish), Failure);
}

}  // namespace
}  // namespace kavelo
