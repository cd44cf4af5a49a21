#include "cam/CalibrateTsai.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "cam/SyntheticTargets.h"

namespace cam {
namespace {

using ::testing::HasSubstr;
using synthetic::Observations;

constexpr double kDeg = 3.14159265358979323846 / 180.0;

CameraModelTsai TrueCamera() {
  CameraModelTsai cam;
  cam.SetResolution(1920, 1200);
  cam.SetIntrinsics(1003.7, 571.2, 2500.0, 1.0, -3e-9);
  cam.SetFrame_wTc(synthetic::LookAt({430.0, -30.0, 460.0}, {150.0, 10.0, 140.0}, {0.0, 1.0, 0.0}, 0.05));
  return cam;
}

double Rms(const CameraModel& model, const Observations& obs) {
  std::vector<std::pair<math::Vec2d, math::Vec2d>> residuals;
  double rms = -1.0;
  EXPECT_TRUE(GetCalibrationError(model, obs.points3d, obs.points2d, residuals, rms));
  return rms;
}

TEST(CalibrateTsai, NonCoplanarRecoversExactCamera) {
  const CameraModelTsai truth = TrueCamera();
  std::mt19937 rng(1);
  const Observations obs = synthetic::Observe(truth, synthetic::CornerGrid(25, 15.0, 15.0), 0.0, rng);
  ASSERT_GT(obs.points3d.size(), 400u);
  CameraModelTsai model;
  CalibrateTsai calib;
  ASSERT_TRUE(calib.Calibrate(model, obs.points3d, obs.points2d, 1920, 1200, {}, false));
  EXPECT_LT(Rms(model, obs), 1e-6);
  const auto& t = truth.GetIntrinsics();
  const auto& m = model.GetIntrinsics();
  EXPECT_NEAR(m.f, t.f, 1e-6 * t.f);
  EXPECT_NEAR(m.cx, t.cx, 1e-5);
  EXPECT_NEAR(m.cy, t.cy, 1e-5);
  EXPECT_NEAR(m.sx, t.sx, 1e-9);
  EXPECT_NEAR(m.kappa1, t.kappa1, 1e-6 * std::abs(t.kappa1));
  double angle = 0, dist = 0;
  synthetic::PoseDifference(truth.GetFrame_wTc(), model.GetFrame_wTc(), angle, dist);
  EXPECT_LT(dist, 1e-6);
  EXPECT_LT(angle, 1e-9);
  EXPECT_EQ(model.GetResX(), 1920u);
}

TEST(CalibrateTsai, NonCoplanarWithNoiseIsAsGoodAsTheData) {
  const CameraModelTsai truth = TrueCamera();
  const double sigma = 0.1;
  std::mt19937 rng(2);
  const Observations obs = synthetic::Observe(truth, synthetic::CornerGrid(25, 15.0, 15.0), sigma, rng);
  CameraModelTsai model;
  CalibrateTsai calib;
  ASSERT_TRUE(calib.Calibrate(model, obs.points3d, obs.points2d, 1920, 1200, {}, false));
  const auto& t = truth.GetIntrinsics();
  const auto& m = model.GetIntrinsics();
  EXPECT_NEAR(m.f, t.f, 1e-3 * t.f);
  EXPECT_NEAR(m.cx, t.cx, 1.0);
  EXPECT_NEAR(m.cy, t.cy, 1.0);
  // Residual per axis of a least-squares fit: σ·√(1 − p/(2n)), p = 11.
  const double perAxis = Rms(model, obs) / std::sqrt(2.0);
  EXPECT_NEAR(perAxis, sigma, 0.1 * sigma);
  // Pose errors within four predicted standard deviations (|δ| of a 3-vector).
  const auto predicted = synthetic::PredictTsaiErrors(truth, obs.points3d, obs.points2d, sigma);
  double angle = 0, dist = 0;
  synthetic::PoseDifference(truth.GetFrame_wTc(), model.GetFrame_wTc(), angle, dist);
  EXPECT_LT(dist, 4.0 * predicted.centre);
  EXPECT_LT(angle, 4.0 * predicted.angle);
  EXPECT_LT(angle, 0.01 * kDeg);
  EXPECT_LT(std::abs(m.f - t.f), 4.0 * predicted.f);
}

TEST(CalibrateTsai, CoplanarTiltedPlaneAwayFromTheOrigin) {
  CameraModelTsai truth;
  truth.SetResolution(1920, 1200);
  truth.SetIntrinsics(975.0, 610.0, 2500.0, 1.0, -3e-9);
  // The plate: tilted, shifted, in world coordinates that do not place it at z = 0.
  const math::Frame<double> world_T_plate =
      math::FTrans(100.0, -50.0, 30.0) * math::FRotX(0.3) * math::FRotY(-0.5) * math::FRotZ(0.2);
  truth.SetFrame_wTc(world_T_plate *
                     synthetic::LookAt({250.0, -180.0, -600.0}, {10.0, 5.0, 0.0}, {0.0, 1.0, 0.0}, 0.1));
  std::vector<math::Vec3d> world;
  for (const auto& p : synthetic::PlateGrid(21, 15, 15.0)) world.push_back(world_T_plate.MultP(p));
  std::mt19937 rng(3);
  const Observations obs = synthetic::Observe(truth, world, 0.0, rng);
  ASSERT_GT(obs.points3d.size(), 200u);
  CameraModelTsai model;
  CalibrateTsai calib;
  ASSERT_TRUE(calib.Calibrate(model, obs.points3d, obs.points2d, 1920, 1200, {}, true));
  EXPECT_LT(Rms(model, obs), 1e-6);
  double angle = 0, dist = 0;
  synthetic::PoseDifference(truth.GetFrame_wTc(), model.GetFrame_wTc(), angle, dist);
  EXPECT_LT(dist, 1e-4);
  EXPECT_LT(angle, 1e-7);
  EXPECT_NEAR(model.GetIntrinsics().f, 2500.0, 1e-4);
  EXPECT_EQ(model.GetIntrinsics().sx, 1.0);  // not estimated in coplanar mode

  // Without distortion estimate kappa1 stays 0 and the fit absorbs the rest.
  calib.SetSuppressDistortion(true);
  ASSERT_TRUE(calib.Calibrate(model, obs.points3d, obs.points2d, 1920, 1200, {}, true));
  EXPECT_EQ(model.GetIntrinsics().kappa1, 0.0);
}

TEST(CalibrateTsai, ProjectorWithPrincipalPointOutsideTheImage) {
  // Normalised projector coordinates (the unit square), principal point
  // below the image, non-square units; the start value of cy comes from the
  // caller (scanning start values and keeping the best RMS works as well).
  for (const double cyTrue : {-0.5, 1.5}) {
    CameraModelTsai truth;
    truth.SetResolution(1, 1);
    truth.SetIntrinsics(0.52, cyTrue, 1.9, 1080.0 / 1920.0, 0.002);
    truth.SetFrame_wTc(synthetic::LookAt({470.0, 60.0, 420.0}, {150.0, 10.0, 140.0}, {0.0, 1.0, 0.0}, -0.03) *
                       math::FRotX(std::atan((0.5 - cyTrue) / 1.9)));
    const double sigma = 0.1 / 1080.0;
    std::mt19937 rng(4);
    const Observations obs = synthetic::Observe(truth, synthetic::CornerGrid(25, 15.0, 15.0), sigma, rng);
    ASSERT_GT(obs.points3d.size(), 300u);
    TsaiSensorDescription sensor;
    sensor.cx = 0.5;
    sensor.cy = cyTrue > 0.5 ? 1.0 : 0.0;
    CameraModelTsai model;
    CalibrateTsai calib;
    ASSERT_TRUE(calib.Calibrate(model, obs.points3d, obs.points2d, 1, 1, sensor, false)) << cyTrue;
    EXPECT_NEAR(model.GetIntrinsics().f, 1.9, 1e-3 * 1.9);
    EXPECT_NEAR(model.GetIntrinsics().cy, cyTrue, 1.0 / 1080.0);
    EXPECT_NEAR(model.GetIntrinsics().sx, truth.GetIntrinsics().sx, 1e-3);
    EXPECT_NEAR(Rms(model, obs) / std::sqrt(2.0), sigma, 0.1 * sigma);
  }
}

TEST(CalibrateTsai, OptimizeRefinesAPerturbedModel) {
  const CameraModelTsai truth = TrueCamera();
  std::mt19937 rng(5);
  const Observations obs = synthetic::Observe(truth, synthetic::CornerGrid(15, 20.0, 20.0), 0.0, rng);
  CameraModelTsai model = truth;
  model.SetIntrinsics(990.0, 580.0, 2450.0, 1.001, 0.0);
  model.SetFrame_wTc(truth.GetFrame_wTc() * math::FTrans(2.0, -1.0, 5.0) * math::FRotY(0.01));
  CalibrateTsai calib;
  ASSERT_TRUE(calib.Optimize(model, obs.points3d, obs.points2d));
  EXPECT_LT(Rms(model, obs), 1e-6);
  EXPECT_NEAR(model.GetIntrinsics().f, 2500.0, 1e-4);

  testing::internal::CaptureStderr();
  EXPECT_FALSE(calib.Optimize(model, obs.points3d, std::vector<math::Vec2d>(obs.points2d.begin(),
                                                                            obs.points2d.begin() + 3)));
  EXPECT_FALSE(calib.Optimize(model, {obs.points3d.begin(), obs.points3d.begin() + 4},
                              {obs.points2d.begin(), obs.points2d.begin() + 4}));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_THAT(err, HasSubstr("Error: cam::CalibrateTsai::Optimize - Number of 2d points (3) does not fit number "
                             "of 3d points (" + std::to_string(obs.points3d.size()) + ")."));
  EXPECT_THAT(err, HasSubstr("Error: cam::CalibrateTsai::Optimize - Not enough point correspondences"));
}

class CalibrateTsaiBadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 rng(6);
    obs = synthetic::Observe(TrueCamera(), synthetic::CornerGrid(9, 30.0, 20.0), 0.0, rng);
    before.SetIntrinsics(1.0, 2.0, 3.0, 4.0, 5.0);
    before.SetFrame_wTc(math::FTrans(1.0, 2.0, 3.0));
  }
  // Calibrates a copy of `before`, expects failure, an unchanged model and
  // the message on stderr.
  void ExpectFailure(const std::vector<math::Vec3d>& p3, const std::vector<math::Vec2d>& p2, bool coplanar,
                     const std::string& message) {
    CameraModelTsai model = before;
    CalibrateTsai calib;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(calib.Calibrate(model, p3, p2, 1920, 1200, {}, coplanar));
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr(message));
    EXPECT_EQ(model.GetIntrinsics(), before.GetIntrinsics());
    EXPECT_EQ(model.GetFrame_wTc(), before.GetFrame_wTc());
  }
  Observations obs;
  CameraModelTsai before;
};

