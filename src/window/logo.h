#pragma once
// The product's mark, drawn in code so that no picture file has to be found at
// run time: a rounded tile in the product's blue carrying a white K.
#include <cstdint>
#include <vector>

namespace kavelo {

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// The colour of the product's name in the window, and of its mark.
inline constexpr Rgb kProductBlue{0, 160, 224};

// `width` x `height` pixels of 3 bytes (red, green, blue), row after row: the
// mark centred on `background`, its edges smoothed into it.
std::vector<std::uint8_t> draw_logo(int width, int height, Rgb background);

}  // namespace kavelo
