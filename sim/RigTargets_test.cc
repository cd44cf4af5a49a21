// The target detector on images of the virtual rig, scored against the
// rig's truth: the projection of every mark's circle centre through the
// true camera model.

#include <gtest/gtest.h>

#include <numbers>

#include "CamCalib/Interface.h"
#include "CamCalib/TargetGrid.h"
#include "scan/HardwareSetup.h"
#include "sim/RigSetup.h"
#include "sim/testing/TargetScores.h"

namespace sim {
namespace {

constexpr double kDeg = std::numbers::pi / 180.0;

struct Rig {
  scan::HardwareSetupIO setup;
  SceneDescription description;
};

const Rig& DefaultRig() {
  static const Rig rig = [] {
    Rig r;
    std::string error;
    if (!LoadRigFolder(ResolveRigFolder("default"), r.setup, r.description, error))
      ADD_FAILURE() << error;
    return r;
  }();
  return rig;
}

const cam::FlatPlateCalibrationTarget& Plate() {
  static const cam::FlatPlateCalibrationTarget plate(ShareDirectory() / "targets" / "plate.xml");
  return plate;
}

TargetShot Shoot(const std::vector<PlacedTarget>& targets,
                 const TargetRenderOptions& options = {}) {
  TargetShot shot;
  std::string error;
  EXPECT_TRUE(
      ShootTargets(DefaultRig().setup, DefaultRig().description, 0, targets, options, shot, error))
      << error;
  return shot;
}

std::vector<PlacedTarget> PlateAt(double tilt, double axis, double roll, double distance = 620.0) {
  return {{"plate", Plate(),
           PlateFacingCamera(*DefaultRig().setup.cameras[0].cameraModel, Plate(), distance,
                             tilt * kDeg, axis * kDeg, roll * kDeg)}};
}

struct Mapped {
  testing::TargetScore score;
  std::vector<std::vector<math::Vec2d>> points;  // per grid
};

Mapped Detect(const TargetShot& shot, const std::vector<CamCalib::CalibGrid>& grids, int mode) {
  CamCalib::Parameters p =
      CamCalib::Parameters::ForCameraCalibration(int(shot.image.width), int(shot.image.height));
  p.centreMode = mode;
  CamCalib::Interface detector;
  EXPECT_TRUE(detector.Init(p));
  EXPECT_TRUE(detector.ExtractEllipses(shot.image));
  Mapped m;
  double sum2 = 0.0;
  int n = 0;
  for (std::size_t g = 0; g < grids.size(); ++g) {
    EXPECT_TRUE(detector.MapEllipses(grids[g])) << "grid " << g;
    const auto s =
        testing::ScoreDetection(shot, int(g), detector.GetGridNodes(), detector.GetImagePoints());
    m.points.push_back(detector.GetImagePoints());
    m.score.visible += s.visible, m.score.right += s.right, m.score.wrong += s.wrong,
        m.score.missing += s.missing;
    m.score.partial += s.partial;
    sum2 += s.rms * s.rms * (s.right - s.partial), n += s.right - s.partial;
    m.score.max = std::max(m.score.max, s.max);
  }
  m.score.rms = n ? std::sqrt(sum2 / n) : 0.0;
  return m;
}

CamCalib::CalibGrid PlateGrid() {
  CamCalib::CalibGrid grid;
  std::string error;
  EXPECT_TRUE(CamCalib::MakeCalibGrid(Plate(), grid, error)) << error;
  return grid;
}

// Every visible mark on its node, none wrong; mode 2 within 0.02 px RMS and
// 0.08 px at worst.
void ExpectAccurate(const Mapped& m, int minimumVisible) {
  EXPECT_GE(m.score.visible, minimumVisible);
  EXPECT_EQ(m.score.missing, 0);
  EXPECT_EQ(m.score.wrong, 0);
  EXPECT_LE(m.score.rms, 0.02);
  EXPECT_LE(m.score.max, 0.08);
}

TEST(RigTargets, CornerMapsEveryVisibleMarkAccurately) {
  const auto targets = MakeCornerTargets(CornerScale(DefaultRig().setup));
  const TargetShot shot = Shoot(targets);
  const auto grids = DefaultCornerGrids(CornerScale(DefaultRig().setup));
  const Mapped m = Detect(shot, grids, 2);
  ExpectAccurate(m, 300);
  // The corner calibration's mirror test holds on the rig's image, and a
  // mirrored image fails it.
  EXPECT_FALSE(scan::IsCornerImageMirrored(m.points[0], m.points[1]));
  TargetShot mirrored = shot;
  for (std::uint32_t y = 0; y < mirrored.image.height; ++y)
    std::reverse(mirrored.image.Row(y), mirrored.image.Row(y) + mirrored.image.width);
  CamCalib::Interface detector;
  detector.SetPrintMessages(false);
  ASSERT_TRUE(detector.Init(
      CamCalib::Parameters::ForCameraCalibration(int(shot.image.width), int(shot.image.height))));
  ASSERT_TRUE(detector.ExtractEllipses(mirrored.image));
  std::vector<math::Vec2d> panels[2];
  for (int g = 0; g < 2; ++g) {
    if (detector.MapEllipses(grids[std::size_t(g)])) panels[g] = detector.GetImagePoints();
  }
  EXPECT_TRUE(scan::IsCornerImageMirrored(panels[0], panels[1]));
}

TEST(RigTargets, TiltedPlatesMapAccuratelyAndModeTwoRemovesThePerspectiveBias) {
  for (const auto& [tilt, axis, roll] :
       {std::tuple{20.0, 0.0, 5.0}, std::tuple{50.0, 135.0, -20.0}}) {
    const auto targets = PlateAt(tilt, axis, roll);
    const TargetShot shot = Shoot(targets);
    CamCalib::CalibGrid grid = PlateGrid();
    const Mapped two = Detect(shot, {grid}, 2);
    ExpectAccurate(two, 176);
    const Mapped zero = Detect(shot, {grid}, 0), one = Detect(shot, {grid}, 1);
    EXPECT_EQ(zero.score.right, 176);
    EXPECT_LE(one.score.rms, 0.02);
    // Mode 0 keeps the ellipse centres' bias: larger, and more at 50°.
    EXPECT_GT(zero.score.rms, 2.0 * two.score.rms) << tilt;
    EXPECT_GT(zero.score.max, tilt > 30.0 ? 0.05 : 0.03) << tilt;
  }
}

// A plain grid (no marker cell) photographed like a print: soft focus,
// grey ink on off-white paper, a steeper gamma and more noise. Every mark
// is found as an ellipse though no grid can be mapped.
TEST(RigTargets, PhotoOfAPlainGridGivesItsEllipses) {
  cam::FlatPlateCalibrationTarget plain = Plate();
  for (auto& [node, m] : plain.markers) m.outerDiameter = 8.0, m.innerDiameter = 0.0;
  std::vector<PlacedTarget> targets = PlateAt(30.0, 60.0, 8.0, 560.0);
  targets[0].target = plain;
  TargetRenderOptions options;
  options.cameraDefocus = 1.6;
  options.cameraGamma = 1.8;
  options.noiseSigma = 3.0;
  options.print.paper = 0.7f;
  options.print.black = 0.12f;
  const TargetShot shot = Shoot(targets, options);
  CamCalib::Interface detector;
  detector.SetPrintMessages(false);
  ASSERT_TRUE(detector.Init(
      CamCalib::Parameters::ForCameraCalibration(int(shot.image.width), int(shot.image.height))));
  EXPECT_FALSE(detector.ExtractEllipses(shot.image));
  EXPECT_EQ(
      detector.GetMessages().back(),
      "__CamCalib::Interface::ExtractEllipses__ Could not extract enough ellipses from image.");
  int found = 0, visible = 0;
  for (const auto& mark : shot.marks) {
    if (!mark.visible) continue;
    ++visible;
    for (const auto& c : detector.GetEllipseCentres()) found += (c - mark.image).Length() < 0.3;
  }
  EXPECT_EQ(visible, 176);
  EXPECT_EQ(found, visible);
  EXPECT_EQ(detector.GetEllipses().size(), 176u);
}

// Marks behind an occluder or burnt out by overexposure are left out or
// still right; never on a wrong node.
TEST(RigTargets, PartlyHiddenOrOverexposedPlateMapsNoWrongNode) {
  const auto targets = PlateAt(25.0, 20.0, 0.0);
  TargetRenderOptions hidden;
  // A grey card 40 mm in front of the plate across part of it.
  hidden.editScene = [&](Scene& scene) {
    const math::Frame4d pose =
        targets[0].world_T_plate * math::FTrans(60.0, 40.0, -40.0) * math::FRotX(std::numbers::pi);
    scene.AddPanel({70.0, 50.0}, pose, {0.4f, 0.4f, 0.4f}, "occluder");
  };
  const TargetShot covered = Shoot(targets, hidden);
  const Mapped m = Detect(covered, {PlateGrid()}, 2);
  EXPECT_EQ(m.score.wrong, 0);
  EXPECT_LT(m.score.visible, 176);
  EXPECT_LE(m.score.max, 0.08);
  TargetRenderOptions overexposed;
  overexposed.gain = 3.0;
  const TargetShot burnt = Shoot(targets, overexposed);
  // The paper is burnt out: nearly every bright pixel is clipped.
  std::size_t bright = 0, saturated = 0;
  for (std::int32_t i = 0; i < burnt.image.size; ++i) {
    bright += burnt.image.data[i] >= 200;
    saturated += burnt.image.data[i] >= 250;  // clipped, then the noise
  }
  EXPECT_GT(saturated, bright * 9 / 10);
  const Mapped b = Detect(burnt, {PlateGrid()}, 2);
  EXPECT_EQ(b.score.wrong, 0);
  EXPECT_EQ(b.score.missing, 0);
}

}  // namespace
}  // namespace sim
