#pragma once

// Images of flat grid targets with known truth for the detector's tests: a
// plate of marks seen through a homography (plate mm → image pixels), each
// pixel the mean of k × k sub-samples, so that mark edges are integrated
// over the pixel; optional Gaussian noise. The true image of a mark's centre
// is the homography applied to it.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "foundation/img/Ellipse.h"
#include "foundation/img/UniImage.h"
#include "foundation/math/Homography.h"

namespace CamCalib::testing {

struct Mark {
  math::Vec2i node;
  math::Vec2d centre;  // plate, mm
  double outer = 0.0;  // radius, mm
  double inner = 0.0;  // radius of a ring's hole, 0 for a disc
};

// countX × countY marks of radius 0.25·spacing at node × spacing; the marker
// cell's three inverted marks at (ox, oy), (ox+1, oy), (ox, oy+1) as rings of
// outer radius 0.4·spacing around a hole of 0.25·spacing. ox < 0: no cell.
inline std::vector<Mark> GridMarks(int countX, int countY, double spacing, int ox, int oy) {
  std::vector<Mark> marks;
  for (int y = 0; y < countY; ++y) {
    for (int x = 0; x < countX; ++x) {
      const bool ring =
          ox >= 0 && ((x == ox && y == oy) || (x == ox + 1 && y == oy) || (x == ox && y == oy + 1));
      marks.push_back({{x, y},
                       {x * spacing, y * spacing},
                       (ring ? 0.4 : 0.25) * spacing,
                       ring ? 0.25 * spacing : 0.0});
    }
  }
  return marks;
}

// The homography of a pinhole camera (focal length f, principal point c)
// looking at the plate: plate point p = (x, y, 0) → camera R·(p − middle) +
// (0, 0, distance), R = Rx(tiltX)·Ry(tiltY)·Rz(roll): the plate's `middle`
// on the optical axis.
inline math::Mat33d PlateHomography(double f, const math::Vec2d& c, double tiltX, double tiltY,
                                    double roll, const math::Vec2d& middle, double distance) {
  const double cx = std::cos(tiltX), sx = std::sin(tiltX), cy = std::cos(tiltY),
               sy = std::sin(tiltY);
  const double cr = std::cos(roll), sr = std::sin(roll);
  // R = Rx(tiltX)·Ry(tiltY)·Rz(roll): only its first two columns matter.
  const double rz[3][3] = {{cr, -sr, 0}, {sr, cr, 0}, {0, 0, 1}};
  const double ry[3][3] = {{cy, 0, sy}, {0, 1, 0}, {-sy, 0, cy}};
  const double rx[3][3] = {{1, 0, 0}, {0, cx, -sx}, {0, sx, cx}};
  double ryz[3][3]{}, r[3][3]{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) ryz[i][j] += ry[i][k] * rz[k][j];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) r[i][j] += rx[i][k] * ryz[k][j];
  math::Mat33d h;
  for (int i = 0; i < 3; ++i) {
    const double t = (i == 2 ? distance : 0.0) - r[i][0] * middle[0] - r[i][1] * middle[1];
    const double row[3] = {r[i][0], r[i][1], t};
    for (int j = 0; j < 3; ++j) h(i, j) = row[j];
  }
  math::Mat33d k;
  k(0, 0) = k(1, 1) = f;
  k(0, 2) = c[0];
  k(1, 2) = c[1];
  k(2, 2) = 1.0;
  return k * h;
}

// The image of a mark's edge circle of radius r as an ellipse.
inline img::Ellipse ImageEllipse(const math::Mat33d& plateToImage, const math::Vec2d& centre,
                                 double r) {
  img::Ellipse circle{centre[0], centre[1], r, r, 0.0};
  math::Mat33d inverse;
  math::Invert(plateToImage, inverse);
  img::Ellipse e;
  img::FromConic(img::PullBackConic(img::ToConic(circle), inverse), e);
  return e;
}

inline img::GreyImage RenderMarks(int width, int height, const math::Mat33d& plateToImage,
                                  const std::vector<Mark>& marks, double paper = 200.0,
                                  double ink = 30.0, int samples = 8, double noise = 0.0,
                                  unsigned seed = 1) {
  std::vector<float> level(std::size_t(width) * height, float(paper));
  math::Mat33d imageToPlate;
  math::Invert(plateToImage, imageToPlate);
  for (const Mark& m : marks) {
    const img::Ellipse e = ImageEllipse(plateToImage, m.centre, m.outer);
    const double reach = e.MajorAxis() + 2.0;
    const int x0 = std::max(0, int(e.cx - reach)), x1 = std::min(width - 1, int(e.cx + reach));
    const int y0 = std::max(0, int(e.cy - reach)), y1 = std::min(height - 1, int(e.cy + reach));
    for (int y = y0; y <= y1; ++y) {
      for (int x = x0; x <= x1; ++x) {
        int inside = 0;
        for (int j = 0; j < samples; ++j) {
          for (int i = 0; i < samples; ++i) {
            math::Vec2d q;
            const math::Vec2d p{x - 0.5 + (i + 0.5) / samples, y - 0.5 + (j + 0.5) / samples};
            if (!math::ApplyHomography(imageToPlate, p, q)) continue;
            const double d = (q - m.centre).Length();
            inside += d <= m.outer && d >= m.inner;
          }
        }
        float& v = level[std::size_t(y) * width + x];
        v += float((ink - paper) * inside / double(samples * samples));
      }
    }
  }
  std::mt19937 random(seed);
  std::normal_distribution<double> gauss(0.0, noise > 0.0 ? noise : 1.0);
  img::GreyImage image{std::uint32_t(width), std::uint32_t(height)};
  for (std::size_t i = 0; i < level.size(); ++i) {
    const double v = level[i] + (noise > 0.0 ? gauss(random) : 0.0);
    image.data[i] = std::uint8_t(std::clamp(std::lround(v), 0l, 255l));
  }
  return image;
}

}  // namespace CamCalib::testing
