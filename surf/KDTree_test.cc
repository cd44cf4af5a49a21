#include "surf/KDTree.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>

namespace surf {
namespace {

using math::Vec3f;

std::vector<Vec3f> RandomPoints(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-10.f, 10.f);
  std::vector<Vec3f> points(static_cast<std::size_t>(n));
  for (auto& p : points) p = Vec3f(u(rng), u(rng), u(rng));
  return points;
}

// The nearest point strictly closer than radius, by looking at every point.
std::int32_t BruteNearest(const std::vector<Vec3f>& points, const Vec3f& q, float radius) {
  std::int32_t best = KDTree::kNone;
  float bestDistance = radius;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const float d = (points[i] - q).Length();
    if (d < bestDistance) {
      bestDistance = d;
      best = static_cast<std::int32_t>(i);
    }
  }
  return best;
}

TEST(KDTree, NearestWithinRadiusMatchesExhaustiveSearch) {
  const auto points = RandomPoints(3000, 1);
  KDTree tree;
  tree.Build(points);
  EXPECT_EQ(tree.GetBuildStats().leaves, points.size());
  EXPECT_EQ(tree.GetBuildStats().nodes, 2 * points.size() - 1);
  const auto queries = RandomPoints(2000, 2);
  int found = 0;
  for (const auto& q : queries) {
    for (const float radius : {0.5f, 1.5f, 40.f}) {
      float distance = -1.f;
      const std::int32_t got = tree.FindNearest(q, radius, &distance);
      const std::int32_t want = BruteNearest(points, q, radius);
      ASSERT_EQ(got, want);
      if (got != KDTree::kNone) {
        ++found;
        EXPECT_FLOAT_EQ(distance, (points[got] - q).Length());
      }
    }
  }
  EXPECT_GT(found, 2000);  // the large radius always finds one
}

TEST(KDTree, OnePointAnswersOnlyWhenStrictlyCloser) {
  KDTree tree;
  tree.Build({Vec3f(1.f, 2.f, 3.f)});
  float distance = 0.f;
  EXPECT_EQ(tree.FindNearest(Vec3f(1.f, 2.f, 5.f), 2.5f, &distance), 0);
  EXPECT_FLOAT_EQ(distance, 2.f);
  EXPECT_EQ(tree.FindNearest(Vec3f(1.f, 2.f, 5.f), 2.f), KDTree::kNone);  // equal is not closer
  EXPECT_EQ(tree.FindNearest(Vec3f(1.f, 2.f, 5.f), 1.f), KDTree::kNone);
}

TEST(KDTree, DuplicatePointsAndEmptyTrees) {
  KDTree tree;
  tree.Build(std::vector<Vec3f>(100, Vec3f(1.f, 1.f, 1.f)));
  EXPECT_GE(tree.FindNearest(Vec3f(1.f, 1.f, 1.5f), 1.f), 0);
  EXPECT_LE(tree.GetBuildStats().maxDepth, 9u);  // halved by count, not by value
  KDTree empty;
  empty.Build({});
  EXPECT_EQ(empty.FindNearest(Vec3f(), 100.f), KDTree::kNone);
  EXPECT_EQ(empty.TestInlier(Vec3f(), Vec3f(0.f, 0.f, 1.f), 1.f), KDTree::InlierResult::kOutside);
  EXPECT_THROW(tree.Build({Vec3f()}, {Vec3f(), Vec3f()}), std::invalid_argument);
  // A NaN query finds nothing and does not crash.
  EXPECT_EQ(tree.FindNearest(Vec3f(NAN, 0.f, 0.f), 1.f), KDTree::kNone);
}

TEST(KDTree, InlierTestOnAPlaneGrid) {
  // A 1 mm grid in z = 0 with normals +z.
  std::vector<Vec3f> points, normals;
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 30; ++x) {
      points.emplace_back(float(x), float(y), 0.f);
      normals.emplace_back(0.f, 0.f, 1.f);
    }
  }
  KDTree tree;
  tree.Build(points, normals);
  const Vec3f up(0.f, 0.f, 1.f), down(0.f, 0.f, -1.f);
  // Right above a grid point: inlier with an agreeing normal only.
  EXPECT_EQ(tree.TestInlier(Vec3f(10.f, 10.f, 0.3f), up, 0.5f), KDTree::InlierResult::kInlier);
  EXPECT_EQ(tree.TestInlier(Vec3f(10.f, 10.f, 0.3f), down, 0.5f), KDTree::InlierResult::kOutlier);
  EXPECT_EQ(tree.TestInlier(Vec3f(10.f, 10.f, 0.8f), up, 0.5f), KDTree::InlierResult::kOutlier);
  // Far outside the grid's range along a split axis.
  EXPECT_EQ(tree.TestInlier(Vec3f(100.f, 10.f, 0.f), up, 0.5f), KDTree::InlierResult::kOutside);
  // The approximate test never calls a point an inlier that is not within
  // tolerance of some point with an agreeing normal.
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(-2.f, 31.f), h(-1.f, 1.f);
  for (int k = 0; k < 2000; ++k) {
    const Vec3f q(u(rng), u(rng), h(rng));
    if (tree.TestInlier(q, up, 0.4f) == KDTree::InlierResult::kInlier) {
      EXPECT_NE(tree.FindNearest(q, 0.4001f), KDTree::kNone);
    }
  }
}

}  // namespace
}  // namespace surf
