#include "scan/ProjectorCalibrator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>

#include "cam/CameraModelTsai.h"
#include "scan/HardwareSetupIO.h"
#include "scan/testing/ProjectorViews.h"

namespace scan {
namespace {

using ::testing::HasSubstr;

// The default rig's camera and projector before the 40 mm corner.
struct Corner {
  HardwareSetupIO truth;
  HardwareSetup station;
  std::shared_ptr<const cam::CameraModel> camera;
  const cam::CameraModelTsai* projector = nullptr;
  ProjectorCalibrationOptions options;

  Corner() {
    const auto file =
        std::filesystem::path(TARVELIN_SHARE_DIR) / "rigs" / "default" / "rig.tarvelinsetup";
    if (!LoadHardwareSetup(truth, file.string()))
      throw std::runtime_error("cannot read " + file.string());
    station.SetDefaultZentoCalibGrids(40.0);
    camera = truth.cameras.at(0).cameraModel;
    projector = dynamic_cast<const cam::CameraModelTsai*>(truth.projector.projectorModel.get());
    options.projectorWidth = std::uint32_t(truth.projector.extendedDisplay.resX);
    options.projectorHeight = std::uint32_t(truth.projector.extendedDisplay.resY);
    options.pixelStep = 6;  // 15 600 points instead of 20 000 of a finer grid: quicker
  }

