#include "scan/HardwareSetup.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace scan {
namespace {

math::Vec3d Node(const CamCalib::CalibGrid& g, int x, int y) {
  return g.world_T_plate.MultP(math::Vec3d{x * g.spacingX, y * g.spacingY, 0.0});
}
math::Vec3d Front(const CamCalib::CalibGrid& g) {
  const math::Vec4d a = g.world_T_plate.a();
  return {-a[0], -a[1], -a[2]};
}

TEST(HardwareSetup, DefaultPanelsFormTheCorner) {
  HardwareSetup setup;
  setup.SetDefaultZentoCalibGrids(40.0);
  ASSERT_EQ(setup.GetCalibGrids().size(), 2u);
  const auto& left = setup.GetCalibGrids()[0];
  const auto& right = setup.GetCalibGrids()[1];
  for (const auto& g : {left, right}) {
    EXPECT_EQ(g.spacingX, 10.0);  // scale · 0.25 mm
    EXPECT_EQ(g.spacingY, 10.0);
    EXPECT_EQ(g.countX, 11);
    EXPECT_EQ(g.countY, 15);
    EXPECT_EQ(g.markerY, 0.5);
    EXPECT_TRUE(g.world_T_plate.IsOrthoNorm(1e-12));
    // Upright, node y pointing down, the printed side towards the scanner (−y).
    EXPECT_NEAR(Node(g, 0, 1)[2] - Node(g, 0, 0)[2], -10.0, 1e-12);
    EXPECT_LT(Front(g)[1], 0.0);
  }
  EXPECT_EQ(left.markerX, 0.0);
  EXPECT_EQ(right.markerX, 1.0);
  EXPECT_EQ(left.originX, 0);
  EXPECT_EQ(right.originX, 9);
  EXPECT_EQ(left.originY, 6);
  // The nearest columns lie one spacing either side of the corner line
  // x = 0, y = 40, the middle row at height −20.
  for (int y = 0; y < 15; ++y) {
    const math::Vec3d l = Node(left, 10, y), r = Node(right, 0, y);
    EXPECT_NEAR(std::hypot(l[0], l[1] - 40.0), 10.0, 1e-9);
    EXPECT_NEAR(std::hypot(r[0], r[1] - 40.0), 10.0, 1e-9);
    EXPECT_LT(l[0], 0.0);
    EXPECT_GT(r[0], 0.0);
  }
  EXPECT_NEAR(Node(left, 0, 7)[2], -20.0, 1e-9);
  // 120° between the faces: the front normals 60° apart, an outer corner
  // (each panel runs away from the scanner from the corner line).
  EXPECT_NEAR(std::acos(math::Dot(Front(left), Front(right))), std::numbers::pi / 3.0, 1e-12);
  EXPECT_GT(Node(left, 0, 0)[1], Node(left, 10, 0)[1]);
  EXPECT_GT(Node(right, 10, 0)[1], Node(right, 0, 0)[1]);
}

TEST(HardwareSetup, ScaleAndOffsetsMoveThePanels) {
  HardwareSetup a, b;
  a.SetDefaultZentoCalibGrids(40.0);
  CalibPanelOffsets shift;
  shift.x = 5.0;
  shift.rotY = 0.1;
  b.SetDefaultZentoCalibGrids(80.0, shift);
  EXPECT_EQ(b.GetCalibGrids()[0].spacingX, 20.0);
  // The left panel's node (0, 0) moves 5 mm along its own x axis; the
  // right panel is unchanged but for its scale.
  HardwareSetup c;
  c.SetDefaultZentoCalibGrids(40.0, shift);
  const auto& moved = c.GetCalibGrids()[0];
  const auto& nominal = a.GetCalibGrids()[0];
  const math::Vec4d x = nominal.world_T_plate.n();
  EXPECT_NEAR(
      (Node(moved, 0, 0) - Node(nominal, 0, 0) - math::Vec3d{x[0], x[1], x[2]} * 5.0).Length(), 0.0,
      1e-9);
  EXPECT_NEAR(std::acos(math::Dot(Front(moved), Front(nominal))), 0.1, 1e-9);
  EXPECT_NEAR((Node(c.GetCalibGrids()[1], 3, 3) - Node(a.GetCalibGrids()[1], 3, 3)).Length(), 0.0,
              1e-12);
}

TEST(HardwareSetup, PanelFacesMatchTheShippedTargetFiles) {
  HardwareSetup setup;
  setup.SetDefaultZentoCalibGrids(40.0);
  const char* names[2] = {"corner-left", "corner-right"};
  for (int i = 0; i < 2; ++i) {
    cam::FlatPlateCalibrationTarget made =
        MakePanelTarget(setup.GetCalibGrids()[std::size_t(i)], names[i]);
    const cam::FlatPlateCalibrationTarget shipped(std::filesystem::path(TARVELIN_SHARE_DIR) /
                                                  "targets" / (std::string(names[i]) + ".xml"));
    made.timestamp = shipped.timestamp;
    EXPECT_EQ(made.ToXml(), shipped.ToXml()) << names[i];
    // Marks of 5 mm; the marker cell's three rings of 8 mm with 5 mm holes.
    EXPECT_EQ(shipped.markers.at({3, 3}).outerDiameter, 5.0);
    const auto& ring = shipped.markers.at({setup.GetCalibGrids()[std::size_t(i)].originX, 7});
    EXPECT_EQ(ring.outerDiameter, 8.0);
    EXPECT_EQ(ring.innerDiameter, 5.0);
    img::GridMarkerCell cell;
    ASSERT_TRUE(shipped.GetMarkerCell(cell));
    EXPECT_EQ(cell.corner, (math::Vec2i{setup.GetCalibGrids()[std::size_t(i)].originX, 6}));
  }
}

// The mirror test worked by hand: left points start at (100, 200), right
// ones at (500, 180) and run to the right and slightly up: (r2 − r0) ×
// (r0 − l0) = (40, −4) × (400, −20) = 40·(−20) − (−4)·400 = 800 ≥ 0.
TEST(HardwareSetup, MirrorTestOfTheCornerImage) {
  const std::vector<math::Vec2d> left{{100, 200}, {120, 201}, {140, 202}, {160, 203}};
  const std::vector<math::Vec2d> right{{500, 180}, {520, 178}, {540, 176}, {560, 174}};
  EXPECT_FALSE(IsCornerImageMirrored(left, right));
  // Mirrored about x = 640: (−40, −4) × (−400, −20) = 800 − 1600 < 0.
  auto mirror = [](std::vector<math::Vec2d> p) {
    for (auto& q : p) q[0] = 1280.0 - q[0];
    return p;
  };
  EXPECT_TRUE(IsCornerImageMirrored(mirror(left), mirror(right)));
  // Three points on a panel are too few to judge.
  EXPECT_FALSE(IsCornerImageMirrored(mirror(left),
                                     std::vector<math::Vec2d>(right.begin(), right.begin() + 3)));
}

}  // namespace
}  // namespace scan
