#include "scan/FlatPlateCalibration.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <pugixml.hpp>
#include <random>

#include "scan/HardwareSetup.h"

namespace scan {
namespace {

using ::testing::HasSubstr;

// A 6 × 5 grid whose marker cell sits at its first node.
cam::FlatPlateCalibrationTarget SmallTarget() {
  return MakeGridTarget("small", 6, 5, 10.0, 5.0, 8.0, 0, 0);
}

TEST(FlatPlateCalibration, InitIntrinsicsApproximately) {
  cam::CameraModelOCV model;
  FlatPlateCalibration::InitIntrinsicsApproximately(model, 1.5, 1281, 961);
  const auto& i = model.GetIntrinsics();
  EXPECT_EQ(i.cx, 640.0);  // integer division
  EXPECT_EQ(i.cy, 480.0);
  EXPECT_EQ(i.f, 1281 * 1.5);
  EXPECT_EQ(i.sx, 1.0);
  EXPECT_FALSE(i.HasDistortion());
  EXPECT_EQ(model.GetResX(), 1281u);
  EXPECT_EQ(model.GetResY(), 961u);
}

TEST(FlatPlateCalibration, GridsBelowTwoByTwoThrow) {
  cam::FlatPlateCalibrationTarget line = MakeGridTarget("line", 6, 1, 10.0, 5.0, 8.0, 0, 0);
  try {
    FlatPlateCalibration calibration(line);
    FAIL() << "a one-row grid was accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "EllipseGridMapping - gridWidth and gridHeight must be >= 2");
  }
}

TEST(FlatPlateCalibration, ViewWithoutTheFirstCameraIsSkipped) {
  FlatPlateCalibration calibration(SmallTarget());
  img::GreyImage second(64, 48);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(calibration.AddMultiView({img::GreyImage(), second}));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Warning - Could not add multi camera view since first camera is missing.\n");
  EXPECT_TRUE(calibration.GetMultiViews().empty());
  // Too few views: nothing is calibrated, the model stays.
  auto model = std::make_shared<cam::CameraModelOCV>();
  FlatPlateCalibration::InitIntrinsicsApproximately(*model, 1.0, 64, 48);
  const auto before = model->GetIntrinsics();
  EXPECT_FALSE(calibration.CalibrateCameraModels({model}));
  EXPECT_EQ(model->GetIntrinsics(), before);
}

TEST(FlatPlateCalibration, ResultFileOfOneCameraHasEveryElement) {
  // The marks start at grid index (2, 3): the grid origin.
  cam::FlatPlateCalibrationTarget target;
  const cam::FlatPlateCalibrationTarget small = SmallTarget();
  target = small;
  target.markers.clear();
  for (const auto& [node, marker] : small.markers)
    target.markers[{node[0] + 2, node[1] + 3}] = marker;
  FlatPlateCalibration calibration(target);
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(calibration.ToXml().c_str()));
  EXPECT_TRUE(doc.child("flatPlateCalibration"));
  const pugi::xml_node grid = doc.child("gridInfo");
  EXPECT_EQ(grid.attribute("gridCountX").as_int(), 6);
  EXPECT_EQ(grid.attribute("gridCountY").as_int(), 5);
  EXPECT_EQ(grid.attribute("gridOriginX").as_int(), 2);
  EXPECT_EQ(grid.attribute("gridOriginY").as_int(), 3);
  EXPECT_EQ(grid.attribute("gridSpacing_mm").as_double(), 10.0);
  const pugi::xml_node info = doc.child("calibrationInfo");
  EXPECT_TRUE(info.attribute("rmsError"));
  EXPECT_TRUE(info.attribute("stereoBaseline"));
  EXPECT_TRUE(info.attribute("stereoAngle"));
  EXPECT_TRUE(info.attribute("activeParams"));
  EXPECT_FALSE(calibration.DumpToFile("/proc/no/such/FlatPlateCalibration.xml"));
}

// Views of the shipped plate's grid (16 × 11 marks, 15 mm) measured
// elsewhere: the exact images of the marks' centres through a Tsai camera at
// the world origin (1280 × 960, f 2200 px, kappa1 −2e-9 px⁻², principal
// point off the image centre), the plate 620 mm away, tilted 20…50° about
// axes 45° apart, plus Gaussian noise of `sigma` pixels per coordinate.
struct MeasuredViews {
  cam::CameraModelTsai camera;
  cam::FlatPlateCalibrationTarget target = MakeGridTarget("plate", 16, 11, 15.0, 8.0, 12.0, 7, 5);
  std::vector<FlatPlateCalibration::MultiView> views;