  // Signed errors against the rig's projector: f (%), the principal point
  // (display pixels), the centre along and across the projector's axis (mm).
  struct Errors {
    double f, cx, cy, along, across;
  };
  Errors Compare(const cam::CameraModelTsai& estimate) const {
    const auto &e = estimate.GetIntrinsics(), &t = projector->GetIntrinsics();
    const math::Vec3d axis = projector->GetFrame_wTc().MultV(math::Vec3d{0.0, 0.0, 1.0});
    const math::Vec3d d = estimate.GetFrame_wTc().GetTrans() - projector->GetFrame_wTc().GetTrans();
    return {100.0 * (e.f - t.f) / t.f, (e.cx - t.cx) * options.projectorWidth,
            (e.cy - t.cy) * options.projectorHeight, math::Dot(d, axis),
            (d - axis * math::Dot(d, axis)).Length()};
  }
};

// Gaussian noise of sigma display pixels on every decoded pixel, and a
// fraction of the pixels with one wrong bit of the Gray code: 16·2^k
// display pixels off (k = 0 … 6) in either direction.
ProjectorView Disturb(const ProjectorView& exact, const ProjectorCalibrationOptions& o,
                      double sigma, double wrong, std::uint32_t seed) {
  ProjectorView view = exact;
  view.x = std::make_shared<img::UniImage<float>>(*exact.x);
  view.y = std::make_shared<img::UniImage<float>>(*exact.y);
  std::mt19937 random(seed);
  std::normal_distribution<double> noise(0.0, sigma);
  const double W = o.projectorWidth, H = o.projectorHeight;
  for (std::uint32_t y = 0; y < view.x->height; ++y) {
    for (std::uint32_t x = 0; x < view.x->width; ++x) {
      if ((*view.quality)(x, y) <= 0.0f) continue;
      double slip = 0.0;
      if (std::uniform_real_distribution<double>(0.0, 1.0)(random) < wrong)
        slip = (random() % 2 ? 16.0 : -16.0) * double(1u << (random() % 7));
      float& u = (random() % 2 ? *view.x : *view.y)(x, y);
      u += float(slip / W);
      (*view.x)(x, y) += float(noise(random) / W);
      (*view.y)(x, y) += float(noise(random) / H);
    }
  }
  return view;
}

TEST(ProjectorCalibrator, ExactCoordinatesGiveTheRigsProjector) {
  const Corner corner;
  const ProjectorView view =
      testing::MakeExactProjectorView(corner.camera, *corner.projector, corner.station);
  cam::CameraModelTsai model = *corner.projector;
  model.SetIntrinsics(0.4, 0.1, 1.3, 0.5, 0.0);  // nowhere near: the calibration starts on its own
  ProjectorCalibrator calibrator;
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(calibrator.CalibProjector(model, corner.station, {view}, corner.options));
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_THAT(out, HasSubstr("Angle between calibration panels: "));
  EXPECT_EQ(model.GetResX(), 1u);
  EXPECT_EQ(model.GetResY(), 1u);
  const auto e = corner.Compare(model);
  // The coordinates are floats (1e-4 display pixels) and the optimiser stops
  // short of the last digits: 1/40 of the goals' f and principal point.
  EXPECT_LT(std::abs(e.f), 0.005) << e.f;
  EXPECT_LT(std::abs(e.cx), 0.025);
  EXPECT_LT(std::abs(e.cy), 0.025);
  EXPECT_LT(std::abs(e.along), 0.025);
  EXPECT_LT(e.across, 0.01);
  EXPECT_LT(calibrator.GetRMS(), 0.005);
}

// Wrongly decoded pixels are far off the first fit, which they bent; judged
// only against that fit, the threshold also cuts through the good points
// where the fit is worst (2.5 % of them here), keeps one side of their
// noise and bends the refined projector in turn. Judged again against each
// refined model, only the wrong pixels and the noise's own tail go.
TEST(ProjectorCalibrator, WronglyDecodedPixelsAloneAreRemoved) {
  const Corner corner;
  const ProjectorView exact =
      testing::MakeExactProjectorView(corner.camera, *corner.projector, corner.station);
  for (std::uint32_t seed : {1u, 2u}) {
    SCOPED_TRACE(seed);
    cam::CameraModelTsai model = *corner.projector;
    ProjectorCalibrator calibrator;
    ::testing::internal::CaptureStdout();
    const bool ok = calibrator.CalibProjector(
        model, corner.station, {Disturb(exact, corner.options, 0.05, 0.003, seed)}, corner.options);
    const std::string out = ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(ok);
    const double total = double(calibrator.GetNumPoints() + calibrator.GetNumOutliers());
    EXPECT_THAT(
        out, HasSubstr(std::to_string(calibrator.GetNumOutliers()) + " outliers removed (total "));
    EXPECT_GT(double(calibrator.GetNumOutliers()), 0.002 * total);
    EXPECT_LT(double(calibrator.GetNumOutliers()), 0.01 * total);
    EXPECT_NEAR(calibrator.GetRMS(), 0.05 * std::sqrt(2.0), 0.01);
    const auto e = corner.Compare(model);
    EXPECT_LT(std::abs(e.f), 0.03);
    EXPECT_LT(std::abs(e.cx), 0.3);
    EXPECT_LT(std::abs(e.cy), 0.3);
    EXPECT_LT(std::abs(e.along), 0.1);
  }
}

TEST(ProjectorCalibrator, NothingDecodedFailsAndKeepsTheModel) {
  const Corner corner;
  ProjectorView view =
      testing::MakeExactProjectorView(corner.camera, *corner.projector, corner.station);
  view.quality = std::make_shared<img::UniImage<float>>(view.x->width, view.x->height);
  for (std::uint32_t y = 0; y < view.quality->height; ++y)
    for (std::uint32_t x = 0; x < view.quality->width; ++x) (*view.quality)(x, y) = 0.0f;
  cam::CameraModelTsai model = *corner.projector;
  model.SetIntrinsics(0.4, 0.1, 1.3, 0.5, 0.0);
  const cam::CameraModelTsai before = model;
  ProjectorCalibrator calibrator;
  for (const auto& views : {std::vector<ProjectorView>{}, std::vector<ProjectorView>{view}}) {
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(calibrator.CalibProjector(model, corner.station, views, corner.options));
    EXPECT_THAT(::testing::internal::GetCapturedStdout(),
                HasSubstr("Projector calibration failed!\n"));
    EXPECT_EQ(model.GetIntrinsics(), before.GetIntrinsics());
  }
  HardwareSetup noCorner;
  noCorner.SetCalibGrids({});
  const ProjectorView seen =
      testing::MakeExactProjectorView(corner.camera, *corner.projector, corner.station);
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(calibrator.CalibProjector(model, noCorner, {seen}, corner.options));
  EXPECT_THAT(::testing::internal::GetCapturedStdout(),
              HasSubstr("Projector calibration failed!\n"));
  EXPECT_EQ(model.GetIntrinsics(), before.GetIntrinsics());
}

}  // namespace
}  // namespace scan
