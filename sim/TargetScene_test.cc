#include "sim/TargetScene.h"

#include <gtest/gtest.h>

#include <numbers>
#include <random>

#include "cam/CameraModelTsai.h"
#include "scan/HardwareSetup.h"

namespace sim {
namespace {

// The covered fraction of the footprint by brute force: n × n samples.
double CoverageBySampling(const math::Vec2d& c, double r, const math::Vec2d& q,
                          const math::Vec2d& du, const math::Vec2d& dv, int n = 400) {
  int inside = 0;
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      const double s = -1.0 + (2.0 * i + 1.0) / n, t = -1.0 + (2.0 * j + 1.0) / n;
      inside += (q + du * s + dv * t - c).Length() <= r;
    }
  }
  return double(inside) / (double(n) * n);
}

TEST(SurfacePrint, DiscCoverageIsTheFootprintsAreaInside) {
  std::mt19937 random(4);
  std::uniform_real_distribution<double> angle(0.0, 2.0 * std::numbers::pi), unit(-1.0, 1.0);
  const math::Vec2d c{3.0, -2.0};
  // mm; footprints of about 0.05 mm, sheared. The straight-edge model
  // ignores the edge's bend across the footprint, (0.1 mm)² / (8 · 2.5 mm)
  // = 0.5 µm, up to 1 % of the footprint's width.
  const double r = 2.5;
  for (int k = 0; k < 40; ++k) {
    const double a = angle(random);
    const math::Vec2d du{0.03 + 0.02 * unit(random), 0.02 * unit(random)};
    const math::Vec2d dv{0.02 * unit(random), 0.03 + 0.02 * unit(random)};
    const math::Vec2d q = c + math::Vec2d{std::cos(a), std::sin(a)} * (r + 0.05 * unit(random));
    EXPECT_NEAR(DiscCoverage(c, r, q, du, dv), CoverageBySampling(c, r, q, du, dv), 1e-2) << k;
  }
  EXPECT_EQ(DiscCoverage(c, r, c, {0.1, 0}, {0, 0.1}), 1.0);
  EXPECT_EQ(DiscCoverage(c, r, c + math::Vec2d{3.0, 0.0}, {0.1, 0}, {0, 0.1}), 0.0);
  // A point sample (no footprint) is a step at the edge.
  EXPECT_EQ(DiscCoverage(c, r, c + math::Vec2d{2.49, 0.0}, {0, 0}, {0, 0}), 1.0);
  EXPECT_EQ(DiscCoverage(c, r, c + math::Vec2d{2.51, 0.0}, {0, 0}, {0, 0}), 0.0);
  // Half way across a straight edge: one half covered.
  EXPECT_NEAR(DiscCoverage(c, r, c + math::Vec2d{r, 0.0}, {0.02, 0.0}, {0.0, 0.02}), 0.5, 1e-9);
}

TEST(PrintedTarget, RingsAndDiscsInInkOnPaper) {
  CamCalib::CalibGrid grid;
  grid.countX = 4, grid.countY = 3, grid.originX = 1, grid.originY = 0,
  grid.spacingX = grid.spacingY = 10.0;
  const PrintedTarget print(scan::MakePanelTarget(grid, "t"));
  const math::Vec2d none{0.0, 0.0};
  EXPECT_NEAR(print.Reflectance({0.0, 0.0}, none, none)[0], 0.04f, 1e-6);    // a disc's centre
  EXPECT_NEAR(print.Reflectance({5.0, 5.0}, none, none)[0], 0.85f, 1e-6);    // between marks
  EXPECT_NEAR(print.Reflectance({10.0, 0.0}, none, none)[0], 0.85f, 1e-6);   // a ring's hole
  EXPECT_NEAR(print.Reflectance({13.2, 0.0}, none, none)[0], 0.04f, 1e-6);   // on the ring
  EXPECT_NEAR(print.Reflectance({100.0, 0.0}, none, none)[0], 0.85f, 1e-6);  // beyond the marks
  // A footprint of 1 × 1 mm centred on a disc's edge is half ink.
  EXPECT_NEAR(print.Reflectance({2.5, 0.0}, {0.5, 0.0}, {0.0, 0.5})[0], 0.5f * (0.04f + 0.85f),
              0.01f);
  EXPECT_NEAR(print.GetMin()[0], -2.5, 1e-12);
  EXPECT_NEAR(print.GetMax()[0], 32.5, 1e-12);
}

TEST(TargetScene, PlateFacingTheCameraAndItsTruth) {
  auto camera = std::make_shared<cam::CameraModelTsai>();
  camera->SetIntrinsics(640.0, 480.0, 2000.0, 1.0, 0.0);
  camera->SetResolution(1280, 960);
  camera->SetFrame_wTc(math::FTrans(10.0, -300.0, 50.0) * math::FRotX(-1.4));
  CamCalib::CalibGrid grid;
  grid.countX = 9, grid.countY = 5, grid.originX = 3, grid.originY = 2,
  grid.spacingX = grid.spacingY = 20.0;
  const auto target = scan::MakePanelTarget(grid, "plate");
  // Square on at 500 mm: the plate's middle on the principal point, node
  // spacing 2000 · 20 / 500 = 80 px along image x and y.
  std::vector<PlacedTarget> placed{
      {"plate", target, PlateFacingCamera(*camera, target, 500.0, 0.0, 0.0, 0.0)}};
  // A card hiding node (0, 0) from the camera, 100 mm in front of the plate:
  // the camera sits 500 mm in front of the plate's middle, node (4, 2) at
  // plate (80, 40), so the ray to node (0, 0) crosses z = −100 at
  // (80, 40) · 100 / 500 = (16, 8).
  Scene scene = MakeTargetScene(placed);
  scene.AddPanel(
      {10.0, 10.0},
      placed[0].world_T_plate * math::FTrans(16.0, 8.0, -100.0) * math::FRotX(std::numbers::pi),
      {0.5f, 0.5f, 0.5f});
  const RayCaster caster(scene);
  const auto truth = ComputeMarkTruth(placed, *camera, caster);
  ASSERT_EQ(truth.size(), 45u);
  for (const auto& m : truth) {
    EXPECT_NEAR(m.image[0], 640.0 + 80.0 * (m.node[0] - 4), 1e-6);
    EXPECT_NEAR(m.image[1], 480.0 + 80.0 * (m.node[1] - 2), 1e-6);
    EXPECT_EQ(m.visible, (m.node != math::Vec2i{0, 0})) << m.node[0] << "," << m.node[1];
  }
  // Moved 80 mm = 320 px to the right, the right column's centres lie on
  // the border (x = 1280), the next one's marks (radius 20 px) end at 1220.
  placed[0].world_T_plate = placed[0].world_T_plate * math::FTrans(80.0, 0.0, 0.0);
  const RayCaster open(MakeTargetScene(placed));
  for (const auto& m : ComputeMarkTruth(placed, *camera, open))
    EXPECT_EQ(m.visible, m.node[0] < 8) << m.node[0];
}

}  // namespace
}  // namespace sim
