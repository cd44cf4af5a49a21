#include "surf/mesh/KDTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
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

// A noisy sphere of radius 10 with outward normals, one point per about
// 0.3 mm², and queries about it: near the surface with agreeing or opposed
// normals, in empty space, far outside, and not a number.
struct SphereCase {
  std::vector<Vec3f> points, normals, queries, queryNormals;

  explicit SphereCase(unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> gauss(0.f, 1.f);
    std::uniform_real_distribution<float> unit(0.f, 1.f);
    const auto direction = [&] {
      Vec3f d(gauss(rng), gauss(rng), gauss(rng));
      d.Normalize();
      return d;
    };
    for (int i = 0; i < 4000; ++i) {
      const Vec3f d = direction();
      points.push_back(d * (10.f + 0.05f * gauss(rng)));
      normals.push_back(d);
    }
    for (int i = 0; i < 3000; ++i) {
      const Vec3f d = direction();
      const float u = unit(rng);
      const float radius = u < 0.7f ? 10.f + 0.3f * gauss(rng) : (u < 0.9f ? 4.f * unit(rng) : 20.f + 10.f * unit(rng));
      queries.push_back(d * radius);
      queryNormals.push_back(unit(rng) < 0.8f ? d : -d);
    }
    queries[17] = Vec3f(NAN, 0.f, 0.f);
    queries[100] = Vec3f(0.f, NAN, NAN);
  }
};

TEST(KDTree, BatchedInlierTestAgreesWithSingleTests) {
  const SphereCase c(5);
  const float tolerance = 0.35f;
  for (const bool withNormals : {true, false}) {
    KDTree tree;
    tree.Build(c.points, withNormals ? c.normals : std::vector<Vec3f>());
    std::vector<KDTree::InlierResult> want(c.queries.size());
    int counts[3] = {0, 0, 0};
    for (std::size_t i = 0; i < c.queries.size(); ++i) {
      want[i] = tree.TestInlier(c.queries[i], c.queryNormals[i], tolerance);
      ++counts[static_cast<int>(want[i])];
    }
    // Every outcome occurs, so that the comparison means something.
    EXPECT_GT(counts[0], 100);
    EXPECT_GT(counts[1], 100);
    EXPECT_GT(counts[2], 100);
    // Batches around the 64 descents that run side by side.
    for (const std::size_t batch : {1u, 50u, 64u, 65u, 3000u}) {
      std::vector<KDTree::InlierResult> got(c.queries.size(), KDTree::InlierResult::kInlier);
      for (std::size_t first = 0; first < c.queries.size(); first += batch) {
        const std::size_t count = std::min(batch, c.queries.size() - first);
        tree.TestInliers(&c.queries[first], &c.queryNormals[first], count, tolerance, &got[first]);
      }
      ASSERT_EQ(got, want) << "batch " << batch << (withNormals ? "" : " without normals");
    }
  }
  // A point at exactly the tolerance counts (0.5² is exact in floats).
  KDTree one;
  one.Build({Vec3f(1.f, 2.f, 3.f)}, {Vec3f(0.f, 0.f, 1.f)});
  const Vec3f edge[2] = {Vec3f(1.f, 2.f, 3.5f), Vec3f(1.f, 2.f, 3.5001f)};
  const Vec3f up[2] = {Vec3f(0.f, 0.f, 1.f), Vec3f(0.f, 0.f, 1.f)};
  KDTree::InlierResult edgeResults[2];
  one.TestInliers(edge, up, 2, 0.5f, edgeResults);
  EXPECT_EQ(edgeResults[0], KDTree::InlierResult::kInlier);
  EXPECT_EQ(edgeResults[1], KDTree::InlierResult::kOutlier);
  EXPECT_EQ(one.TestInlier(edge[0], up[0], 0.5f), KDTree::InlierResult::kInlier);

  KDTree empty;
  KDTree::InlierResult result = KDTree::InlierResult::kInlier;
  empty.TestInliers(&c.queries[0], &c.queryNormals[0], 1, tolerance, &result);
  EXPECT_EQ(result, KDTree::InlierResult::kOutside);
  empty.TestInliers(nullptr, nullptr, 0, tolerance, nullptr);
}

TEST(KDTree, LeafOrderIsASpatialPermutation) {
  const SphereCase c(6);
  KDTree tree;
  tree.Build(c.points, c.normals);
  std::vector<std::uint32_t> sorted = tree.GetLeafOrder();
  std::sort(sorted.begin(), sorted.end());
  for (std::size_t i = 0; i < sorted.size(); ++i) ASSERT_EQ(sorted[i], i);
  // Neighbours in leaf order are close: their mean distance is a small
  // part of that of neighbours in input order (random on the sphere,
  // about 13 mm).
  const auto meanStep = [&](const std::vector<std::uint32_t>& order) {
    double sum = 0.0;
    for (std::size_t i = 1; i < order.size(); ++i) sum += (c.points[order[i]] - c.points[order[i - 1]]).Length();
    return sum / double(order.size() - 1);
  };
  std::vector<std::uint32_t> input(c.points.size());
  std::iota(input.begin(), input.end(), 0u);
  EXPECT_GT(meanStep(input), 10.0);
  EXPECT_LT(meanStep(tree.GetLeafOrder()), 1.5);
}

}  // namespace
}  // namespace surf