TEST_F(CalibrateTsaiBadInput, TooFewOrMismatchedCorrespondences) {
  const std::vector<math::Vec3d> p3(obs.points3d.begin(), obs.points3d.begin() + 4);
  const std::vector<math::Vec2d> p2(obs.points2d.begin(), obs.points2d.begin() + 4);
  ExpectFailure(p3, p2, false, "Error: cam::CalibrateTsai::Calibrate - Not enough point correspondences\n");
  ExpectFailure(obs.points3d, p2, true, "Not enough point correspondences");
}

TEST_F(CalibrateTsaiBadInput, NonFiniteCoordinates) {
  auto p2 = obs.points2d;
  p2[7][1] = std::numeric_limits<double>::quiet_NaN();
  ExpectFailure(obs.points3d, p2, false, "non-finite");
  auto p3 = obs.points3d;
  p3[3][0] = std::numeric_limits<double>::infinity();
  ExpectFailure(p3, obs.points2d, true, "non-finite");
}

TEST_F(CalibrateTsaiBadInput, CoplanarDataInNonCoplanarMode) {
  std::vector<math::Vec3d> p3;
  std::vector<math::Vec2d> p2;
  for (std::size_t i = 0; i < obs.points3d.size(); ++i) {
    if (obs.points3d[i][2] == 0.0) p3.push_back(obs.points3d[i]), p2.push_back(obs.points2d[i]);
  }
  ExpectFailure(p3, p2, false,
                "ncc compute U: error - non-coplanar calibration tried with data which may possibly be coplanar\n\n"
                "Error: cam::CalibrateTsai::Calibrate - noncoplanar_calibration_with_full_optimization() failed.\n");
}

