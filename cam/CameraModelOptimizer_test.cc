#include "cam/CameraModelOptimizer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "cam/CalibrateTsai.h"
#include "cam/OptiCameraModel.h"
#include "cam/SyntheticTargets.h"

namespace cam {
namespace {

using ::testing::HasSubstr;
using synthetic::Observations;

TEST(OptiParameterSetCameraModelTsai, SelectionOrderAndNeutralPose) {
  CameraModelTsai model;
  model.SetIntrinsics(1.0, 2.0, 3.0, 4.0, 5.0);
  const math::Frame<double> pose = math::FTrans(1.0, 2.0, 3.0) * math::FRotX(0.3);
  model.SetFrame_wTc(pose);
  OptiParameterSetCameraModelTsai set(model);
  ASSERT_TRUE(set.SelectActiveParams("cx cy f kappa1"));
  EXPECT_EQ(set.GetActiveIndices(), (std::vector<std::size_t>{6, 7, 8, 10}));
  std::vector<double> values;
  set.GetActiveParams(values);
  EXPECT_EQ(values, (std::vector<double>{1.0, 2.0, 3.0, 5.0}));
  set.SelectActiveParams("tx ty tz rx ry rz");
  const double zeros[6] = {};
  std::size_t position = 0;
  ASSERT_TRUE(set.SetActiveParams(position, zeros, 6));
  EXPECT_EQ(model.GetFrame_wTc(), pose);
}

TEST(OptiParameterSetCameraModelOCV, ApplyDropsTheMap) {
  CameraModelOCV model;
  CameraModelOCVIntrinsics c;
  c.cx = 320, c.cy = 240, c.f = 800, c.k1 = 0.1;
  model.SetIntrinsics(c, 640, 480);
  ASSERT_NE(model.GetUndistortionMap(), nullptr);
  OptiParameterSetCameraModelOCV set(model);
  set.SelectActiveParams("k2 p2");
  const double values[2] = {0.01, 0.002};
  std::size_t position = 0;
  ASSERT_TRUE(set.SetActiveParams(position, values, 2));
  EXPECT_EQ(model.GetUndistortionMap(), nullptr);
  EXPECT_EQ(model.GetIntrinsics().k2, 0.01);
  EXPECT_EQ(model.GetIntrinsics().p2, 0.002);
  EXPECT_EQ(model.GetIntrinsics().k1, 0.1);
}

TEST(OptiTransformCameraTsaiIS, ProjectsAndRecoversIntrinsics) {
  auto model = std::make_shared<CameraModelTsai>();
  model->SetIntrinsics(500.0, 400.0, 1000.0, 1.01, -2e-8);
  Eigen::MatrixXd S(3, 30), R;
  for (int k = 0; k < 30; ++k) S.col(k) << (k % 6) * 30.0 - 75.0, (k / 6) * 30.0 - 60.0, 500.0 + 7.0 * k;
  auto transform = std::make_shared<OptiTransformCameraTsaiIS>(model);
  ASSERT_TRUE(transform->Compute(R, S));
  math::Vec2d pixel;
  model->CameraPointToPixel(pixel, {S(0, 3), S(1, 3), S(2, 3)});
  EXPECT_EQ(R(0, 3), pixel[0]);
  EXPECT_EQ(R(1, 3), pixel[1]);
  Eigen::MatrixXd D;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(transform->Compute(D, Eigen::MatrixXd::Zero(2, 3)));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error in OptiTransformCameraTsaiIS::Compute: Invalid number of rows of 'S'.\n");

  // From a perturbed start the minimiser finds the intrinsics again.
  model->SetIntrinsics(480.0, 420.0, 1100.0, 1.0, 0.0);
  auto start = std::make_shared<OptiTransformCameraTsaiIS>(model);
  start->SelectActiveParams("cx cy f sx kappa1");
  auto func = std::make_shared<math::OptiErrorFunc>(S, R);
  func->AddTransform(start);
  math::OptiMizerLM lm;
  lm.AddParameterSet(start);
  lm.AddErrorFunc(func);
  ASSERT_TRUE(lm.Optimize());
  EXPECT_NEAR(model->GetIntrinsics().f, 1000.0, 1e-6);
  EXPECT_NEAR(model->GetIntrinsics().kappa1, -2e-8, 1e-15);
  EXPECT_LT(func->GetRMS(), 1e-8);
}

TEST(OptiParameterSetCameraModelTsai, ElevenParametersNeedTwelveErrors) {
  CameraModelTsai truth;
  truth.SetIntrinsics(320.0, 240.0, 800.0, 1.0, 0.0);
  std::vector<math::Vec3d> p3 = {{-50, -40, 600}, {60, -30, 650}, {-40, 50, 700},
                                 {55, 45, 620},   {0, 0, 680},    {-20, 30, 590}};
  Eigen::MatrixXd S(3, 6), R(2, 6);
  for (int k = 0; k < 6; ++k) {
    math::Vec2d pixel;
    truth.CameraPointToPixel(pixel, p3[k]);
    S.col(k) << p3[k][0], p3[k][1], p3[k][2];
    R.col(k) << pixel[0], pixel[1];
  }
  auto model = std::make_shared<CameraModelTsai>(truth);
  auto set = std::make_shared<OptiParameterSetCameraModelTsai>(*model);
  set->SelectActiveParams("tx ty tz rx ry rz cx cy f sx kappa1");
  auto func = std::make_shared<math::OptiErrorFunc>(S, R);
  func->AddTransform(std::make_shared<OptiTransformCameraModelIS>(model));
  math::OptiMizerLM twelve;
  twelve.AddParameterSet(set);
  twelve.AddErrorFunc(func);
  EXPECT_TRUE(twelve.Optimize());

  auto five = std::make_shared<math::OptiErrorFunc>(S.leftCols(5), R.leftCols(5));
  five->AddTransform(std::make_shared<OptiTransformCameraModelIS>(model));
  math::OptiMizerLM eleven;
  eleven.AddParameterSet(set);
  eleven.AddErrorFunc(five);
  eleven.AddErrorFunc(std::make_shared<math::OptiErrorFunc>(Eigen::MatrixXd::Zero(1, 1), Eigen::MatrixXd::Zero(1, 1)));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(eleven.Optimize());
  EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("Number of errors has to be greater"));
}

TEST(ActiveParams, BuildsGroupsWithLeadingBlanks) {
  EXPECT_EQ(ActiveParams().AddExtrinsics().AddOCVIntrinsics().GetString(),
            " tx ty tz rx ry rz cx cy f k1 k2 k3 p1 p2");
  EXPECT_EQ(ActiveParams("cx").Add("sx").GetString(), "cx sx");
}

// A plate seen in several poses by a camera at the world origin.
struct PlateScene {
  std::vector<math::Frame<double>> truePoses;
  std::vector<Observations> views;
};
template <typename Model>
PlateScene MakePlateScene(const Model& truth, double sigma, unsigned seed) {
  std::mt19937 rng(seed);
  const std::vector<math::Vec3d> plate = synthetic::PlateGrid(17, 11, 15.0);
  const double tilts[6][3] = {{0.25, -0.2, 650}, {0.5, 0.0, 700}, {-0.5, 0.1, 700},
                              {0.0, 0.5, 720},   {0.1, -0.5, 680}, {0.35, 0.35, 760}};
  PlateScene scene;
  for (const auto& t : tilts) {
    scene.truePoses.push_back(math::FTrans(0.03 * t[2] * t[1], -0.03 * t[2] * t[0], t[2]) * math::FRotX(t[0]) *
                              math::FRotY(t[1]) * math::FRotZ(0.1 * t[0]));
    scene.views.push_back(synthetic::Observe(truth, plate, sigma, rng, scene.truePoses.back()));
  }
  return scene;
}

// Plate poses from one coplanar calibration per view (camera = world).
std::vector<std::shared_ptr<math::Frame<double>>> StartPoses(const PlateScene& scene, std::uint32_t resX,
                                                             std::uint32_t resY) {
  std::vector<std::shared_ptr<math::Frame<double>>> poses;
  CalibrateTsai calib;
  for (const Observations& view : scene.views) {
    CameraModelTsai single;
    EXPECT_TRUE(calib.Calibrate(single, view.points3d, view.points2d, resX, resY, {}, true));
    poses.push_back(std::make_shared<math::Frame<double>>(single.GetFrame_cTw()));
  }
  return poses;
}

TEST(CameraModelOptimizer, RecoversIntrinsicsAndPlatePosesOCV) {
  CameraModelOCV truth;
  CameraModelOCVIntrinsics c;
  c.cx = 1003.7, c.cy = 571.2, c.f = 2500.0, c.k1 = -0.08, c.k2 = 0.05, c.p1 = 4e-4, c.p2 = -3e-4;
  truth.SetIntrinsics(c, 1920, 1200);
  for (const double sigma : {0.0, 0.1}) {
    const PlateScene scene = MakePlateScene(truth, sigma, 11);
    auto poses = StartPoses(scene, 1920, 1200);
    CameraModelOptimizer optimizer;
    for (std::size_t v = 0; v < poses.size(); ++v) {
      optimizer.AddObservations(0, optimizer.AddCoordinateSystem(poses[v], "tx ty tz rx ry rz"),
                                scene.views[v].points3d, scene.views[v].points2d);
    }
    auto model = std::make_shared<CameraModelOCV>();
    CameraModelOCVIntrinsics start;
    start.cx = 960.0, start.cy = 600.0, start.f = 2600.0;
    model->SetIntrinsics(start, 1920, 1200);
    testing::internal::CaptureStdout();
    const double rms = optimizer.OptimizeCameraModels(std::vector<std::shared_ptr<CameraModelOCV>>{model},
                                                      {ActiveParams("cx cy f k1 k2 k3 p1 p2").GetString()});
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_THAT(out, HasSubstr("errorFunc RMS: "));
    EXPECT_TRUE(optimizer.LastRunSucceeded());
    ASSERT_NE(model->GetUndistortionMap(), nullptr);  // rebuilt at the end
    const auto& m = model->GetIntrinsics();
    if (sigma == 0.0) {
      EXPECT_LT(rms, 1e-6);
      EXPECT_NEAR(m.f, c.f, 1e-6 * c.f);
      EXPECT_NEAR(m.k1, c.k1, 1e-5);  // k1, k2, k3 are strongly correlated
      for (std::size_t v = 0; v < poses.size(); ++v) {
        double angle = 0, dist = 0;
        synthetic::PoseDifference(scene.truePoses[v], *poses[v], angle, dist);
        EXPECT_LT(dist, 1e-5);
      }
    } else {
      EXPECT_NEAR(rms, sigma, 0.1 * sigma);
      EXPECT_NEAR(m.f, c.f, 1e-3 * c.f);
      // With p1, p2 free the principal point trades against the tangential
      // terms; six views of 187 points pin it to about a pixel.
      EXPECT_NEAR(m.cx, c.cx, 2.0);
      EXPECT_NEAR(m.cy, c.cy, 2.0);
    }
  }
}

TEST(CameraModelOptimizer, RemovesOutliersAndStaysAccurate) {
  CameraModelTsai truth;
  truth.SetResolution(1920, 1200);
  truth.SetIntrinsics(1003.7, 571.2, 2500.0, 1.0, -3e-9);
  const double sigma = 0.1;
  PlateScene scene = MakePlateScene(truth, sigma, 12);
  // Every 29th observation is displaced by 3 to 10 pixels.
  std::vector<std::vector<bool>> isOutlier;
  std::size_t numOutliers = 0;
  for (Observations& view : scene.views) {
    isOutlier.emplace_back(view.points2d.size(), false);
    for (std::size_t k = 5; k < view.points2d.size(); k += 29) {
      const double a = 0.7 * double(k);
      view.points2d[k] += math::Vec2d(std::cos(a), std::sin(a)) * (3.0 + double(k % 8));
      isOutlier.back()[k] = true;
      ++numOutliers;
    }
  }
  auto poses = StartPoses(scene, 1920, 1200);
  CameraModelOptimizer optimizer;
  for (std::size_t v = 0; v < poses.size(); ++v) {
    optimizer.AddObservations(0, optimizer.AddCoordinateSystem(poses[v], "tx ty tz rx ry rz"),
                              scene.views[v].points3d, scene.views[v].points2d);
  }
  auto model = std::make_shared<CameraModelTsai>();
  model->SetResolution(1920, 1200);
  model->SetIntrinsics(960.0, 600.0, 2600.0, 1.0, 0.0);
  double progress = -1.0;
  optimizer.SetProgressCallback([&](double f) {
    EXPECT_GE(f, progress);
    progress = f;
    return false;
  });
  testing::internal::CaptureStdout();
  const double rms =
      optimizer.OptimizeCameraModels(std::vector<std::shared_ptr<CameraModelTsai>>{model}, {"cx cy f kappa1"});
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(progress, 1.0);
  EXPECT_EQ(optimizer.GetNumOutliersRemoved(), numOutliers);
  ASSERT_EQ(optimizer.GetInlierMasks().size(), scene.views.size());
  for (std::size_t v = 0; v < scene.views.size(); ++v) {
    for (std::size_t k = 0; k < isOutlier[v].size(); ++k) EXPECT_EQ(optimizer.GetInlierMasks()[v][k], !isOutlier[v][k]);
  }
  EXPECT_NEAR(rms, sigma, 0.1 * sigma);
  EXPECT_NEAR(model->GetIntrinsics().f, 2500.0, 1e-3 * 2500.0);
  EXPECT_NEAR(model->GetIntrinsics().cx, 1003.7, 1.0);
  EXPECT_NEAR(model->GetIntrinsics().cy, 571.2, 1.0);
}

TEST(CameraModelOptimizer, StereoRigWithFixedAndPlacedCameras) {
  // Camera 0 is fixed at the world origin; camera 1 sits on a rig frame whose
  // pose is optimised; both see the same corner target, whose pose is fixed.
  CameraModelTsai truth0, truth1;
  truth0.SetResolution(1920, 1200);
  truth0.SetIntrinsics(960.0, 600.0, 2500.0, 1.0, 0.0);
  truth1 = truth0;
  truth0.SetFrame_wTc(synthetic::LookAt({430.0, -30.0, 460.0}, {150.0, 10.0, 140.0}, {0.0, 1.0, 0.0}, 0.0));
  const math::Frame<double> rigTrue =
      synthetic::LookAt({300.0, -30.0, 560.0}, {150.0, 10.0, 140.0}, {0.0, 1.0, 0.0}, 0.02);
  truth1.SetFrame_wTc(rigTrue);
  std::mt19937 rng(13);
  const auto target = synthetic::CornerGrid(9, 30.0, 20.0);
  const Observations obs0 = synthetic::Observe(truth0, target, 0.0, rng);
  const Observations obs1 = synthetic::Observe(truth1, target, 0.0, rng);

  auto rig = std::make_shared<math::Frame<double>>(rigTrue * math::FTrans(3.0, -2.0, 4.0) * math::FRotY(0.01));
  auto cam0 = std::make_shared<CameraModelTsai>(truth0);
  auto cam1 = std::make_shared<CameraModelTsai>(truth1);
  cam1->SetFrame_wTc({});  // rig_T_camera = identity
  CameraModelOptimizer optimizer;
  const std::size_t rigSystem = optimizer.AddCoordinateSystem(rig, "tx ty tz rx ry rz");
  optimizer.SetCameraCoordinateSystem(1, rigSystem);
  optimizer.AddObservations(0, 0, obs0.points3d, obs0.points2d);
  optimizer.AddObservations(1, 0, obs1.points3d, obs1.points2d);
  testing::internal::CaptureStdout();
  const double rms = optimizer.OptimizeCameraModels(std::vector<std::shared_ptr<CameraModelTsai>>{cam0, cam1},
                                                    {"", ""});
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2);
  EXPECT_EQ(out.rfind("errorFunc RMS: ", 0), 0u);
  EXPECT_LT(rms, 1e-6);
  EXPECT_EQ(cam0->GetFrame_wTc(), truth0.GetFrame_wTc());  // empty string: fixed
  double angle = 0, dist = 0;
  synthetic::PoseDifference(rigTrue, *rig, angle, dist);
  EXPECT_LT(dist, 1e-5);
  EXPECT_LT(angle, 1e-8);
}

