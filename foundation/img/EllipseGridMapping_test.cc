#include "foundation/img/EllipseGridMapping.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numbers>
#include <random>

#include "CamCalib/testing/SyntheticTarget.h"

namespace img {
namespace {

using CamCalib::testing::GridMarks;
using CamCalib::testing::ImageEllipse;
using CamCalib::testing::PlateHomography;

constexpr double kDeg = std::numbers::pi / 180.0;

// The image ellipses of a grid's marks in shuffled order: normal for discs
// and the ring holes as negatives, plus each ring's outer edge as a normal
// ellipse at the same centre (what a detector sees of a ring). truth[i] is
// the node of ellipse i ({-1, -1} for a ring's outer edge).
struct Scene {
  std::vector<Ellipse> ellipses;
  std::vector<bool> normal;
  std::vector<math::Vec2i> truth;
};

Scene MakeScene(const math::Mat33d& h, int countX, int countY, int ox, int oy, unsigned seed,
                const std::vector<math::Vec2i>& hidden = {}) {
  Scene s;
  for (const auto& m : GridMarks(countX, countY, 10.0, ox, oy)) {
    if (std::find(hidden.begin(), hidden.end(), m.node) != hidden.end()) continue;
    if (m.inner > 0.0) {
      s.ellipses.push_back(ImageEllipse(h, m.centre, m.inner));
      s.normal.push_back(false);
      s.truth.push_back(m.node);
      s.ellipses.push_back(ImageEllipse(h, m.centre, m.outer));
      s.normal.push_back(true);
      s.truth.push_back({-1, -1});
    } else {
      s.ellipses.push_back(ImageEllipse(h, m.centre, m.outer));
      s.normal.push_back(true);
      s.truth.push_back(m.node);
    }
  }
  std::vector<std::size_t> order(s.ellipses.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(seed));
  Scene shuffled;
  for (std::size_t i : order) {
    shuffled.ellipses.push_back(s.ellipses[i]);
    shuffled.normal.push_back(s.normal[i]);
    shuffled.truth.push_back(s.truth[i]);
  }
  return shuffled;
}

void ExpectTrueNodes(const EllipseGridMapping& mapping, const Scene& s, int expectedMapped) {
  EXPECT_EQ(mapping.GetMappedCount(), expectedMapped);
  for (int y = 0; y < mapping.GetGridHeight(); ++y) {
    for (int x = 0; x < mapping.GetGridWidth(); ++x) {
      const int i = mapping.GetIndex(x, y);
      if (i >= 0) {
        EXPECT_EQ(s.truth[std::size_t(i)], (math::Vec2i{x, y})) << "node " << x << ", " << y;
      }
    }
  }
}

TEST(EllipseGridMapping, MapsEveryNodeOfATiltedGridToItsEllipse) {
  // 14 × 10 marks, 10 mm apart, 45° tilt and some roll, 330 mm away.
  const math::Mat33d h =
      PlateHomography(2200.0, {640.0, 480.0}, 45 * kDeg, 10 * kDeg, 20 * kDeg, {65.0, 45.0}, 330.0);
  const Scene s = MakeScene(h, 14, 10, 5, 4, 7);
  EllipseGridMapping mapping(14, 10);
  ASSERT_TRUE(mapping.Map(s.ellipses, s.normal, {{5, 4}, {6, 4}, {5, 5}})) << mapping.GetError();
  ExpectTrueNodes(mapping, s, 140);
}

TEST(EllipseGridMapping, ImageTurnedUpsideDownKeepsTheNodes) {
  const math::Mat33d h = PlateHomography(2200.0, {640.0, 480.0}, -25 * kDeg, 30 * kDeg, 180 * kDeg,
                                         {40.0, 55.0}, 400.0);
  const Scene s = MakeScene(h, 9, 12, 0, 10, 3);
  EllipseGridMapping mapping(9, 12);
  ASSERT_TRUE(mapping.Map(s.ellipses, s.normal, {{0, 10}, {1, 10}, {0, 11}}));
  ExpectTrueNodes(mapping, s, 108);
}

TEST(EllipseGridMapping, HiddenMarksStayUnmappedAndStrayEllipsesAreIgnored) {
  const math::Mat33d h =
      PlateHomography(2000.0, {640.0, 480.0}, 20 * kDeg, 0.0, 0.0, {45.0, 35.0}, 300.0);
  // A column hidden across the middle: the grid still grows around it.
  std::vector<math::Vec2i> hidden;
  for (int y = 0; y < 6; ++y) hidden.push_back({6, y});
  Scene s = MakeScene(h, 10, 8, 2, 2, 5, hidden);
  // Stray ellipses half-way between nodes and one 0.4 cells off a hidden node.
  for (const math::Vec2d p :
       {math::Vec2d{35.0, 35.0}, math::Vec2d{75.0, 15.0}, math::Vec2d{64.0, 50.0}}) {
    s.ellipses.push_back(ImageEllipse(h, p, 2.5));
    s.normal.push_back(true);
    s.truth.push_back({-2, -2});
  }
  EllipseGridMapping mapping(10, 8);
  ASSERT_TRUE(mapping.Map(s.ellipses, s.normal, {{2, 2}, {3, 2}, {2, 3}}));
  ExpectTrueNodes(mapping, s, 80 - 6);
  for (int y = 0; y < 6; ++y) EXPECT_EQ(mapping.GetIndex(6, y), -1);
}

TEST(EllipseGridMapping, WithoutMarkerCellNothingIsMapped) {
  const math::Mat33d h =
      PlateHomography(2000.0, {640.0, 480.0}, 0.0, 0.0, 0.0, {45.0, 35.0}, 300.0);
  const Scene plain = MakeScene(h, 10, 8, -1, -1, 1);
  EllipseGridMapping mapping(10, 8);
  EXPECT_FALSE(mapping.Map(plain.ellipses, plain.normal));
  EXPECT_EQ(mapping.GetMappedCount(), 0);
  EXPECT_NE(mapping.GetError().find("negative"), std::string::npos);
}

TEST(EllipseGridMapping, RefusesGridsBelowTwoByTwoAndBadMarkerCells) {
  try {
    EllipseGridMapping(1, 5);
    FAIL() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "EllipseGridMapping - gridWidth and gridHeight must be >= 2");
  }
  EXPECT_THROW(EllipseGridMapping(5, 1), std::invalid_argument);
  EllipseGridMapping mapping(4, 4);
  // The fourth corner would fall outside; a mirrored (anticlockwise) cell.
  EXPECT_THROW(mapping.Map({}, {}, {{3, 0}, {4, 0}, {3, 1}}), std::invalid_argument);
  EXPECT_THROW(mapping.Map({}, {}, {{0, 0}, {0, 1}, {1, 0}}), std::invalid_argument);
  EXPECT_THROW(mapping.Map({Ellipse{}}, {}, {}), std::invalid_argument);
}

}  // namespace
}  // namespace img
