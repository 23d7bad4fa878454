#include "platform/regional.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <limits>
#include <string>

#include "platform/failure.h"

namespace kavelo {
namespace {

const RegionalSettings kSpanish = RegionalSettings::spanish();
const RegionalSettings kEnglish{DateOrder::MonthDayYear, '/', ".", ","};
const RegionalSettings kYearFirst{DateOrder::YearMonthDay, '-', ",", "."};

DateTime at(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  return {year, month, day, hour, minute, second};
}

// Throws the Failure of `code`.
auto fails_with(ErrorCode code) {
  return ::testing::Throws<Failure>(::testing::Property(&Failure::number, static_cast<int>(code)));
}

TEST(RegionalSettings, ComeFromTheLocaleOfEachCategory) {
  const char* const names[] = {"LC_ALL", "LC_TIME", "LC_NUMERIC", "LANG"};
  struct Case {
    std::array<const char*, 4> values;  // of LC_ALL, LC_TIME, LC_NUMERIC and LANG; null: not set
    RegionalSettings expected;
  };
  const Case cases[] = {
      {{}, kSpanish},
      {{"en_US.UTF-8", nullptr, nullptr, "es_ES.UTF-8"}, kEnglish},
      {{nullptr, nullptr, nullptr, "es_ES.UTF-8"}, kSpanish},
      {{nullptr, nullptr, nullptr, "en_US.utf8"}, kEnglish},
      // Dates and numbers follow their own categories.
      {{nullptr, nullptr, "en_US.UTF-8", "es_ES.UTF-8"}, {DateOrder::DayMonthYear, '/', ".", ","}},
      {{nullptr, "en_US.UTF-8", "es_ES.UTF-8", "es_ES.UTF-8"}, {DateOrder::MonthDayYear, '/', ",", "."}},
      // C locales and locales that are not installed mean Spanish.
      {{nullptr, nullptr, nullptr, "C"}, kSpanish},
      {{nullptr, nullptr, nullptr, "POSIX"}, kSpanish},
      {{nullptr, nullptr, nullptr, "C.UTF-8"}, kSpanish},
      {{nullptr, nullptr, nullptr, "C.utf8"}, kSpanish},
      {{nullptr, nullptr, nullptr, "xx_XX.UTF-8"}, kSpanish},
      {{"C", nullptr, nullptr, "en_US.UTF-8"}, kSpanish},
  };
  for (const Case& c : cases) {
    for (int i = 0; i < 4; ++i) c.values[i] ? setenv(names[i], c.values[i], 1) : unsetenv(names[i]);
    EXPECT_EQ(regional_settings_from_environment(), c.expected) << &c - cases;
  }
}

TEST(ParseDate, ReadsTheRegionalOrder) {
  struct Case {
    const char* text;
    const RegionalSettings& settings;
    DateTime value;
  };
  const Case cases[] = {
      {"05/03/2011", kSpanish, at(2011, 3, 5)},       {"5/3/2011", kSpanish, at(2011, 3, 5)},
      {"5-3-2011", kSpanish, at(2011, 3, 5)},         {"05.03.2011", kSpanish, at(2011, 3, 5)},
      {"  05/03/2011 ", kSpanish, at(2011, 3, 5)},    {"29/02/2024", kSpanish, at(2024, 2, 29)},
      {"05/03/11", kSpanish, at(2011, 3, 5)},         {"05/03/29", kSpanish, at(2029, 3, 5)},
      {"05/03/30", kSpanish, at(1930, 3, 5)},         {"05/03/00", kSpanish, at(2000, 3, 5)},
      {"05/03/2011 14:30", kSpanish, at(2011, 3, 5, 14, 30)},
      {"05/03/2011   9:05:07 ", kSpanish, at(2011, 3, 5, 9, 5, 7)},
      {"05/03/2011 23:59:59", kSpanish, at(2011, 3, 5, 23, 59, 59)},
      {"2011-03-05", kSpanish, at(2011, 3, 5)},       {"2011-03-05 10:00:00", kSpanish, at(2011, 3, 5, 10)},
      {"03/05/2011", kEnglish, at(2011, 3, 5)},       {"3.5.11 0:01", kEnglish, at(2011, 3, 5, 0, 1)},
      {"2011-03-05", kEnglish, at(2011, 3, 5)},       {"2011-3-5", kYearFirst, at(2011, 3, 5)},
      {"11/03/05", kYearFirst, at(2011, 3, 5)},
  };
  for (const auto& [text, settings, value] : cases) EXPECT_EQ(parse_date(text, settings), value) << text;
}

TEST(ParseDate, AnythingElseIsATypeMismatch) {
  const std::pair<const char*, const RegionalSettings&> cases[] = {
      {"", kSpanish},                     {"   ", kSpanish},                 {"hoy", kSpanish},
      {"31/02/2011", kSpanish},           {"29/02/2023", kSpanish},         {"05/13/2011", kSpanish},
      {"13/05/2011", kEnglish},           {"05/03-2011", kSpanish},         {"05/03", kSpanish},
      {"05/03/", kSpanish},               {"05/03/2011x", kSpanish},        {"05/03/211", kSpanish},
      {"05/03/02011", kSpanish},          {"005/03/2011", kSpanish},        {"05/03/0099", kSpanish},
      {"2011/03/05", kSpanish},           {"05 03 2011", kSpanish},         {"+5/03/2011", kSpanish},
      {"05/03/2011 24:00", kSpanish},     {"05/03/2011 10:60", kSpanish},   {"05/03/2011 10:00:60", kSpanish},
      {"05/03/2011 10:5", kSpanish},      {"05/03/2011 10", kSpanish},      {"05/03/2011 10:00 x", kSpanish},
      {"05/03/201110:00", kSpanish},      {"05/03/2011 123:00", kSpanish},  {"05/03/2011 10:00:", kSpanish},
  };
  for (const auto& [text, settings] : cases)
    EXPECT_THAT([&] { parse_date(text, settings); }, fails_with(ErrorCode::TypeMismatch)) << text;
}

TEST(FormatDate, WritesTheShortDateInTheRegionalOrder) {
  EXPECT_EQ(format_date(at(2011, 3, 5), kSpanish), "05/03/2011");
  EXPECT_EQ(format_date(at(2011, 3, 5), kEnglish), "03/05/2011");
  EXPECT_EQ(format_date(at(987, 3, 5), kYearFirst), "0987-03-05");
  EXPECT_EQ(format_date(at(2011, 3, 5, 7, 8, 9), kSpanish), "05/03/2011 07:08:09");
  for (const auto* settings : {&kSpanish, &kEnglish, &kYearFirst}) {
    for (const auto& value : {at(2011, 12, 31), at(1930, 1, 2, 23, 0, 1), at(100, 1, 1)}) {
      EXPECT_EQ(parse_date(format_date(value, *settings), *settings), value);
    }
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
  for (const auto& [text, settings, value] : cases) EXPECT_EQ(parse_number(text, settings), value) << text;
}

TEST(ParseCurrency, RoundsHalfToEvenOnTheDecimalText) {
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  struct Case {
    const char* text;
    const RegionalSettings& settings;
    std::int64_t ten_thousandths;
  };
  const Case cases[] = {
      {"1.234,56", kSpanish, 12345600},  {"-0,5", kSpanish, -5000},      {"0,00005", kSpanish, 0},
      {"0,00015", kSpanish, 2},          {"0,00025", kSpanish, 2},       {"-0,00015", kSpanish, -2},
      {"0,000050001", kSpanish, 1},      {"0,5E-4", kSpanish, 0},        {"1,5E2", kSpanish, 1500000},
      {"922337203685477,5807", kSpanish, kMax},
      {"922.337.203.685.477,58065", kSpanish, kMax - 1},
      {"-922337203685477,5808", kSpanish, std::numeric_limits<std::int64_t>::min()},
      {"922,337,203,685,477.5807", kEnglish, kMax},
      {"0,00000000000000000000000000001", kSpanish, 0},
  };
  for (const auto& [text, settings, ten_thousandths] : cases)
    EXPECT_EQ(parse_currency(text, settings), Currency{ten_thousandths}) << text;
}

TEST(ParseNumbers, OutOfRangeIsAnOverflowAndUnreadableTextATypeMismatch) {
  for (const char* text : {"922337203685477,5808", "922337203685477,58075", "-922337203685477,5809", "1E15",
                           "1E999999999999999999999"})
    EXPECT_THAT([&] { parse_currency(text, kSpanish); }, fails_with(ErrorCode::Overflow)) << text;
  for (const char* text : {"1E309", "-1E400", "1E999999999999999999999"})
    EXPECT_THAT([&] { parse_number(text, kSpanish); }, fails_with(ErrorCode::Overflow)) << text;

  const std::pair<const char*, const RegionalSettings&> unreadable[] = {
      {"", kSpanish},      {"   ", kSpanish},  {"-", kSpanish},    {"+", kSpanish},     {"abc", kSpanish},
      {"12a", kSpanish},   {"1,2,3", kSpanish}, {"1,5E", kSpanish}, {"1,5E+", kSpanish}, {"--1", kSpanish},
      {"1 000", kSpanish}, {".", kSpanish},    {",", kSpanish},    {"1,2.3", kSpanish}, {"1.5.2", kEnglish},
      {"E5", kSpanish},    {"1E2,5", kSpanish}, {"- 1", kSpanish},  {"inf", kSpanish},   {"1\t", kSpanish},
  };
  for (const auto& [text, settings] : unreadable) {
    EXPECT_THAT([&] { parse_currency(text, settings); }, fails_with(ErrorCode::TypeMismatch)) << text;
    EXPECT_THAT([&] { parse_number(text, settings); }, fails_with(ErrorCode::TypeMismatch)) << text;
  }
}

// No grouping, the regional decimal symbol, no trailing zeros.
TEST(FormatNumbers, ShortestDigitsWithTheRegionalDecimalSymbol) {
  const std::pair<double, const char*> numbers[] = {
      {1234.5, "1234,5"},  {-0.25, "-0,25"},       {3, "3"},          {0.1, "0,1"},
      {-0.0, "0"},         {0.0001, "0,0001"},     {1e14, "100000000000000"},
      {123456789012345.6, "123456789012345,6"},    {1e20, "1e+20"},   {1.5e-5, "1,5e-05"},
      {0.1 + 0.2, "0,30000000000000004"},
  };
  for (const auto& [value, spanish] : numbers) {
    EXPECT_EQ(format_number(value, kSpanish), spanish) << value;
    EXPECT_EQ(parse_number(format_number(value, kSpanish), kSpanish), value) << value;
  }
  EXPECT_EQ(format_number(1234.5, kEnglish), "1234.5");

  const std::pair<std::int64_t, const char*> amounts[] = {
      {12345, "1,2345"}, {15000, "1,5"}, {30000, "3"}, {0, "0"}, {-2500, "-0,25"}, {-5, "-0,0005"},
      {std::numeric_limits<std::int64_t>::min(), "-922337203685477,5808"},
  };
  for (const auto& [ten_thousandths, spanish] : amounts)
    EXPECT_EQ(format_currency(Currency{ten_thousandths}, kSpanish), spanish) << spanish;
  EXPECT_EQ(format_currency(Currency{12345678}, kEnglish), "1234.5678");
}

}  // namespace
}  // namespace kavelo
