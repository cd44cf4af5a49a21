#include "foundation/img/Ellipse.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace img {
namespace {

double Value(const math::Mat33d& c, const math::Vec2d& p) {
  const math::Vec<3, double> x{p[0], p[1], 1.0};
  return math::Dot(x, c * x);
}

TEST(Ellipse, ConicRoundTripAndNormalisation) {
  const Ellipse e{312.5, 201.25, 40.0, 15.0, 0.6};
  const math::Mat33d c = ToConic(e);
  EXPECT_NEAR(Value(c, e.Centre()), -1.0, 1e-12);
  for (double t = 0.0; t < 6.3; t += 0.7) {
    EXPECT_NEAR(Value(c, e.PointAt(t)), 0.0, 1e-9);
    // The normal points out: a step along it leaves the ellipse.
    EXPECT_GT(Value(c, e.PointAt(t) + e.NormalAt(t) * 0.01), 0.0);
  }
  Ellipse back;
  ASSERT_TRUE(FromConic(c * -3.5, back));  // any scale and sign
  EXPECT_NEAR(back.cx, e.cx, 1e-9);
  EXPECT_NEAR(back.cy, e.cy, 1e-9);
  // The axes may come back swapped with theta turned by a quarter.
  const double major = std::max(back.rx, back.ry), minor = std::min(back.rx, back.ry);
  EXPECT_NEAR(major, 40.0, 1e-9);
  EXPECT_NEAR(minor, 15.0, 1e-9);
  const Ellipse same = back.rx > back.ry ? back
                                         : Ellipse{back.cx, back.cy, back.ry, back.rx,
                                                   back.theta + std::numbers::pi / 2};
  EXPECT_NEAR(std::remainder(same.theta - e.theta, std::numbers::pi), 0.0, 1e-9);
}

TEST(Ellipse, HyperbolasAndEmptyConicsAreNoEllipses) {
  math::Mat33d hyperbola;
  hyperbola(0, 0) = 1.0, hyperbola(1, 1) = -1.0, hyperbola(2, 2) = -1.0;
  Ellipse e;
  EXPECT_FALSE(FromConic(hyperbola, e));
  math::Mat33d empty;
  empty(0, 0) = 1.0, empty(1, 1) = 1.0, empty(2, 2) = 1.0;  // x² + y² + 1 = 0
  EXPECT_FALSE(FromConic(empty, e));
}

// A circle seen through a strong perspective: the centre of its image
// ellipse misses the image of its centre; the pole of the vanishing line
// hits it.
TEST(Ellipse, PoleOfVanishingLineIsTheImageOfTheCircleCentre) {
  math::Mat33d h;  // plate (mm) → image (px): a plate turned 50° about its x axis
  const double f = 2000.0, a = 50.0 * std::numbers::pi / 180.0, z = 400.0;
  const double r[3][3] = {{1, 0, 0}, {0, std::cos(a), -std::sin(a)}, {0, std::sin(a), std::cos(a)}};
  for (int i = 0; i < 3; ++i) {
    h(i, 0) = r[i][0];
    h(i, 1) = r[i][1];
    h(i, 2) = i == 2 ? z : 0.0;
  }
  math::Mat33d k;
  k(0, 0) = k(1, 1) = f, k(0, 2) = 640.0, k(1, 2) = 480.0, k(2, 2) = 1.0;
  h = k * h;
  const math::Vec2d centre{30.0, -60.0};
  const double radius = 5.0;
  math::Mat33d inverse;
  ASSERT_TRUE(math::Invert(h, inverse));
  const math::Mat33d image =
      PullBackConic(ToConic({centre[0], centre[1], radius, radius, 0.0}), inverse);
  Ellipse e;
  ASSERT_TRUE(FromConic(image, e));
  math::Vec2d truth;
  ASSERT_TRUE(math::ApplyHomography(h, centre, truth));
  // The perspective bias of the ellipse centre: about f·r²·sin(a)·… here
  // a few tenths of a pixel.
  EXPECT_GT((e.Centre() - truth).Length(), 0.05);
  math::Vec<3, double> line;
  ASSERT_TRUE(VanishingLine(h, line));
  math::Vec2d corrected;
  ASSERT_TRUE(ProjectedCircleCentre(image, line, corrected));
  EXPECT_NEAR(corrected[0], truth[0], 1e-8);
  EXPECT_NEAR(corrected[1], truth[1], 1e-8);
}

}  // namespace
}  // namespace img
