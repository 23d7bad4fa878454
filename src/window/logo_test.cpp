#include "window/logo.h"

#include <gtest/gtest.h>

namespace kavelo {
namespace {

Rgb pixel(const std::vector<std::uint8_t>& image, int width, int x, int y) {
  const auto at = static_cast<std::size_t>((y * width + x) * 3);
  return {image[at], image[at + 1], image[at + 2]};
}

TEST(Logo, IsAWhiteMarkOnABlueTileThatBlendsIntoTheBackground) {
  const Rgb background{240, 240, 240};
  const auto image = draw_logo(109, 111, background);
  ASSERT_EQ(image.size(), 109u * 111u * 3u);
  for (auto [x, y] : {std::pair{0, 0}, {108, 0}, {0, 110}, {108, 110}, {54, 2}, {2, 55}}) {
    EXPECT_EQ(pixel(image, 109, x, y), background) << x << "," << y;
  }
  int white = 0;
  int blue = 0;
  for (int y = 0; y < 111; ++y) {
    for (int x = 0; x < 109; ++x) {
      const Rgb p = pixel(image, 109, x, y);
      white += p == Rgb{255, 255, 255};
      blue += p.red == 0 && p.blue > 180 && p.green > 120;
    }
  }
  EXPECT_GT(white, 500);
  EXPECT_GT(blue, 3000);
  EXPECT_TRUE(draw_logo(0, 10, background).empty());
}

}  // namespace
}  // namespace kavelo
