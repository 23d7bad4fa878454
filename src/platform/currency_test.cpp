#include "platform/currency.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kavelo {
namespace {

// Half to even at the fourth decimal; outside the range or not a number, no amount.
TEST(Currency, FromDouble) {
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
}

// The edges of the range and their rounding are read through parse_currency
// (regional_test.cpp); what no amount text reaches:
TEST(Currency, FromDecimalIsExact) {
  EXPECT_EQ(currency_from_decimal(false, "000000000000000000000000012", -2), Currency{1200});
  EXPECT_EQ(currency_from_decimal(false, "0", 1'000'000), Currency{0});
  EXPECT_EQ(currency_from_decimal(true, "1", -1'000'000), Currency{0});
  EXPECT_EQ(currency_from_decimal(false, "1", 1'000'000), std::nullopt);
}

TEST(Currency, ToDouble) {
  EXPECT_EQ(to_double(Currency{12345}), 1.2345);
  EXPECT_EQ(to_double(Currency{-5}), -0.0005);
  EXPECT_EQ(to_double(Currency{std::numeric_limits<std::int64_t>::max()}), 922337203685477.5807);
}

}  // namespace
}  // namespace kavelo