TEST_F(CalibrateTsaiBadInput, CollinearPointsInCoplanarMode) {
  std::vector<math::Vec3d> p3;
  std::vector<math::Vec2d> p2;
  for (std::size_t i = 0; i < obs.points3d.size(); ++i) {
    if (obs.points3d[i][2] == 0.0 && obs.points3d[i][1] == obs.points3d[0][1]) {
      p3.push_back(obs.points3d[i]), p2.push_back(obs.points2d[i]);
    }
  }
  ASSERT_GE(p3.size(), 5u);
  ExpectFailure(p3, p2, true, "Error: cam::CalibrateTsai::Calibrate - coplanar_calibration_with_full_optimization() failed.");
}

TEST_F(CalibrateTsaiBadInput, NonPlanarPointsInCoplanarMode) {
  // Points at z = ±0.1414 mm over each corner of a square: the smallest
  // covariance eigenvalue is 0.02 mm².
  const double h = std::sqrt(0.02);
  std::vector<math::Vec3d> p3;
  for (const double x : {0.0, 100.0}) {
    for (const double y : {0.0, 100.0}) p3.insert(p3.end(), {{x, y, h}, {x, y, -h}});
  }
  const std::vector<math::Vec2d> p2(p3.size(), math::Vec2d(1.0, 2.0));
  ExpectFailure(p3, p2, true,
                "Error: cam::CalibrateTsai::Calibrate - Cannot calibrate in coplanar mode because 3d points are not "
                "coplanar. Variation=0.02");
}