TEST(CameraModelOptimizer, ArgumentErrorsThrow) {
  CameraModelOptimizer optimizer;
  auto model = std::make_shared<CameraModelTsai>();
  try {
    optimizer.OptimizeCameraModels(std::vector<std::shared_ptr<CameraModelTsai>>{model}, {});
    FAIL();
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "Error in OptimizeCameraModels - Sizes of cameraModels and sizeactiveParams not equal");
  }
  EXPECT_THROW(optimizer.AddObservations(0, 5, {}, {}), std::invalid_argument);
  EXPECT_THROW(optimizer.AddObservations(0, 0, {{1, 2, 3}}, {}), std::invalid_argument);
  EXPECT_THROW(optimizer.AddCoordinateSystem(nullptr), std::invalid_argument);
  optimizer.AddObservations(3, 0, {{1, 2, 3}}, {{4, 5}});
  EXPECT_THROW(optimizer.OptimizeCameraModels(std::vector<std::shared_ptr<CameraModelTsai>>{model}, {"f"}),
               std::invalid_argument);
  CameraModelOptimizer empty;
  EXPECT_EQ(empty.OptimizeCameraModels(std::vector<std::shared_ptr<CameraModelTsai>>{model}, {"f"}), 0.0);
}

}  // namespace
}  // namespace cam
