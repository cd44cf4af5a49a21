#pragma once

#include <string>

#include "foundation/img/Ellipse.h"
#include "foundation/img/UniImage.h"

namespace tarvelin {

// Simple drawing over an RGB image for diagnostic pictures; coordinates in
// pixels (pixel centres at integers), everything clipped to the image.
namespace overlay {

img::RGBImage FromGrey(const img::GreyImage& grey);
void Line(img::RGBImage& image, const math::Vec2d& a, const math::Vec2d& b,
          const img::RGB8& colour);
void EllipseOutline(img::RGBImage& image, const img::Ellipse& e, const img::RGB8& colour);
void Cross(img::RGBImage& image, const math::Vec2d& p, double size, const img::RGB8& colour);
// Digits, '-', ',' and '.' in a 3 × 5 pixel font scaled by `scale`, the
// top-left corner at (x, y); other characters leave a gap.
void Text(img::RGBImage& image, int x, int y, const std::string& text, int scale,
          const img::RGB8& colour);

}  // namespace overlay
}  // namespace tarvelin
