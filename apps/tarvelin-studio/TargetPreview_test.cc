// The calibration page's picture of the target: the detector's findings
// drawn over a rendered picture of the rig's corner, advice for pictures in
// which nothing can be found, and the worker that takes the picture.
#include "apps/tarvelin-studio/TargetPreview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "scan/HardwareSetup.h"
#include "shell/RigCalibrationStation.h"
#include "sim/RigSetup.h"
#include "sim/TargetShot.h"
#include "sim/VirtualRig.h"

namespace studio {
namespace {

struct Corner {
  img::GreyImage picture;
  std::vector<CamCalib::CalibGrid> grids;
};

const Corner& RigCorner() {
  static const Corner corner = [] {
    Corner c;
    scan::HardwareSetupIO truth;
    sim::SceneDescription description;
    std::string error;
    EXPECT_TRUE(sim::LoadRigFolder(sim::ResolveRigFolder("default"), truth, description, error))
        << error;
    scan::HardwareSetup panels;
    panels.SetDefaultZentoCalibGrids(sim::CornerScale(truth));
    c.grids = panels.GetCalibGrids();
    shell::RigCalibrationStation station(truth, description);
    EXPECT_TRUE(station.GrabCameraImage(0, c.picture, error)) << error;
    return c;
  }();
  return corner;
}

const Texts& English() {
  static const Texts texts(&ShippedEnglish());
  return texts;
}

img::GreyImage Flat(const img::GreyImage& like, std::uint8_t value) {
  img::GreyImage flat(like.width, like.height);
  std::fill_n(flat.GetImagePtr(), std::size_t(like.width) * like.height, value);
  return flat;
}

TEST(DetectTargets, FindsBothPanelsOfTheRigsCornerAndMarksTheirPoints) {
  const Corner& corner = RigCorner();
  ASSERT_EQ(corner.grids.size(), 2u);
  const TargetDetection d = DetectTargets(corner.picture, corner.grids, English());
  ASSERT_TRUE(d.complete) << d.summary;
  EXPECT_EQ(d.width, int(corner.picture.width));
  ASSERT_EQ(d.rgba.size(), std::size_t(d.width) * std::size_t(d.height) * 4);
  ASSERT_EQ(d.gridPoints.size(), 2u);
  for (std::size_t g = 0; g < 2; ++g) {
    const std::size_t nodes = std::size_t(corner.grids[g].countX * corner.grids[g].countY);
    EXPECT_GT(d.gridPoints[g], nodes / 2) << "grid " << g;
    EXPECT_LE(d.gridPoints[g], nodes);
  }
  EXPECT_GE(d.ellipses, d.gridPoints[0] + d.gridPoints[1]);
  EXPECT_NE(d.summary.find("ready to calibrate"), std::string::npos) << d.summary;
  // The marks are coloured: some pixels are green (first panel) and some
  // cyan (second), none of which a grey picture has.
  std::size_t green = 0, cyan = 0;
  for (std::size_t i = 0; i < d.rgba.size(); i += 4) {
    green += d.rgba[i] == 40 && d.rgba[i + 1] == 230 && d.rgba[i + 2] == 60;
    cyan += d.rgba[i] == 0 && d.rgba[i + 1] == 220 && d.rgba[i + 2] == 240;
  }
  EXPECT_GE(green, d.gridPoints[0]);
  EXPECT_GE(cyan, d.gridPoints[1]);
}

TEST(DetectTargets, SaysWhatToChangeWhenNothingIsFound) {
  const Corner& corner = RigCorner();
  const auto advice = [&](const img::GreyImage& picture) {
    const TargetDetection d = DetectTargets(picture, corner.grids, English());
    EXPECT_FALSE(d.complete);
    EXPECT_EQ(d.gridPoints, (std::vector<std::size_t>{0, 0}));
    return d.summary;
  };
  EXPECT_NE(advice(Flat(corner.picture, 255)).find("Target overexposed: lower the exposure"),
            std::string::npos);
  EXPECT_NE(advice(Flat(corner.picture, 20)).find("Target too dark: raise the exposure"),
            std::string::npos);
  EXPECT_NE(advice(Flat(corner.picture, 128)).find("Few target marks found"), std::string::npos);

  // The corner with its right half covered: one panel is found, the other
  // is named as missing.
  img::GreyImage half = corner.picture;
  for (std::uint32_t y = 0; y < half.height; ++y)
    std::fill_n(half.GetImagePtr() + std::size_t(y) * half.width + half.width / 2,
                half.width - half.width / 2, std::uint8_t(128));
  const TargetDetection d = DetectTargets(half, corner.grids, English());
  EXPECT_FALSE(d.complete);
  EXPECT_EQ(std::count(d.gridPoints.begin(), d.gridPoints.end(), 0u), 1) << d.summary;
  EXPECT_NE(d.summary.find("make each whole panel"), std::string::npos) << d.summary;
}

// A station whose picture waits for the test's go, or fails.
class GatedStation : public shell::ICalibrationStation {
 public:
  std::size_t GetCameraCount() const override { return 1; }
  bool GrabCameraImage(std::size_t camera, img::GreyImage& image, std::string& error) override {
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [&] { return m_go; });
    if (camera > 0) {
      error = "camera 1 sent no image";
      return false;
    }
    image = Flat(RigCorner().picture, 128);
    return true;
  }
  std::vector<scan::SLScanEvaluationResultPtr> ScanPanels(const std::atomic<bool>&,
                                                          std::string&) override {
    return {};
  }
  void Go() {
    std::lock_guard lock(m_mutex);
    m_go = true;
    m_cv.notify_all();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_go = false;
};

TEST(TargetPreview, OnePictureAtATimeAndTheCamerasFailureInTheSummary) {
  GatedStation station;
  TargetPreview preview;
  EXPECT_FALSE(preview.TakeResult().has_value());
  ASSERT_TRUE(preview.Start(station, 0, RigCorner().grids, English()));
  EXPECT_TRUE(preview.IsBusy());
  EXPECT_FALSE(preview.Start(station, 0, RigCorner().grids, English()));
  EXPECT_FALSE(preview.TakeResult().has_value());
  station.Go();
  preview.Wait();
  std::optional<TargetDetection> result = preview.TakeResult();
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->width, int(RigCorner().picture.width));
  EXPECT_FALSE(preview.TakeResult().has_value());  // taken once

  ASSERT_TRUE(preview.Start(station, 1, RigCorner().grids, English()));
  preview.Wait();
  result = preview.TakeResult();
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->width, 0);
  EXPECT_EQ(result->summary, "No picture from camera 2: camera 1 sent no image");
}

}  // namespace
}  // namespace studio
