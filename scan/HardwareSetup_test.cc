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

TEST(HardwareSetup, BackgroundPlanesFaceTheScanner) {
  HardwareSetup setup;
  EXPECT_TRUE(setup.GetLeftBackgroundPlane().IsEmpty());
  EXPECT_EQ(setup.GetRightBackgroundPlane().point, (math::Vec4d{0, 0, 0, 1}));
  setup.SetDefaultZentoCalibGrids(40.0);
  const auto& grids = setup.GetCalibGrids();
  for (std::size_t i = 0; i < 2; ++i) {
    const math::Plane<double> plane = i == 0 ? setup.GetLeftBackgroundPlane() : setup.GetRightBackgroundPlane();
    EXPECT_NEAR((plane.Point3() - Node(grids[i], 0, 0)).Length(), 0.0, 1e-12);
    EXPECT_NEAR((plane.Normal3() - Front(grids[i])).Length(), 0.0, 1e-12);
    EXPECT_NEAR(plane.SignedDistance(Node(grids[i], 7, 11)), 0.0, 1e-9);
  }
  // The scanner (at −y) lies in front of both.
  EXPECT_GT(setup.GetLeftBackgroundPlane().SignedDistance({0.0, -400.0, 0.0}), 0.0);
  EXPECT_GT(setup.GetRightBackgroundPlane().SignedDistance({0.0, -400.0, 0.0}), 0.0);
}

TEST(HardwareSetup, AngleBetweenPanelsTellsInnerFromOuter) {
  HardwareSetup setup;
  setup.SetDefaultZentoCalibGrids(40.0);
  const auto& g = setup.GetCalibGrids();
  // The default corner: faces 120° apart, the edge towards the scanner.
  EXPECT_NEAR(AngleBetweenPanels(g[0].world_T_plate, g[1].world_T_plate), 4.0 * std::numbers::pi / 3.0, 1e-12);
  // The same panels printed on their backs, seen from behind: an inner corner.
  const math::Frame<double> back = math::FRotY(std::numbers::pi);
  const math::Frame<double> l = g[0].world_T_plate * back, r = g[1].world_T_plate * back;
  EXPECT_NEAR(AngleBetweenPanels(l, r), 2.0 * std::numbers::pi / 3.0, 1e-12);
}

// Worked by hand: a camera at the origin looking along +z (1000 × 800,
// f = 1000), the projector beside it turned by 20° about the y axis (its
// rows stay horizontal), so the camera direction lies in the projector's
// central horizontal plane and makes 20° with its central vertical plane.
TEST(HardwareSetup, TriangulationAnglesOfAProjectorBesideTheCamera) {
  cam::CameraModelTsai camera, projector;
  camera.SetIntrinsics(500.0, 400.0, 1000.0, 1.0, 0.0);
  camera.SetResolution(1000, 800);
  projector.SetIntrinsics(0.5, 0.5, 2.0, 0.5625, 0.0);  // normalised: the unit square
  projector.SetResolution(1, 1);
  const double angle = 20.0 * std::numbers::pi / 180.0;
  projector.SetFrame_wTc(math::FTrans(100.0, 0.0, 0.0) * math::FRotY(-angle));
  double total = 0, horizontal = 0, vertical = 0;
  HardwareSetup::GetTriangulationAngles(camera, projector, total, horizontal, vertical);
  EXPECT_NEAR(total, angle, 1e-12);
  EXPECT_NEAR(horizontal, 0.0, 1e-12);
  EXPECT_NEAR(vertical, angle, 1e-12);
  // Turned about x instead: the roles swap.
  projector.SetFrame_wTc(math::FRotX(angle));
  HardwareSetup::GetTriangulationAngles(camera, projector, total, horizontal, vertical);
  EXPECT_NEAR(total, angle, 1e-12);
  EXPECT_NEAR(horizontal, angle, 1e-12);
  EXPECT_NEAR(vertical, 0.0, 1e-12);
  // A camera without resolution looks along its a axis.
  cam::CameraModelTsai bare;
  bare.SetIntrinsics(0.0, 0.0, 1000.0, 1.0, 0.0);
  HardwareSetup::GetTriangulationAngles(bare, projector, total, horizontal, vertical);
  EXPECT_NEAR(total, angle, 1e-12);
}

}  // namespace
}  // namespace scan
