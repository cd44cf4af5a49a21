#include "CamCalib/GridMapPoints.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "CamCalib/testing/SyntheticTarget.h"

namespace CamCalib {
namespace {

using ::testing::ElementsAre;

// Points of a w × h grid seen through a tilted plate's homography; point
// index y·w + x is node (x, y).
std::vector<math::Vec2d> GridPoints(const math::Mat33d& h, int w, int ht) {
  std::vector<math::Vec2d> points;
  for (int y = 0; y < ht; ++y) {
    for (int x = 0; x < w; ++x) {
      math::Vec2d p;
      math::ApplyHomography(h, {x * 10.0, y * 10.0}, p);
      points.push_back(p);
    }
  }
  return points;
}

math::Mat33d Tilted() {
  return testing::PlateHomography(2000.0, {640.0, 480.0}, 0.6, -0.3, 0.2, {40.0, 30.0}, 350.0);
}

TEST(GridMapPoints, StateTableAndItsMessages) {
  Messages messages;
  messages.SetPrint(false);
  GridMapPoints mapper;
  mapper.SetMessages(&messages);
  const std::vector<math::Vec2d> points = GridPoints(Tilted(), 4, 4);
  const int cell[4] = {0, 1, 5, 4};
  EXPECT_FALSE(mapper.SetPoints(points));
  EXPECT_FALSE(mapper.SetGrid(0, 0, 4, 4));
  EXPECT_FALSE(mapper.Process(cell));
  EXPECT_FALSE(mapper.Init(0.6, 10.0));
  ASSERT_TRUE(mapper.Init(0.25, 10.0));
  EXPECT_EQ(mapper.GetState(), GridMapPoints::STATE_INIT);
  EXPECT_FALSE(mapper.SetGrid(0, 0, 4, 4));
  ASSERT_TRUE(mapper.SetPoints(points));
  EXPECT_EQ(mapper.GetState(), GridMapPoints::STATE_PRIMS_SET);
  ASSERT_TRUE(mapper.SetGrid(0, 0, 4, 4));
  EXPECT_EQ(mapper.GetState(), GridMapPoints::STATE_GRID_SET);
  // A second SetGrid without SetPoints or Process: state 2 is below 3.
  EXPECT_FALSE(mapper.SetGrid(0, 0, 4, 4));
  ASSERT_TRUE(mapper.Process(cell));
  EXPECT_EQ(mapper.GetState(), GridMapPoints::STATE_PROCESSED);
  EXPECT_EQ(mapper.GetMappedCount(), 16);
  // After Process another grid may be set on the same points.
  EXPECT_TRUE(mapper.SetGrid(1, 1, 4, 4));
  mapper.Reset();
  EXPECT_EQ(mapper.GetState(), GridMapPoints::STATE_NONE);
  EXPECT_THAT(
      messages.GetLines(),
      ElementsAre("__CamCalib::GridMapPoints::SetPoints__ Minimum required state: STATE_INIT",
                  "__CamCalib::GridMapPoints::SetGrid__ Minimum required state: STATE_PRIMS_SET.",
                  "__CamCalib::GridMapPoints::Process__ Minimum required state: STATE_GRID_SET",
                  "__CamCalib::GridMapPoints::Init__ Invalid corner tolerance or triple ratio.",
                  "__CamCalib::GridMapPoints::SetGrid__ Minimum required state: STATE_PRIMS_SET.",
                  "__CamCalib::GridMapPoints::SetGrid__ Minimum required state: STATE_PRIMS_SET."));
}

TEST(GridMapPoints, GridsOfWidthOneAndOriginsOnTheLastColumnAreRefused) {
  Messages messages;
  messages.SetPrint(false);
  GridMapPoints mapper;
  mapper.SetMessages(&messages);
  ASSERT_TRUE(mapper.Init(0.25, 10.0));
  ASSERT_TRUE(mapper.SetPoints(GridPoints(Tilted(), 3, 3)));
  EXPECT_FALSE(mapper.SetGrid(0, 0, 1, 3));
  EXPECT_FALSE(mapper.SetGrid(2, 0, 3, 3));  // the cell would reach column 3
  EXPECT_FALSE(mapper.SetGrid(0, -1, 3, 3));
  EXPECT_TRUE(mapper.SetGrid(1, 1, 3, 3));
  const int repeated[4] = {0, 1, 1, 3}, outside[4] = {0, 1, 4, 99};
  EXPECT_FALSE(mapper.Process(repeated));
  EXPECT_FALSE(mapper.Process(outside));
  EXPECT_THAT(
      messages.GetLines(),
      ElementsAre(
          "__CamCalib::GridMapPoints::SetGrid__ Minimum required grid width and height is 2.",
          "__CamCalib::GridMapPoints::SetGrid__ Invalid xNodeOrigin or yNodeOrigin coordinate.",
          "__CamCalib::GridMapPoints::SetGrid__ Invalid xNodeOrigin or yNodeOrigin coordinate.",
          "__CamCalib::GridMapPoints::Process__ An input primitive index is invalid.",
          "__CamCalib::GridMapPoints::Process__ An input primitive index is invalid."));
}

TEST(GridMapPoints, CollinearOriginCellHasNoHomography) {
  Messages messages;
  messages.SetPrint(false);
  GridMapPoints mapper;
  mapper.SetMessages(&messages);
  ASSERT_TRUE(mapper.Init(0.25, 10.0));
  ASSERT_TRUE(mapper.SetPoints({{0, 0}, {10, 0}, {20, 0}, {30, 0}}));
  ASSERT_TRUE(mapper.SetGrid(0, 0, 2, 2));
  const int cell[4] = {0, 1, 2, 3};
  EXPECT_FALSE(mapper.Process(cell));
  EXPECT_THAT(
      messages.GetLines(),
      ElementsAre("__CamCalib::GridMapPoints::Process__ Could not initialize first homography."));
}

// The corner tolerance bites: a point 0.3 cells from where its node is
// predicted stays free (tolerance 0.25), one 0.2 cells off is taken.
TEST(GridMapPoints, PointsOutsideTheCornerToleranceStayFree) {
  const math::Mat33d h = Tilted();
  for (const double offset : {0.2, 0.3}) {
    std::vector<math::Vec2d> points = GridPoints(h, 8, 6);
    // Node (4, 3) moved along the grid's x by offset cells.
    math::ApplyHomography(h, {(4 + offset) * 10.0, 30.0}, points[3 * 8 + 4]);
    GridMapPoints mapper;
    ASSERT_TRUE(mapper.Init(0.25, 10.0));
    ASSERT_TRUE(mapper.SetPoints(points));
    ASSERT_TRUE(mapper.SetGrid(1, 1, 8, 6));
    const int cell[4] = {9, 10, 18, 17};
    ASSERT_TRUE(mapper.Process(cell));
    EXPECT_EQ(mapper.GetNode(4, 3), offset < 0.25 ? 3 * 8 + 4 : -1) << offset;
    EXPECT_EQ(mapper.GetMappedCount(), offset < 0.25 ? 48 : 47);
  }
}

TEST(GridMapPoints, GrowsAroundHolesAndBoundsToTheTable) {
  const math::Mat33d h = Tilted();
  // A 9 × 7 grid of points, mapped onto a table of 6 × 5 with a hole.
  std::vector<math::Vec2d> points = GridPoints(h, 9, 7);
  points[2 * 9 + 3] = {-1e6, -1e6};  // node (3, 2) missing
  GridMapPoints mapper;
  ASSERT_TRUE(mapper.Init(0.25, 10.0));
  ASSERT_TRUE(mapper.SetPoints(points));
  ASSERT_TRUE(mapper.SetGrid(0, 0, 6, 5));
  const int cell[4] = {0, 1, 10, 9};
  ASSERT_TRUE(mapper.Process(cell));
  EXPECT_EQ(mapper.GetMappedCount(), 6 * 5 - 1);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 6; ++x)
      EXPECT_EQ(mapper.GetNode(x, y), (x == 3 && y == 2) ? -1 : y * 9 + x);
  }
}

}  // namespace
}  // namespace CamCalib
