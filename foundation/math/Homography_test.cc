#include "foundation/math/Homography.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace math {
namespace {

Mat33d Example() {
  Mat33d h;
  const double v[3][3] = {{1.2, 0.1, 30.0}, {-0.05, 0.9, 12.0}, {2e-4, -1e-4, 1.0}};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) h(r, c) = v[r][c];
  return h;
}

Vec2d Map(const Mat33d& h, const Vec2d& p) {
  Vec2d q;
  EXPECT_TRUE(ApplyHomography(h, p, q));
  return q;
}

TEST(Homography, FourPointsGiveTheMapExactly) {
  const Mat33d truth = Example();
  const Vec2d from[4] = {{0, 0}, {100, 0}, {100, 80}, {0, 80}};
  Vec2d to[4];
  for (int k = 0; k < 4; ++k) to[k] = Map(truth, from[k]);
  Mat33d h;
  ASSERT_TRUE(HomographyFromFourPoints(from, to, h));
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      EXPECT_NEAR(h(r, c), truth(r, c), 1e-9 * (1.0 + std::abs(truth(r, c))));
  // A point away from the four maps like the truth.
  const Vec2d p = Map(h, {250, -40}), q = Map(truth, {250, -40});
  EXPECT_NEAR(p[0], q[0], 1e-8);
  EXPECT_NEAR(p[1], q[1], 1e-8);
}

TEST(Homography, CollinearPointsAreRefused) {
  Mat33d h = Identity33();
  const Vec2d from[4] = {{0, 0}, {1, 0}, {2, 0}, {0, 1}};
  const Vec2d to[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  EXPECT_FALSE(HomographyFromFourPoints(from, to, h));
  EXPECT_FALSE(HomographyFromFourPoints(to, from, h));
  const std::vector<Vec2d> line{{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}};
  EXPECT_FALSE(FitHomography(line, line, h));
  EXPECT_FALSE(FitHomography(std::vector<Vec2d>(line.begin(), line.begin() + 3), line, h));
}

TEST(Homography, LeastSquaresOfNoisyGridStaysNearTheTruth) {
  const Mat33d truth = Example();
  std::mt19937 random(3);
  std::normal_distribution<double> noise(0.0, 0.05);
  std::vector<Vec2d> from, to;
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 10; ++x) {
      from.push_back({x * 20.0, y * 20.0});
      to.push_back(Map(truth, from.back()) + Vec2d{noise(random), noise(random)});
    }
  }
  Mat33d h;
  ASSERT_TRUE(FitHomography(from, to, h));
  double worst = 0.0;
  for (const Vec2d& p : from) worst = std::max(worst, (Map(h, p) - Map(truth, p)).Length());
  // 80 points with 0.05 px noise: the fitted map is off by far less than the noise.
  EXPECT_LT(worst, 0.05);
}

TEST(Homography, InverseAndDeterminant) {
  const Mat33d h = Example();
  Mat33d inverse;
  ASSERT_TRUE(Invert(h, inverse));
  const Mat33d product = h * inverse;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(product(r, c), r == c ? 1.0 : 0.0, 1e-12);
  EXPECT_NEAR(Determinant(h) * Determinant(inverse), 1.0, 1e-12);
  Mat33d singular;
  singular(0, 0) = 1.0;
  EXPECT_FALSE(Invert(singular, inverse));
  Vec2d q;
  Mat33d toInfinity = Identity33();
  toInfinity(2, 0) = 1.0;
  toInfinity(2, 2) = 0.0;
  EXPECT_FALSE(ApplyHomography(toInfinity, {0.0, 5.0}, q));
}

}  // namespace
}  // namespace math
