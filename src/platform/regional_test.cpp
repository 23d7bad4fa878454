// Numbers, amounts and dates: the values themselves (currency.h, date_time.h,
// text.h) and their text in the regional settings (regional.h).
#include "platform/regional.h"

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "platform/currency.h"
#include "platform/date_time.h"
#include "platform/failure.h"
#include "platform/text.h"

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
      {{"C", nullptr, nullptr, "en_US.UTF-8"}, kSpanish},
  };
  for (const Case& c : cases) {
    for (int i = 0; i < 4; ++i) c.values[i] ? setenv(names[i], c.values[i], 1) : unsetenv(names[i]);
    EXPECT_EQ(regional_settings_from_environment(), c.expected) << &c - cases;
  }
  // C locales and locales that are not installed mean Spanish.
  unsetenv("LC_ALL");
  for (const char* lang : {"C", "POSIX", "C.UTF-8", "C.utf8", "xx_XX.UTF-8"}) {
    setenv("LANG", lang, 1);
    EXPECT_EQ(regional_settings_from_environment(), kSpanish) << lang;
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
      {"29/02/2000", kSpanish, at(2000, 2, 29)},      {"31/12/9999 23:59:59", kSpanish, at(9999, 12, 31, 23, 59, 59)},
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
      {"29/02/1900", kSpanish},           {"31/04/2011", kSpanish},         {"00/03/2011", kSpanish},
      {"05/00/2011", kSpanish},
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

TEST(AppendPadded, WritesWhatZeroPaddedFormattingWrites) {
  // Past the width, below zero and at the ends of the range, as fmt writes them.
  for (int width : {2, 4}) {
    for (int value : {0, 7, 42, 999, 2011, 12345, -1, -42, -2011, INT_MAX, INT_MIN}) {
      std::string out = "x";
      append_padded(out, value, width);
      EXPECT_EQ(out, "x" + fmt::format("{:0{}}", value, width)) << value << " in " << width;
    }
  }
}

// Half to even at the fourth decimal; outside the range or not a number, no
// amount. And back.
TEST(Currency, ToAndFromDouble) {
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  const std::pair<double, std::optional<std::int64_t>> cases[] = {
      {1.5, 15000},         {-1.5, -15000},     {1.23456, 12346},     {0.00005, 0},
      {0.00015, 2},         {0.00025, 2},       {-0.00015, -2},       {0.000051, 1},
      {1234.56785, 12345678}, {1e-300, 0},      {0.1 + 0.2, 3000},    {922337203685477.0, 9223372036854770000},
      {-922337203685477.5, -9223372036854775000},
      {1e15, {}},           {-1e15, {}},        {922337203685477.6, {}}, {1e300, {}},
      {std::nan(""), {}},   {kInfinity, {}},    {-kInfinity, {}},
  };
  for (const auto& [value, ten_thousandths] : cases) {
    const auto amount = currency_from_double(value);
    EXPECT_EQ(amount ? std::optional(amount->ten_thousandths) : std::nullopt, ten_thousandths) << value;
  }
  EXPECT_EQ(to_double(Currency{12345}), 1.2345);
  EXPECT_EQ(to_double(Currency{-5}), -0.0005);
  EXPECT_EQ(to_double(Currency{std::numeric_limits<std::int64_t>::max()}), 922337203685477.5807);
}

// The edges of the range and their rounding are read through parse_currency
// above; what no amount text reaches:
TEST(Currency, FromDecimalIsExact) {
  EXPECT_EQ(currency_from_decimal(false, "000000000000000000000000012", -2), Currency{1200});
  EXPECT_EQ(currency_from_decimal(false, "0", 1'000'000), Currency{0});
  EXPECT_EQ(currency_from_decimal(true, "1", -1'000'000), Currency{0});
  EXPECT_EQ(currency_from_decimal(false, "1", 1'000'000), std::nullopt);
}

TEST(DateTime, IsoFormRoundTripsAndNoOtherFormIsRead) {
  EXPECT_EQ(to_iso(at(2011, 3, 5)), "2011-03-05");
  EXPECT_EQ(to_iso(at(987, 11, 20, 7, 8, 9)), "0987-11-20 07:08:09");
  for (const auto& value : {at(2011, 3, 5), at(987, 11, 20, 7, 8, 9), at(9999, 12, 31, 23, 59, 59)})
    EXPECT_EQ(from_iso(to_iso(value)), value);
  EXPECT_EQ(from_iso("2011-03-05 00:00:00"), at(2011, 3, 5));
  for (const char* text : {"", "2011-3-05", "2011-03-5", "05/03/2011", "2011-03-05T10:00:00", "2011-03-05 ",
                           "2011-03-05 10:00", "2023-02-29", "2011-03-05 24:00:00", "-011-03-05", "2011-0a-05",
                           "0099-12-31"})
    EXPECT_EQ(from_iso(text), std::nullopt) << text;
}

TEST(DateTime, SerialDaysCountFromTheEndOf1899) {
  const std::pair<DateTime, double> cases[] = {
      {at(1899, 12, 30), 0},          {at(1899, 12, 31), 1},          {at(1900, 3, 1), 61},
      {at(2011, 3, 5), 40607},        {at(2011, 3, 5, 18), 40607.75}, {at(1899, 12, 30, 6), 0.25},
      {at(1899, 12, 29, 6), -1.25},   {at(100, 1, 1), -657434},       {at(9999, 12, 31), 2958465},
  };
  for (const auto& [value, serial] : cases) {
    EXPECT_DOUBLE_EQ(to_serial(value), serial) << to_iso(value);
    EXPECT_EQ(from_serial(serial), value) << serial;
  }
  // The time rounds to the second.
  EXPECT_EQ(from_serial(0.999999999), at(1899, 12, 31));
  EXPECT_EQ(from_serial(-1.999999999), at(1899, 12, 30));
  EXPECT_EQ(from_serial(-0.5), at(1899, 12, 30, 12));
  EXPECT_EQ(from_serial(1.0 / 86400 * 0.6), at(1899, 12, 30, 0, 0, 1));
  // Outside the years, or not a number: no date.
  for (double serial : {-657435.0, 2958466.0, 2958465.999999999, 1e300, std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()})
    EXPECT_EQ(from_serial(serial), std::nullopt) << serial;
}

TEST(DateTime, SerialRoundTripsEverySecondAndDay) {
  for (int second = 0; second < 86400; ++second) {
    const auto late = at(9999, 12, 31, second / 3600, second / 60 % 60, second % 60);
    ASSERT_EQ(from_serial(to_serial(late)), late);
    const auto early = at(100, 1, 1, second / 3600, second / 60 % 60, second % 60);
    ASSERT_EQ(from_serial(to_serial(early)), early);
  }
  for (double day = -657434; day <= 2958465; day += 97) {
    const auto value = from_serial(day);
    ASSERT_TRUE(value.has_value()) << day;
    ASSERT_EQ(to_serial(*value), day);
  }
}

}  // namespace
}  // namespace kavelo
