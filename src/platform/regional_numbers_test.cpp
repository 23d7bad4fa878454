#include <gtest/gtest.h>

#include <limits>

#include "platform/failure.h"
#include "platform/regional.h"

namespace kavelo {
namespace {

const auto kSpanish = RegionalSettings::spanish();
const RegionalSettings kEnglish{DateOrder::MonthDayYear, '/', ".", ","};

template <class Read>
void expect_failure(Read read, ErrorCode code, const char* text) {
  try {
    read();
    ADD_FAILURE() << "read \"" << text << "\"";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number(), static_cast<int>(code)) << text;
  }
}

TEST(ParseNumber, ReadsTheRegionalSymbols) {
  struct Case {
    const char* text;
    const RegionalSettings& settings;
    double value;
  };
  const Case cases[] = {
      {"1.234,56", kSpanish, 1234.56}, {"12,5", kSpanish, 12.5},      {"-0,5", kSpanish, -0.5},
      {" 7 ", kSpanish, 7},            {"+3", kSpanish, 3},           {"1,5E2", kSpanish, 150},
      {"1,5e-1", kSpanish, 0.15},      {"2E+3", kSpanish, 2000},      {",5", kSpanish, 0.5},
      {"7,", kSpanish, 7},             {"1.5", kSpanish, 15},         {"1.2.3.4", kSpanish, 1234},
      {"1,234.56", kEnglish, 1234.56}, {"12.5", kEnglish, 12.5},      {"1e-400", kSpanish, 0},
      {"0,1", kSpanish, 0.1},          {"1,7976931348623157E308", kSpanish, std::numeric_limits<double>::max()},
  };
  for (const auto& [text, settings, value] : cases) {
    EXPECT_EQ(parse_number(text, settings), value) << text;
  }
}

TEST(ParseCurrency, RoundsHalfToEvenOnTheDecimalText) {
  struct Case {
    const char* text;
    const RegionalSettings& settings;
    std::int64_t ten_thousandths;
  };
  const Case cases[] = {
      {"1.234,56", kSpanish, 12345600},
      {"-0,5", kSpanish, -5000},
      {"0,00005", kSpanish, 0},
      {"0,00015", kSpanish, 2},
      {"0,00025", kSpanish, 2},
      {"-0,00015", kSpanish, -2},
      {"0,000050001", kSpanish, 1},
      {"0,5E-4", kSpanish, 0},
      {"1,5E2", kSpanish, 1500000},
      {"922337203685477,5807", kSpanish, std::numeric_limits<std::int64_t>::max()},
      {"922.337.203.685.477,58065", kSpanish, std::numeric_limits<std::int64_t>::max() - 1},
      {"-922337203685477,5808", kSpanish, std::numeric_limits<std::int64_t>::min()},
      {"922,337,203,685,477.5807", kEnglish, std::numeric_limits<std::int64_t>::max()},
      {"0,00000000000000000000000000001", kSpanish, 0},
  };
  for (const auto& [text, settings, ten_thousandths] : cases) {
    EXPECT_EQ(parse_currency(text, settings), Currency{ten_thousandths}) << text;
  }
}

TEST(ParseNumbers, OutOfRangeIsAnOverflow) {
  for (const char* text : {"922337203685477,5808", "922337203685477,58075", "-922337203685477,5809", "1E15",
                           "1E999999999999999999999"}) {
    expect_failure([&] { parse_currency(text, kSpanish); }, ErrorCode::Overflow, text);
  }
  for (const char* text : {"1E309", "-1E400", "1E999999999999999999999"}) {
    expect_failure([&] { parse_number(text, kSpanish); }, ErrorCode::Overflow, text);
  }
}

TEST(ParseNumbers, UnreadableTextIsATypeMismatch) {
  struct Case {
    const char* text;
    const RegionalSettings& settings;
  };
  const Case cases[] = {
      {"", kSpanish},      {"   ", kSpanish},  {"-", kSpanish},    {"+", kSpanish},     {"abc", kSpanish},
      {"12a", kSpanish},   {"1,2,3", kSpanish}, {"1,5E", kSpanish}, {"1,5E+", kSpanish}, {"--1", kSpanish},
      {"1 000", kSpanish}, {".", kSpanish},    {",", kSpanish},    {"1,2.3", kSpanish}, {"1.5.2", kEnglish},
      {"E5", kSpanish},    {"1E2,5", kSpanish}, {"- 1", kSpanish},  {"inf", kSpanish},   {"1\t", kSpanish},
  };
  for (const auto& [text, settings] : cases) {
    expect_failure([&] { parse_currency(text, settings); }, ErrorCode::TypeMismatch, text);
    expect_failure([&] { parse_number(text, settings); }, ErrorCode::TypeMismatch, text);
  }
}

TEST(FormatNumber, ShortestDigitsWithTheRegionalDecimalSymbol) {
  struct Case {
    double value;
    const char* spanish;
  };
  const Case cases[] = {
      {1234.5, "1234,5"},  {-0.25, "-0,25"},       {3, "3"},          {0.1, "0,1"},
      {-0.0, "0"},         {0.0001, "0,0001"},     {1e14, "100000000000000"},
      {123456789012345.6, "123456789012345,6"},    {1e20, "1e+20"},   {1.5e-5, "1,5e-05"},
      {0.1 + 0.2, "0,30000000000000004"},
  };
  for (const auto& [value, spanish] : cases) {
    EXPECT_EQ(format_number(value, kSpanish), spanish) << value;
    EXPECT_EQ(parse_number(format_number(value, kSpanish), kSpanish), value) << value;
  }
  EXPECT_EQ(format_number(1234.5, kEnglish), "1234.5");
}

TEST(FormatCurrency, NoGroupingAndNoTrailingZeros) {
  EXPECT_EQ(format_currency(Currency{12345}, kSpanish), "1,2345");
  EXPECT_EQ(format_currency(Currency{15000}, kSpanish), "1,5");
  EXPECT_EQ(format_currency(Currency{30000}, kSpanish), "3");
  EXPECT_EQ(format_currency(Currency{0}, kSpanish), "0");
  EXPECT_EQ(format_currency(Currency{-2500}, kSpanish), "-0,25");
  EXPECT_EQ(format_currency(Currency{-5}, kSpanish), "-0,0005");
  EXPECT_EQ(format_currency(Currency{12345678}, kEnglish), "1234.5678");
  EXPECT_EQ(format_currency(Currency{std::numeric_limits<std::int64_t>::min()}, kSpanish), "-922337203685477,5808");
}

}  // namespace
}  // namespace kavelo
