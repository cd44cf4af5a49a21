// The corner calibration of a camera from a rendered image of the two
// panels, scored against the rig's true camera model.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <numbers>

#include "scan/HardwareSetup.h"
#include "sim/CalibrationRig.h"
#include "sim/RigSetup.h"
#include "sim/TargetShot.h"

namespace sim {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
constexpr double kDeg = std::numbers::pi / 180.0;

struct Corner {
  scan::HardwareSetupIO truth;
  img::GreyImage image;
};

const Corner& DefaultCorner() {
  static const Corner corner = [] {
    Corner c;
    SceneDescription description;
    std::string error;
    if (!LoadRigFolder(ResolveRigFolder("default"), c.truth, description, error))
      ADD_FAILURE() << error;
    TargetShot shot;
    if (!ShootTargets(c.truth, description, 0, MakeCornerTargets(CornerScale(c.truth)), {}, shot,
                      error))
      ADD_FAILURE() << error;
    c.image = std::move(shot.image);
    return c;
  }();
  return corner;
}

const cam::CameraModelTsai& TrueCamera() {
  return dynamic_cast<const cam::CameraModelTsai&>(*DefaultCorner().truth.cameras[0].cameraModel);
}

// The rig's camera perturbed as a nominal setup would be.
cam::CameraModelTsai NominalCamera() {
  const scan::HardwareSetupIO nominal = PerturbSetup(DefaultCorner().truth, {}, 7);
  return dynamic_cast<const cam::CameraModelTsai&>(*nominal.cameras[0].cameraModel);
}

scan::HardwareSetup Station() {
  scan::HardwareSetup station;
  station.SetDefaultZentoCalibGrids(CornerScale(DefaultCorner().truth));
  return station;
}

img::GreyImage Mirrored(img::GreyImage image) {
  for (std::uint32_t y = 0; y < image.height; ++y)
    std::reverse(image.Row(y), image.Row(y) + image.width);
  return image;
}

struct Outcome {
  bool ok = false;
  std::string out, err;
};

Outcome Calibrate(scan::HardwareSetup& station, cam::CameraModelTsai& model,
                  const img::GreyImage& image, const scan::CameraCalibrationOptions& options,
                  bool fixed = false) {
  Outcome r;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  r.ok = fixed ? station.CalibrateFixedCamera(model, image, options)
               : station.CalibrateCamera(model, image, options);
  r.out = testing::internal::GetCapturedStdout();
  r.err = testing::internal::GetCapturedStderr();
  return r;
}

void ExpectSameModel(const cam::CameraModelTsai& a, const cam::CameraModelTsai& b) {
  EXPECT_EQ(a.GetIntrinsics(), b.GetIntrinsics());
  EXPECT_EQ(a.GetFrame_wTc(), b.GetFrame_wTc());
}

TEST(CornerCalibration, FindsTheTrueCameraFromANominalStart) {
  scan::HardwareSetup station = Station();
  cam::CameraModelTsai model = NominalCamera();
  ModelError start;
  ASSERT_TRUE(CompareModels(model, TrueCamera(), start));
  ASSERT_GT(start.focalRelative, 0.04);  // nothing starts at the answer

  const Outcome r = Calibrate(station, model, DefaultCorner().image, {});
  ASSERT_TRUE(r.ok) << r.out << r.err;
  EXPECT_THAT(r.out, HasSubstr("     -> Setup is 'outer/negative corner'\n"));
  EXPECT_THAT(r.out, Not(HasSubstr("FALL BACK")));
  EXPECT_THAT(r.out, HasSubstr(" - RMS error is ok: "));
  EXPECT_LE(station.GetLastRMS(), 0.1);

  ModelError e;
  ASSERT_TRUE(CompareModels(model, TrueCamera(), e));
  EXPECT_LT(e.focalRelative, 0.0005);
  EXPECT_LT(std::hypot(e.cx, e.cy), 0.5);
  EXPECT_LT(e.position, 0.5);
  EXPECT_LT(e.rotation, 0.02 * kDeg);
  EXPECT_EQ(model.GetIntrinsics().sx, 1.0);  // non-square pixels not compensated
  ASSERT_EQ(station.GetCornerCorrespondences().size(), 1u);
  EXPECT_GT(station.GetCornerCorrespondences()[0].leftImage.size(), 100u);
  EXPECT_GT(station.GetCornerCorrespondences()[0].rightImage.size(), 100u);

  // The joint optimisation of the one camera keeps it; one model too many is refused.
  auto shared = std::make_shared<cam::CameraModelTsai>(model);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(station.OptimizeCameras({shared}, {}));
  EXPECT_THAT(testing::internal::GetCapturedStdout(),
              HasSubstr("Optimizing Multi-Camera Calibration...\n"));
  EXPECT_NEAR(shared->GetIntrinsics().f, model.GetIntrinsics().f, 1e-3);
  EXPECT_FALSE(station.OptimizeCameras({shared, shared}, {}));
}

TEST(CornerCalibration, ExtrinsicsOnlyKeepsTheIntrinsics) {
  scan::HardwareSetup station = Station();
  cam::CameraModelTsai model = TrueCamera();
  model.SetFrame_wTc(NominalCamera().GetFrame_wTc());
  scan::CameraCalibrationOptions options;
  options.calibrateExtrinsicsOnly = true;
  Outcome r = Calibrate(station, model, DefaultCorner().image, options);
  ASSERT_TRUE(r.ok) << r.out << r.err;
  EXPECT_THAT(
      r.out,
      HasSubstr("WARNING: CalibrateExtrinsicsOnly is True, so calibrating extrinsics only!\n"));
  EXPECT_EQ(model.GetIntrinsics(), TrueCamera().GetIntrinsics());
  ModelError e;
  ASSERT_TRUE(CompareModels(model, TrueCamera(), e));
  EXPECT_LT(e.position, 0.2);

  // Without intrinsics there is nothing to keep: a full calibration.
  cam::CameraModelTsai blank;
  r = Calibrate(station, blank, DefaultCorner().image, options);
  ASSERT_TRUE(r.ok) << r.out << r.err;
  EXPECT_THAT(
      r.out, HasSubstr("CalibrateExtrinsicsOnly is True, but full calibration is necessary because "
                       "previous intrinsics are unavailable.\n"));
  EXPECT_NEAR(blank.GetIntrinsics().f, TrueCamera().GetIntrinsics().f,
              0.002 * TrueCamera().GetIntrinsics().f);
}

TEST(CornerCalibration, RmsAtTheMaximumIsAcceptedAboveItRefused) {
  scan::HardwareSetup first = Station();
  cam::CameraModelTsai model = NominalCamera();
  ASSERT_TRUE(Calibrate(first, model, DefaultCorner().image, {}).ok);
  const double rms = first.GetLastRMS();

  scan::CameraCalibrationOptions options;
  options.maxRMS = rms;
  scan::HardwareSetup atMax = Station();
  cam::CameraModelTsai accepted = NominalCamera();
  EXPECT_TRUE(Calibrate(atMax, accepted, DefaultCorner().image, options).ok);

  options.maxRMS = std::nextafter(rms, 0.0);
  scan::HardwareSetup above = Station();
  const cam::CameraModelTsai before = NominalCamera();
  cam::CameraModelTsai refused = before;
  const Outcome r = Calibrate(above, refused, DefaultCorner().image, options);
  EXPECT_FALSE(r.ok);
  EXPECT_THAT(r.err, HasSubstr(" - RMS error is too high: "));
  EXPECT_THAT(r.err, HasSubstr(", max: "));
  ExpectSameModel(refused, before);
  EXPECT_TRUE(above.GetCornerCorrespondences().empty());
  EXPECT_EQ(above.GetCalibGrids()[1].world_T_plate, Station().GetCalibGrids()[1].world_T_plate);
}

TEST(CornerCalibration, MirroredImageStopsWithModelUnchanged) {
  scan::HardwareSetup station = Station();
  const cam::CameraModelTsai before = NominalCamera();
  cam::CameraModelTsai model = before;
  const Outcome r = Calibrate(station, model, Mirrored(DefaultCorner().image), {});
  EXPECT_FALSE(r.ok);
  EXPECT_THAT(r.out, HasSubstr("Camera image seems to be mirrored!\n"));
  ExpectSameModel(model, before);
  EXPECT_TRUE(station.GetCornerCorrespondences().empty());
}

TEST(CornerCalibration, ParallelPanelsDoNotIntersect) {
  scan::HardwareSetup station = Station();
  auto grids = station.GetCalibGrids();
  // The right panel's description turned parallel to the left one.
  grids[1].world_T_plate.SetN(grids[0].world_T_plate.n());
  grids[1].world_T_plate.SetO(grids[0].world_T_plate.o());
  grids[1].world_T_plate.SetA(grids[0].world_T_plate.a());
  station.SetCalibGrids(grids);
  const cam::CameraModelTsai before = NominalCamera();
  cam::CameraModelTsai model = before;
  const Outcome r = Calibrate(station, model, DefaultCorner().image, {});
  EXPECT_FALSE(r.ok);
  EXPECT_THAT(
      r.err,
      HasSubstr("HardwareSetup::CalibrateCamera(): Left and right calib.planes do not intersect!"));
  ExpectSameModel(model, before);
}

TEST(CornerCalibration, CornerUnlikeItsDescriptionFallsBack) {
  // The right panel described 40° further round its corner line than it
  // stands: the measured corner (the image) differs from the expected one.
  scan::HardwareSetup station = Station();
  auto grids = station.GetCalibGrids();
  const math::Frame<double> r = grids[1].world_T_plate;
  const math::Vec3d corner = r * math::Vec3d{-grids[1].spacingX, 0.0, 0.0};
  grids[1].world_T_plate =
      math::FTrans(corner) * math::FRotZ(40.0 * kDeg) * math::FTrans(corner * -1.0) * r;
  station.SetCalibGrids(grids);
  EXPECT_NEAR(
      std::abs(scan::AngleBetweenPanels(grids[0].world_T_plate, grids[1].world_T_plate) / kDeg -
               240.0),
      40.0, 1e-9);
  const cam::CameraModelTsai before = NominalCamera();
  cam::CameraModelTsai model = before;
  const Outcome r2 = Calibrate(station, model, DefaultCorner().image, {});
  EXPECT_THAT(r2.out, HasSubstr("     -> Setup is 'outer/negative corner'\n"));
  EXPECT_THAT(
      r2.out,
      HasSubstr("   -> Could not auto-detect setup reliably. Using FALL BACK to default setup.\n"));
  // The description does not fit the image: refused, nothing changed.
  EXPECT_FALSE(r2.ok);
  EXPECT_THAT(r2.err, HasSubstr(" - RMS error is too high: "));
  ExpectSameModel(model, before);

  // Without the corner decision nothing is said about the corner.
  scan::CameraCalibrationOptions options;
  options.autoDetectCalibCornerSetup = false;
  const Outcome r3 = Calibrate(station, model, DefaultCorner().image, options);
  EXPECT_THAT(r3.out, Not(HasSubstr("Setup is")));
}

TEST(CornerCalibration, FixedPanelsAreNotMovedByCompensation) {
  scan::CameraCalibrationOptions options;
  options.compensatePatternOffsets = true;
  options.compensatePatternRotInPlane = true;
  options.compensateAngleBetweenPatterns = true;
  scan::HardwareSetup fixed = Station();
  cam::CameraModelTsai model = NominalCamera();
  ASSERT_TRUE(Calibrate(fixed, model, DefaultCorner().image, options, true).ok);
  EXPECT_EQ(fixed.GetCalibGrids()[0].world_T_plate, Station().GetCalibGrids()[0].world_T_plate);
  EXPECT_EQ(fixed.GetCalibGrids()[1].world_T_plate, Station().GetCalibGrids()[1].world_T_plate);

  // Free panels stay where they truly stand (the rig's panels are the nominal ones).
  scan::HardwareSetup free = Station();
  cam::CameraModelTsai model2 = NominalCamera();
  const Outcome r = Calibrate(free, model2, DefaultCorner().image, options);
  ASSERT_TRUE(r.ok) << r.out << r.err;
  const auto moved = free.GetCalibGrids()[1].world_T_plate.GetTrans() -
                     Station().GetCalibGrids()[1].world_T_plate.GetTrans();
  EXPECT_LT(moved.Length(), 0.5);
}

}  // namespace
}  // namespace sim
