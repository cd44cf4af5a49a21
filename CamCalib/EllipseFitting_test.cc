#include "CamCalib/EllipseFitting.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "CamCalib/testing/SyntheticTarget.h"

namespace CamCalib {
namespace {

TEST(EllipseFitting, DirectFitOfAnArcIsExact) {
  const img::Ellipse truth{100.3, 50.7, 30.0, 12.0, 0.4};
  std::vector<math::Vec2d> arc;
  for (double t = 0.2; t < 4.6; t += 0.1) arc.push_back(truth.PointAt(t));  // 70 % of the ellipse
  img::Ellipse e;
  ASSERT_TRUE(EllipseFitting::FitDirect(arc, e));
  EXPECT_NEAR(e.cx, truth.cx, 1e-7);
  EXPECT_NEAR(e.cy, truth.cy, 1e-7);
  EXPECT_NEAR(e.MajorAxis(), 30.0, 1e-7);
  EXPECT_NEAR(e.MinorAxis(), 12.0, 1e-7);
  std::vector<math::Vec2d> line{{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}};
  EXPECT_FALSE(EllipseFitting::FitDirect(line, e));
  EXPECT_FALSE(EllipseFitting::FitDirect({{0, 0}, {1, 0}, {0, 1}, {1, 1}}, e));
}

// Runs curves and fit on an image.
struct Found {
  EllipseFitting fitting;
  CurveExtractor curves;
  Messages messages;
  bool ok = false;
};
void Detect(Found& f, const img::GreyImage& image, Parameters p) {
  p.width = int(image.width), p.height = int(image.height);
  f.messages.SetPrint(false);
  f.curves.SetMessages(&f.messages);
  f.fitting.SetMessages(&f.messages);
  ASSERT_TRUE(f.curves.Init(p));
  ASSERT_TRUE(f.curves.Process(image));
  f.fitting.Init(p);
  f.ok = f.fitting.Process(f.curves.GetCurves(), f.curves.GetGradientX(), f.curves.GetGradientY());
}

// Every mark of a noisy tilted plate is found once, with its polarity, and
// its fitted ellipse matches the true image ellipse of its edge circle.
TEST(EllipseFitting, FindsEveryMarkOfATiltedPlateWithSubPixelCentres) {
  const math::Mat33d h =
      testing::PlateHomography(1800.0, {400.0, 300.0}, 0.7, 0.2, 0.1, {54.0, 36.0}, 330.0);
  const auto marks = testing::GridMarks(10, 7, 12.0, 4, 3);
  const img::GreyImage image = testing::RenderMarks(800, 600, h, marks, 190.0, 25.0, 8, 2.0, 11);
  Found f;
  Detect(f, image, {});
  ASSERT_TRUE(f.ok);
  // 67 discs and three rings: each ring's hole is a negative ellipse, its
  // outer edge a normal one.
  ASSERT_EQ(f.fitting.GetNormalCount(), 70);
  ASSERT_EQ(f.fitting.GetNegativeCount(), 3);
  double sum2 = 0.0, worst = 0.0;
  for (const auto& m : marks) {
    for (const bool hole : {false, true}) {
      if (hole && m.inner == 0.0) continue;
      const img::Ellipse truth = testing::ImageEllipse(h, m.centre, hole ? m.inner : m.outer);
      double nearest = 1e9;
      std::size_t k = 0;
      for (std::size_t i = 0; i < f.fitting.GetEllipses().size(); ++i) {
        const double d = (f.fitting.GetEllipses()[i].Centre() - truth.Centre()).Length();
        if (d < nearest) nearest = d, k = i;
      }
      EXPECT_EQ(f.fitting.GetPolarities()[k], !hole);
      EXPECT_NEAR(f.fitting.GetEllipses()[k].MajorAxis(), truth.MajorAxis(), 0.3);
      EXPECT_NEAR(f.fitting.GetEllipses()[k].MinorAxis(), truth.MinorAxis(), 0.3);
      EXPECT_GT(std::abs(f.fitting.GetScores()[k]), 0.9);
      sum2 += nearest * nearest;
      worst = std::max(worst, nearest);
    }
  }
  EXPECT_LT(std::sqrt(sum2 / 73.0), 0.03);
  EXPECT_LT(worst, 0.1);
}

TEST(EllipseFitting, TwoNegativeMarksAreNotEnough) {
  const math::Mat33d h =
      testing::PlateHomography(1800.0, {400.0, 300.0}, 0.0, 0.0, 0.0, {54.0, 36.0}, 330.0);
  auto marks = testing::GridMarks(10, 7, 12.0, 4, 3);
  marks[std::size_t(3 * 10 + 5)].inner = 0.0;  // one ring filled: two negatives left
  Found f;
  Detect(f, testing::RenderMarks(800, 600, h, marks), {});
  EXPECT_FALSE(f.ok);
  EXPECT_EQ(f.fitting.GetNegativeCount(), 2);
  EXPECT_EQ(f.fitting.GetNormalCount(), 70);  // kept all the same
  EXPECT_THAT(f.messages.GetLines(),
              ::testing::ElementsAre("__CamCalib::EllipseFitting::Process__ Not enough ellipses."));
}

TEST(EllipseFitting, OnlyTheTenStrongestNegativesAreKept) {
  // Twelve light holes on a dark ground, hole i missing a wedge of
  // (i + 1)·10° of its rim: the less rim, the weaker the edge support.
  img::GreyImage image(900, 200);
  std::fill(image.data, image.data + image.size, std::uint8_t(20));
  for (int i = 0; i < 12; ++i) {
    const double cx = 40.0 + 70.0 * i, cy = 100.0,
                 wedge = (i + 1) * 10.0 * std::numbers::pi / 180.0;
    for (int y = 70; y < 130; ++y)
      for (int x = int(cx) - 30; x < int(cx) + 30; ++x) {
        int inside = 0;
        for (int s = 0; s < 16; ++s) {
          const double dx = x - cx + (s % 4) / 4.0 - 0.375, dy = y - cy + (s / 4) / 4.0 - 0.375;
          const double angle = std::atan2(dy, dx) + std::numbers::pi;
          inside += std::hypot(dx, dy) < 18.0 && angle > wedge;
        }
        image(std::uint32_t(x), std::uint32_t(y)) = std::uint8_t(20 + 200 * inside / 16);
      }
  }
  Parameters p;
  p.minNormalEllipses = 0;
  Found f;
  Detect(f, image, p);
  EXPECT_TRUE(f.ok);
  ASSERT_EQ(f.fitting.GetNegativeCount(), 10);
  // The two with the largest wedges (the rightmost) are the ones dropped.
  for (const auto& e : f.fitting.GetEllipses()) EXPECT_LT(e.cx, 40.0 + 70.0 * 10 - 35.0);
  const auto& scores = f.fitting.GetScores();
  EXPECT_TRUE(std::is_sorted(scores.begin(), scores.end()));  // most negative first
  EXPECT_LT(scores.back(), -0.6);
}

TEST(EllipseFitting, SizeRatioAndAreaLimitsApply) {
  const math::Mat33d h =
      testing::PlateHomography(1800.0, {400.0, 300.0}, 0.0, 0.0, 0.0, {54.0, 36.0}, 330.0);
  const img::GreyImage image =
      testing::RenderMarks(800, 600, h, testing::GridMarks(10, 7, 12.0, 4, 3));
  // The discs are 16.4 px in radius, the rings' outer edges 26.2.
  Parameters p;
  p.maxSemiAxis = 20.0;
  Found f;
  Detect(f, image, p);
  EXPECT_EQ(f.fitting.GetNormalCount(), 67);
  p = {};
  p.areaMaxX = 400.0;  // the left half
  Found left;
  Detect(left, image, p);
  for (const auto& e : left.fitting.GetEllipses()) EXPECT_LE(e.cx + e.MajorAxis(), 400.0);
  EXPECT_LT(left.fitting.GetNormalCount(), 50);
  p = {};
  p.dropNestedEllipses = true;
  Found nested;
  Detect(nested, image, p);
  EXPECT_EQ(nested.fitting.GetNegativeCount(), 0);  // the holes lie inside their rings
}

}  // namespace
}  // namespace CamCalib
