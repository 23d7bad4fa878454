#include "platform/date_time.h"

#include <gtest/gtest.h>

#include <limits>

namespace kavelo {
namespace {

DateTime at(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  return {year, month, day, hour, minute, second};
}

TEST(DateTime, ValidityFollowsTheCalendar) {
  for (const auto& valid : {at(2024, 2, 29), at(2000, 2, 29), at(100, 1, 1), at(9999, 12, 31, 23, 59, 59)})
    EXPECT_TRUE(is_valid(valid)) << to_iso(valid);
  for (const auto& invalid : {at(2023, 2, 29), at(1900, 2, 29), at(2011, 4, 31), at(2011, 13, 1), at(2011, 0, 1),
                              at(2011, 1, 0), at(99, 12, 31), at(10000, 1, 1), at(2011, 1, 1, 24),
                              at(2011, 1, 1, 0, 60), at(2011, 1, 1, 0, 0, -1)})
    EXPECT_FALSE(is_valid(invalid)) << to_iso(invalid);
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
