#pragma once
// A currency amount: a signed 64-bit count of ten-thousandths.
#include <compare>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kavelo {

struct Currency {
  std::int64_t ten_thousandths = 0;

  static constexpr std::int64_t kScale = 10000;
  auto operator<=>(const Currency&) const = default;
};

// The amount nearest to `value`, a half going to the even neighbour; nullopt
// outside the range of the type (and for NaN).
std::optional<Currency> currency_from_double(double value);
double to_double(Currency value);

// The amount `digits` (decimal digits) times ten to the `exponent`, rounded
// half to even to four decimals without passing through a double; nullopt
// outside the range of the type.
std::optional<Currency> currency_from_decimal(bool negative, std::string_view digits, std::int64_t exponent);

}  // namespace kavelo