  MeasuredViews(int count, double sigma, std::uint32_t seed) {
    camera.SetIntrinsics(641.3, 478.6, 2200.0, 1.0, -2e-9);
    camera.SetResolution(1280, 960);
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, sigma);
    constexpr double kDeg = std::numbers::pi / 180.0;
    for (int v = 0; v < count; ++v) {
      const double tilt = (20.0 + 10.0 * (v % 4)) * kDeg, axis = 45.0 * v * kDeg;
      const math::Frame<double> world_T_plate =
          math::FTrans(0.0, 0.0, 620.0) *
          math::FRotAxis(math::Vec3d{std::cos(axis), std::sin(axis), 0.0}, tilt) *
          math::FRotZ((v % 2 ? -10.0 : 10.0) * kDeg) * math::FTrans(-112.5, -75.0, 0.0);
      FlatPlateCalibration::MultiView view;
      view.cameraViews.resize(1);
      for (const auto& [node, marker] : target.markers) {
        FlatPlateCalibration::Marker m;
        m.gridIndex = node;
        m.center = marker.center;
        if (!camera.CameraPointToPixel(m.image, world_T_plate * m.center)) continue;
        m.image = m.image + math::Vec2d{noise(random), noise(random)};
        view.cameraViews[0].markers.push_back(m);
      }
      views.push_back(std::move(view));
    }
  }
};

TEST(FlatPlateCalibration, MeasuredViewsGiveTheTrueCamera) {
  // Exact centres: what is left is the OCV model's fit of a one-term Tsai
  // lens and the optimiser's convergence; noisy centres (0.01 px, the
  // detector's noise on the rig) stay within the accuracy goals.
  for (const double sigma : {0.0, 0.01}) {
    SCOPED_TRACE(sigma);
    MeasuredViews measured(8, sigma, 7);
    FlatPlateCalibration calibration(measured.target);
    for (const auto& v : measured.views) ASSERT_TRUE(calibration.AddMultiView(v));
    auto model = std::make_shared<cam::CameraModelOCV>();
    model->SetResolution(1280, 960);
    ASSERT_TRUE(calibration.CalibrateCameraModels({model}));
    const auto& i = model->GetIntrinsics();
    EXPECT_NEAR(i.f, 2200.0, sigma > 0.0 ? 2200.0 * 0.0005 : 0.01);
    EXPECT_NEAR(i.cx, 641.3, sigma > 0.0 ? 0.5 : 0.005);
    EXPECT_NEAR(i.cy, 478.6, sigma > 0.0 ? 0.5 : 0.005);
    EXPECT_LT(calibration.GetErrorRMS(), sigma > 0.0 ? 2.0 * sigma : 1e-4);
  }
}

TEST(FlatPlateCalibration, MeasuredViewWithoutTheFirstCameraIsRefused) {
  MeasuredViews measured(1, 0.0, 1);
  FlatPlateCalibration calibration(measured.target);
  FlatPlateCalibration::MultiView second = measured.views[0];
  second.cameraViews[0].cameraIndex = 1;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(calibration.AddMultiView(second));
  EXPECT_FALSE(calibration.AddMultiView(FlatPlateCalibration::MultiView{}));
  EXPECT_THAT(testing::internal::GetCapturedStdout(), HasSubstr("first camera is missing"));
  EXPECT_TRUE(calibration.GetMultiViews().empty());
}

}  // namespace
}  // namespace scan
