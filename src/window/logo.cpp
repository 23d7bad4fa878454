#include "window/logo.h"

#include <algorithm>
#include <cmath>

namespace kavelo {
namespace {

struct Point {
  double x;
  double y;
};

// Signed distances, negative inside the shape.
double rounded_square(Point p, Point centre, double half_side, double radius) {
  const double dx = std::abs(p.x - centre.x) - (half_side - radius);
  const double dy = std::abs(p.y - centre.y) - (half_side - radius);
  const double outside = std::hypot(std::max(dx, 0.0), std::max(dy, 0.0));
  return outside + std::min(std::max(dx, dy), 0.0) - radius;
}

double stroke(Point p, Point a, Point b, double half_width) {
  const double abx = b.x - a.x;
  const double aby = b.y - a.y;
  const double t = std::clamp(((p.x - a.x) * abx + (p.y - a.y) * aby) / (abx * abx + aby * aby), 0.0, 1.0);
  return std::hypot(p.x - (a.x + t * abx), p.y - (a.y + t * aby)) - half_width;
}

std::uint8_t mix(std::uint8_t under, std::uint8_t over, double cover) {
  return static_cast<std::uint8_t>(std::lround(under + (over - under) * cover));
}

Rgb mix(Rgb under, Rgb over, double cover) {
  return {mix(under.red, over.red, cover), mix(under.green, over.green, cover), mix(under.blue, over.blue, cover)};
}

}  // namespace

std::vector<std::uint8_t> draw_logo(int width, int height, Rgb background) {
  std::vector<std::uint8_t> pixels;
  if (width <= 0 || height <= 0) return pixels;
  pixels.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);

  const double side = std::min(width, height) * 0.76;
  const Point centre{width / 2.0, height / 2.0};
  const double half = side / 2.0;
  // The K in the tile's own units, 0 to 1 from its top left corner.
  const auto at = [&](double u, double v) { return Point{centre.x - half + u * side, centre.y - half + v * side}; };
  const double pen = side * 0.07;
  const Point stem_top = at(0.33, 0.25), stem_foot = at(0.33, 0.75);
  const Point arm_start = at(0.37, 0.55), arm_end = at(0.69, 0.25);
  const Point leg_start = at(0.47, 0.46), leg_end = at(0.70, 0.75);
  // The tile darkens a little towards its foot.
  const Rgb top{0, 172, 238};
  const Rgb foot{0, 134, 198};
  const Rgb white{255, 255, 255};

  // Each pixel is sampled 4 x 4 times, so the edges blend smoothly.
  constexpr int kSamples = 4;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int in_tile = 0;
      int in_letter = 0;
      for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
          const Point p{x + (sx + 0.5) / kSamples, y + (sy + 0.5) / kSamples};
          if (rounded_square(p, centre, half, side * 0.2) > 0) continue;
          ++in_tile;
          const double letter = std::min({stroke(p, stem_top, stem_foot, pen), stroke(p, arm_start, arm_end, pen),
                                          stroke(p, leg_start, leg_end, pen)});
          if (letter <= 0) ++in_letter;
        }
      }
      const double depth = std::clamp((y + 0.5 - (centre.y - half)) / side, 0.0, 1.0);
      Rgb colour = mix(background, mix(top, foot, depth), in_tile / double(kSamples * kSamples));
      colour = mix(colour, white, in_letter / double(kSamples * kSamples));
      pixels.push_back(colour.red);
      pixels.push_back(colour.green);
      pixels.push_back(colour.blue);
    }
  }
  return pixels;
}

}  // namespace kavelo
