#include <gtest/gtest.h>

#include "platform/failure.h"
#include "platform/regional.h"

namespace kavelo {
namespace {

const auto kSpanish = RegionalSettings::spanish();
const RegionalSettings kEnglish{DateOrder::MonthDayYear, '/', ".", ","};
const RegionalSettings kYearFirst{DateOrder::YearMonthDay, '-', ",", "."};

DateTime at(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  return {year, month, day, hour, minute, second};
}

TEST(ParseDate, ReadsTheRegionalOrder) {
  struct Case {
    const char* text;
    const RegionalSettings& settings;
    DateTime value;
  };
  const Case cases[] = {
      {"05/03/2011", kSpanish, at(2011, 3, 5)},
      {"5/3/2011", kSpanish, at(2011, 3, 5)},
      {"5-3-2011", kSpanish, at(2011, 3, 5)},
      {"05.03.2011", kSpanish, at(2011, 3, 5)},
      {"  05/03/2011 ", kSpanish, at(2011, 3, 5)},
      {"29/02/2024", kSpanish, at(2024, 2, 29)},
      {"05/03/11", kSpanish, at(2011, 3, 5)},
      {"05/03/29", kSpanish, at(2029, 3, 5)},
      {"05/03/30", kSpanish, at(1930, 3, 5)},
      {"05/03/00", kSpanish, at(2000, 3, 5)},
      {"05/03/2011 14:30", kSpanish, at(2011, 3, 5, 14, 30)},
      {"05/03/2011   9:05:07 ", kSpanish, at(2011, 3, 5, 9, 5, 7)},
      {"05/03/2011 23:59:59", kSpanish, at(2011, 3, 5, 23, 59, 59)},
      {"2011-03-05", kSpanish, at(2011, 3, 5)},
      {"2011-03-05 10:00:00", kSpanish, at(2011, 3, 5, 10)},
      {"03/05/2011", kEnglish, at(2011, 3, 5)},
      {"3.5.11 0:01", kEnglish, at(2011, 3, 5, 0, 1)},
      {"2011-03-05", kEnglish, at(2011, 3, 5)},
      {"2011-3-5", kYearFirst, at(2011, 3, 5)},
      {"11/03/05", kYearFirst, at(2011, 3, 5)},
  };
  for (const auto& [text, settings, value] : cases) {
    EXPECT_EQ(parse_date(text, settings), value) << text;
  }
}

TEST(ParseDate, AnythingElseIsATypeMismatch) {
  struct Case {
    const char* text;
    const RegionalSettings& settings;
  };
  const Case cases[] = {
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
  for (const auto& [text, settings] : cases) {
    try {
      parse_date(text, settings);
      ADD_FAILURE() << "read \"" << text << "\"";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.number(), static_cast<int>(ErrorCode::TypeMismatch)) << text;
    }
  }
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

}  // namespace
}  // namespace kavelo
