#include "scan/FlatPlateCalibration.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <pugixml.hpp>

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

}  // namespace
}  // namespace scan
