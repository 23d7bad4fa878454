#include "platform/currency.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kavelo {
namespace {

constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
constexpr auto kMin = std::numeric_limits<std::int64_t>::min();

TEST(Currency, FromDoubleRoundsHalfToEvenAtTheFourthDecimal) {
  struct Case {
    double value;
    std::int64_t ten_thousandths;
  };
  const Case cases[] = {
      {1.5, 15000},         {-1.5, -15000},     {1.23456, 12346},     {0.00005, 0},
      {0.00015, 2},         {0.00025, 2},       {-0.00015, -2},       {0.000051, 1},
      {1234.56785, 12345678}, {1e-300, 0},      {0.1 + 0.2, 3000},    {922337203685477.0, 9223372036854770000},
      {-922337203685477.5, -9223372036854775000},
  };
  for (const auto& [value, ten_thousandths] : cases) {
    EXPECT_EQ(currency_from_double(value), Currency{ten_thousandths}) << value;
  }
}

TEST(Currency, FromDoubleOutsideTheRangeOrNotANumberHasNoAmount) {
  for (double value : {1e15, -1e15, 922337203685477.6, 1e300, std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
    EXPECT_EQ(currency_from_double(value), std::nullopt) << value;
  }
}

TEST(Currency, FromDecimalIsExactToTheEdgesOfTheRange) {
  EXPECT_EQ(currency_from_decimal(false, "9223372036854775807", -4), Currency{kMax});
  EXPECT_EQ(currency_from_decimal(true, "9223372036854775808", -4), Currency{kMin});
  EXPECT_EQ(currency_from_decimal(false, "9223372036854775808", -4), std::nullopt);
  EXPECT_EQ(currency_from_decimal(true, "9223372036854775809", -4), std::nullopt);
  // A half at the edge rounds away to an odd neighbour, beyond it.
  EXPECT_EQ(currency_from_decimal(false, "92233720368547758065", -5), Currency{kMax - 1});
  EXPECT_EQ(currency_from_decimal(false, "92233720368547758075", -5), std::nullopt);
  EXPECT_EQ(currency_from_decimal(false, "000000000000000000000000012", -2), Currency{1200});
  EXPECT_EQ(currency_from_decimal(false, "1", 1'000'000), std::nullopt);
  EXPECT_EQ(currency_from_decimal(false, "0", 1'000'000), Currency{0});
  EXPECT_EQ(currency_from_decimal(true, "1", -1'000'000), Currency{0});
  EXPECT_EQ(currency_from_decimal(false, "50000000001", -15), Currency{1});
}

TEST(Currency, ToDouble) {
  EXPECT_EQ(to_double(Currency{12345}), 1.2345);
  EXPECT_EQ(to_double(Currency{-5}), -0.0005);
  EXPECT_EQ(to_double(Currency{kMax}), 922337203685477.5807);
}

}  // namespace
}  // namespace kavelo
