#include "apps/tarvelin/Overlay.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tarvelin::overlay {
namespace {

void Put(img::RGBImage& image, long x, long y, const img::RGB8& colour) {
  if (x < 0 || y < 0 || x >= long(image.width) || y >= long(image.height)) return;
  image(std::uint32_t(x), std::uint32_t(y)) = colour;
}

// Rows of the 3 × 5 glyphs, bit 2 the left column.
struct Glyph {
  char c;
  unsigned char rows[5];
};
constexpr Glyph kGlyphs[] = {
    {'0', {7, 5, 5, 5, 7}}, {'1', {2, 6, 2, 2, 7}}, {'2', {7, 1, 7, 4, 7}}, {'3', {7, 1, 7, 1, 7}},
    {'4', {5, 5, 7, 1, 1}}, {'5', {7, 4, 7, 1, 7}}, {'6', {7, 4, 7, 5, 7}}, {'7', {7, 1, 1, 1, 1}},
    {'8', {7, 5, 7, 5, 7}}, {'9', {7, 5, 7, 1, 7}}, {'-', {0, 0, 7, 0, 0}}, {',', {0, 0, 0, 2, 4}},
    {'.', {0, 0, 0, 0, 2}},
};

}  // namespace

img::RGBImage FromGrey(const img::GreyImage& grey) {
  img::RGBImage rgb(grey.width, grey.height);
  for (std::int32_t i = 0; i < grey.size; ++i)
    rgb.data[i] = {grey.data[i], grey.data[i], grey.data[i]};
  return rgb;
}

void Line(img::RGBImage& image, const math::Vec2d& a, const math::Vec2d& b,
          const img::RGB8& colour) {
  const double length = (b - a).Length();
  if (!std::isfinite(length) || length > 1e5) return;
  const int steps = std::max(1, int(std::ceil(length * 2.0)));
  for (int i = 0; i <= steps; ++i) {
    const math::Vec2d p = a + (b - a) * (double(i) / steps);
    Put(image, std::lround(p[0]), std::lround(p[1]), colour);
  }
}

void EllipseOutline(img::RGBImage& image, const img::Ellipse& e, const img::RGB8& colour) {
  const int steps = std::clamp(int(8.0 * e.MajorAxis()), 16, 2000);
  math::Vec2d last = e.PointAt(0.0);
  for (int i = 1; i <= steps; ++i) {
    const math::Vec2d p = e.PointAt(2.0 * std::numbers::pi * i / steps);
    Line(image, last, p, colour);
    last = p;
  }
}

void Cross(img::RGBImage& image, const math::Vec2d& p, double size, const img::RGB8& colour) {
  Line(image, p - math::Vec2d{size, 0.0}, p + math::Vec2d{size, 0.0}, colour);
  Line(image, p - math::Vec2d{0.0, size}, p + math::Vec2d{0.0, size}, colour);
}

void Text(img::RGBImage& image, int x, int y, const std::string& text, int scale,
          const img::RGB8& colour) {
  for (char c : text) {
    for (const Glyph& g : kGlyphs) {
      if (g.c != c) continue;
      for (int row = 0; row < 5; ++row) {
        for (int col = 0; col < 3; ++col) {
          if (!(g.rows[row] & (4 >> col))) continue;
          for (int dy = 0; dy < scale; ++dy)
            for (int dx = 0; dx < scale; ++dx)
              Put(image, x + col * scale + dx, y + row * scale + dy, colour);
        }
      }
    }
    x += 4 * scale;
  }
}

}  // namespace tarvelin::overlay
