#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sstream>

#include "foundation/math/Line.h"
#include "foundation/math/Mat.h"
#include "foundation/math/Plane.h"
#include "foundation/math/Statistics.h"
#include "foundation/math/Vec.h"

namespace math {
namespace {

TEST(Vec, ArithmeticCrossAndNormalisation) {
  const Vec3d a(1, 2, 3), b(4, 5, 6);
  EXPECT_EQ(a + b, Vec3d(5, 7, 9));
  EXPECT_EQ(b - a, Vec3d(3, 3, 3));
  EXPECT_EQ(a * 2.0, Vec3d(2, 4, 6));
  EXPECT_EQ(b / 2, Vec3d(2, 2.5, 3));  // integer divisor
  EXPECT_EQ(a ^ b, Vec3d(-3, 6, -3));
  EXPECT_EQ(Dot(a, a ^ b), 0.0);
  EXPECT_EQ(a.LengthSquared(), 14.0);
  const Vec4d h = Vec4d(1, 0, 0, 7) ^ Vec4d(0, 1, 0, 9);
  EXPECT_EQ(h, Vec4d(0, 0, 1, 0));
  Vec3d n(3, 0, 4);
  n.Normalize();
  EXPECT_EQ(n, Vec3d(0.6, 0, 0.8));
  EXPECT_EQ(Vec3d().GetNormalized(), Vec3d());
  std::ostringstream out;
  out << Vec3d(1, 2.5, -3);
  EXPECT_EQ(out.str(), "(1, 2.5, -3)");
}

TEST(Vec, LexicalLessOrdersGridIndicesByFirstThenSecond) {
  std::map<Vec2i, int, LexicalLess<2, int>> grid;
  grid[{1, 0}] = 3;
  grid[{0, 5}] = 2;
  grid[{0, -1}] = 1;
  grid[{1, 0}] = 4;
  std::vector<int> order;
  for (const auto& [key, value] : grid) order.push_back(value);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 4}));
}

TEST(Plane, IntersectionWithALineAndParallelLines) {
  const Plane<double> p(Vec3d(0, 0, 10), Vec3d(0, 0, 2));
  Vec3d hit;
  ASSERT_TRUE(p.GetIntersectPoint3d({Vec3d(1, 1, 0), Vec3d(1, 0, 2)}, hit));
  EXPECT_NEAR(hit[0], 6, 1e-12);
  EXPECT_NEAR(hit[1], 1, 1e-12);
  EXPECT_NEAR(hit[2], 10, 1e-12);
  hit = Vec3d(7, 7, 7);
  EXPECT_FALSE(p.GetIntersectPoint3d({Vec3d(0, 0, 0), Vec3d(1, 0, 0)}, hit));
  EXPECT_EQ(hit, Vec3d(7, 7, 7));
  EXPECT_FALSE(Plane<double>().GetIntersectPoint3d({Vec3d(), Vec3d(0, 0, 1)}, hit));
  const Plane<float> pf(p);
  EXPECT_EQ(pf.point, Vec4f(0, 0, 10, 1));
  EXPECT_TRUE(Plane<float>().IsEmpty());
  EXPECT_EQ(Plane<float>().point[3], 1.0f);
}

TEST(Line, PointDistance) {
  const Line3d l{Vec3d(1, 1, 1), Vec3d(0, 0, 5)};
  EXPECT_NEAR(Line_Point_Distance(l, Vec3d(4, 5, -7)), 5.0, 1e-12);
  EXPECT_NEAR(Line_Point_Distance(Line3d{Vec3d(), Vec3d()}, Vec3d(3, 4, 0)), 5.0, 1e-12);
}

TEST(Mat, ProjectionMatrixTimesFrameAndPoint) {
  Mat34d k;  // a pinhole with focal length 100 and principal point (50, 40)
  k(0, 0) = 100, k(0, 2) = 50, k(1, 1) = 100, k(1, 2) = 40, k(2, 2) = 1;
  const Mat34d p = k * FTrans(0.0, 0.0, 10.0);
  const Vec3d x = p * Vec4d(1, 2, 0, 1);  // the point (1, 2, 10) in the camera
  EXPECT_NEAR(x[0] / x[2], 60, 1e-12);
  EXPECT_NEAR(x[1] / x[2], 60, 1e-12);
  const Mat34d twice = k + k;
  EXPECT_EQ(twice(0, 0), 200.0);
  EXPECT_EQ((k * 0.5)(1, 2), 20.0);
}

TEST(Statistics, MedianOfOddEvenAndEmpty) {
  EXPECT_EQ(median(std::vector<double>{5, 1, 3}), 3.0);
  EXPECT_EQ(median(std::vector<double>{4, 1, 3, 2}), 2.5);
  EXPECT_EQ(median(std::vector<double>{}), 0.0);
}

TEST(Statistics, GeometricMedianResistsAnOutlier) {
  std::vector<Vec3d> pts = {Vec3d(0, 0, 0), Vec3d(1, 0, 0), Vec3d(0, 1, 0), Vec3d(1, 1, 0), Vec3d(1000, 1000, 0)};
  const Vec3d m = GeometricMedian(pts);
  EXPECT_LT((m - Vec3d(0.5, 0.5, 0)).Length(), 0.7);
  // Symmetric configuration: the centre.
  std::vector<Vec3d> square = {Vec3d(-1, 0, 2), Vec3d(1, 0, 2), Vec3d(0, -1, 2), Vec3d(0, 1, 2)};
  const Vec3d c = GeometricMedian(square);
  EXPECT_NEAR((c - Vec3d(0, 0, 2)).Length(), 0, 1e-9);
}

TEST(Statistics, RoundToSignificantFigures) {
  EXPECT_FLOAT_EQ(roundToSignificantFigures(123.456f, 2), 120.0f);
  EXPECT_FLOAT_EQ(roundToSignificantFigures(0.0012345f, 3), 0.00123f);
  EXPECT_FLOAT_EQ(roundToSignificantFigures(-9.87f, 1), -10.0f);
  EXPECT_EQ(roundToSignificantFigures(0.0f, 3), 0.0f);
}

TEST(Statistics, CollectsMomentsAgainstAHandComputation) {
  Statistics<float> s;
  for (float v : {2.f, 4.f, 4.f, 4.f, 5.f, 5.f, 7.f, 9.f}) s.AddValue(v);
  EXPECT_EQ(s.GetCount(), 8u);
  EXPECT_FLOAT_EQ(s.GetMean(), 5.0f);
  EXPECT_FLOAT_EQ(s.GetStdDev(), 2.0f);
  EXPECT_FLOAT_EQ(s.GetMin(), 2.0f);
  EXPECT_FLOAT_EQ(s.GetMax(), 9.0f);
  EXPECT_FLOAT_EQ(s.GetMedian(), 4.5f);
  EXPECT_FLOAT_EQ(s.GetRms(), std::sqrt(29.0f));
}

}  // namespace
}  // namespace math
