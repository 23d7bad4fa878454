// The conversions at the edges the import scenarios do not reach (those read
// the common numbers, amounts and dates of every kind of field).
#include "interchange/conversions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/failure.h"

namespace kavelo {
namespace {

TEST(ReadNumber, TakesTheLeadingNumberWithAPoint) {
  const std::pair<const char*, double> cases[] = {
      {"+4", 4},      {"1 2 3", 123}, {"\t1\n2", 12}, {".5", 0.5}, {"-.25x", -0.25}, {"2e-1", 0.2},
      {"3E", 3},      {"3E+", 3},     {"&HFF", 255},  {"&h1F", 31}, {"&O17", 15},    {"&Q1", 0},
      {"1.2.3", 1.2}, {"1e-400", 0},  {"--1", 0},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(read_number(text), expected) << text;
  EXPECT_THROW(read_number("1e400"), Failure);
}

TEST(ReadWhole, RoundsHalfToEvenAndChecksTheRange) {
  EXPECT_EQ(read_whole16("-2.5"), -2);
  EXPECT_EQ(read_whole16("32767"), 32767);
  EXPECT_EQ(read_whole16("-32768"), -32768);
  EXPECT_EQ(read_whole32("2147483647"), 2147483647);
  for (const char* text : {"32768", "-32769", "32767.5"})
    EXPECT_THAT([&] { read_whole16(text); },
                testing::Throws<Failure>(testing::Property(&Failure::number, static_cast<int>(ErrorCode::Overflow))))
        << text;
  EXPECT_THROW(read_whole32("2147483648"), Failure);
}

}  // namespace
}  // namespace kavelo