TEST(GetCalibrationError, ResidualsAndMessages) {
  const CameraModelTsai truth = TrueCamera();
  std::mt19937 rng(7);
  Observations obs = synthetic::Observe(truth, synthetic::CornerGrid(5, 40.0, 20.0), 0.0, rng);
  obs.points2d[0] += math::Vec2d(3.0, 4.0);
  std::vector<std::pair<math::Vec2d, math::Vec2d>> residuals;
  double rms = -1.0;
  ASSERT_TRUE(GetCalibrationError(truth, obs.points3d, obs.points2d, residuals, rms));
  ASSERT_EQ(residuals.size(), obs.points3d.size());
  EXPECT_EQ(residuals[0].first, obs.points2d[0]);
  EXPECT_NEAR(residuals[0].second[0], -3.0, 1e-9);
  EXPECT_NEAR(residuals[0].second[1], -4.0, 1e-9);
  EXPECT_NEAR(rms, 5.0 / std::sqrt(double(obs.points3d.size())), 1e-9);
  ASSERT_TRUE(GetCalibrationError(truth, {}, {}, residuals, rms));
  EXPECT_EQ(rms, 0.0);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(GetCalibrationError(truth, obs.points3d, {}, residuals, rms));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: cam::GetCalibrationError - Number of 2d points (0) does not fit number of 3d points (" +
                std::to_string(obs.points3d.size()) + ")!\n");
}

}  // namespace
}  // namespace cam
