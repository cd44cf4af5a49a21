#include "scan/StructuredLightScanner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>

#include "cam/CameraModelTsai.h"
#include "scan/testing/CaptureRig.h"
#include "vid/ImageConversion.h"

namespace scan {
namespace {

using testing::LevelScan;
using testing::ManualCapture;
using testing::RecordingPatternDisplay;

std::shared_ptr<cam::CameraModelTsai> Tsai(double f, std::uint32_t w, std::uint32_t h) {
  auto model = std::make_shared<cam::CameraModelTsai>();
  model->SetIntrinsics(w / 2.0, h / 2.0, f, 1.0, 0.0);
  model->SetResolution(w, h);
  return model;
}

// A product with devices and descriptors of its own, counting the calls the
// base makes to its virtual operations.
class TestScanner : public StructuredLightScanner {
 public:
  TestScanner() : StructuredLightScanner(InitParams{"/tmp/logs", 30.0}) {}

  std::vector<vid::CameraInfo> GetSupportedCameras() const override { return descriptors; }
  std::vector<std::string> GetAvailableCameraNames() const override { return available; }
  bool CreateImageCapture(std::size_t index) override {
    ++createCalls;
    return false;
  }
  bool InitProjectorControl() override {
    ++initControlCalls;
    return StructuredLightScanner::InitProjectorControl();
  }
  void OnCaptureStateChanged(int state) override { states.push_back(state); }
  bool IsHighQualityTextureSupported() const override { return hqSupported; }

  std::vector<CameraSlot>& Cameras() { return m_cameras; }
  using StructuredLightScanner::GetLogFilePath;

  std::vector<vid::CameraInfo> descriptors;
  std::vector<std::string> available;
  int createCalls = 0;
  int initControlCalls = 0;
  std::vector<int> states;
  bool hqSupported = false;
};

vid::CameraInfo Descriptor(const std::string& name) {
  vid::CameraInfo info;
  info.source.name = name;
  return info;
}

template <typename E, typename F>
std::string Message(F f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "no exception";
}

TEST(StructuredLightScanner, FrameRateLimitIsNeverNegative) {
  StructuredLightScanner a(StructuredLightScanner::InitParams{"", -5.0});
  EXPECT_EQ(a.GetFrameRateLimit(), 0.0);
  a.SetFrameRateLimit(12.5);
  EXPECT_EQ(a.GetFrameRateLimit(), 12.5);
  a.SetFrameRateLimit(-1.0);
  EXPECT_EQ(a.GetFrameRateLimit(), 0.0);
  TestScanner b;
  EXPECT_EQ(b.GetFrameRateLimit(), 30.0);
  EXPECT_EQ(b.GetLogFilePath("cam.log"), "/tmp/logs/cam.log");
}

TEST(StructuredLightScanner, AddCameraReusesNamesAndCreatesCapturesOnlyWhenMissing) {
  TestScanner s;
  EXPECT_EQ(s.AddCamera("left", false), 0u);
  EXPECT_EQ(s.AddCamera("right", true), 1u);
  EXPECT_EQ(s.createCalls, 1);
  EXPECT_EQ(s.AddCamera("left", true), 0u);
  EXPECT_EQ(s.createCalls, 2);
  EXPECT_EQ(s.GetCameraCount(), 2u);
  s.SetImageCapture(std::make_shared<ManualCapture>("left"), 0);
  EXPECT_EQ(s.AddCamera("left", true), 0u);
  EXPECT_EQ(s.createCalls, 2);
  EXPECT_EQ(s.AddCamera("Left", false), 2u);  // names are case-sensitive
  EXPECT_EQ(s.GetCameraIndex("right"), 1u);
  EXPECT_FALSE(s.GetCameraIndex("middle"));
  s.RemoveCamera(0);
  EXPECT_EQ(s.GetCameraName(0), "right");
  EXPECT_THROW(s.GetCameraName(5), std::out_of_range);
  s.RemoveAllCameras();
  EXPECT_EQ(s.GetCameraCount(), 0u);
}

TEST(StructuredLightScanner, InvalidCameraIndicesThrowTheirMessages) {
  TestScanner s;
  s.AddCamera("only", false);
  const std::size_t bad = 1;
  img::UniImage<img::uint8> grey;
  img::UniImage<img::RGB8> color;
  const std::vector<std::pair<std::string, std::function<void()>>> cases = {
      {"RemoveCamera - Invalid camera index.", [&] { s.RemoveCamera(bad); }},
      {"SetImageCapture - Invalid camera index.", [&] { s.SetImageCapture(nullptr, bad); }},
      {"GetImageCapture - Invalid camera index.", [&] { s.GetImageCapture(bad); }},
      {"GetImageCaptureProperties - Invalid camera index.",
       [&] { s.GetImageCaptureProperties(bad); }},
      {"SetImageCapturePropertyValues - Invalid camera index.",
       [&] { s.SetImageCapturePropertyValues({}, bad); }},
      {"GetMeasuredFramerate - Invalid camera index.", [&] { s.GetMeasuredFramerate(bad); }},
      {"NextLiveImage - Invalid camera index.", [&] { s.NextLiveImage(grey, bad); }},
      {"GetImageRotation - Invalid camera index.", [&] { s.GetImageRotation(bad); }},
      {"SetImageRotation - Invalid camera index.", [&] { s.SetImageRotation(1, bad); }},
      {"SetContentChangeDetection - Invalid camera index.",
       [&] { s.SetContentChangeDetection(nullptr, bad); }},
      {"SetCameraModel - Invalid camera index.", [&] { s.SetCameraModel(nullptr, bad); }},
      {"GetCameraModel - Invalid camera index.", [&] { s.GetCameraModel(bad); }},
      {"GetEvaluationResult - Invalid camera index.", [&] { s.GetEvaluationResult(bad); }},
      {"GetWhiteBalanceFactors - cameraIndex is invalid.", [&] { s.GetWhiteBalanceFactors(bad); }},
      {"SetWhiteBalanceFactors - cameraIndex is invalid.",
       [&] { s.SetWhiteBalanceFactors(1, 1, 1, bad); }},
      {"SyncWithCalibrationArchive - cameraIndex is invalid.",
       [&] { s.SyncWithCalibrationArchive(bad); }},
      {"ReadWhiteBalanceFactorsFromArchive - cameraIndex is invalid.",
       [&] { s.ReadWhiteBalanceFactorsFromArchive(bad); }},
      {"GetTimeSinceLastNewImage - Invalid camera index.",
       [&] { s.GetTimeSinceLastNewImage(bad); }},
      {"NextLiveRGBImage - Invalid camera index.", [&] { s.NextLiveRGBImage(color, bad); }},
      {"GetFocalLengthRatio - Invalid camera index.", [&] { s.GetFocalLengthRatio(bad); }},
  };
  for (const auto& [text, call] : cases)
    EXPECT_EQ(Message<std::invalid_argument>(call), "StructuredLightScanner::" + text);
  EXPECT_EQ(s.GetCameraCount(), 1u);
}

TEST(StructuredLightScanner, CameraListCombinesCamerasDevicesAndDescriptors) {
  TestScanner s;
  s.available = {"USB Cam A", "USB Cam B", "Webcam"};
  s.AddCamera("USB Cam A", false);                                     // present, no capture: 2
  s.AddCamera("USB Cam C", false);                                     // missing, no capture: 1
  s.AddCamera("Other", false);                                         // not accepted
  s.SetImageCapture(std::make_shared<ManualCapture>("USB Cam D"), 1);  // open, gone: 4
  EXPECT_TRUE(s.GetCameraList().Empty());  // no descriptor accepts anything

  s.descriptors = {Descriptor("USB Cam")};
  CameraList list = s.GetCameraList();
  using St = CameraList::Status;
  EXPECT_EQ(list.Entries(), (std::map<std::string, St>{{"USB Cam A", St::Present},
                                                       {"USB Cam B", St::Available},
                                                       {"USB Cam D", St::Lost}}));
  s.available.push_back("USB Cam D");
  EXPECT_EQ(s.GetCameraList().Entries().at("USB Cam D"), St::Connected);
  s.SetImageCapture(nullptr, 1);
  EXPECT_EQ(s.GetCameraList().Entries().at("USB Cam D"), St::Present);

  s.descriptors.push_back(Descriptor(""));  // accepts every device
  list = s.GetCameraList();
  EXPECT_EQ(list.Entries().at("Other"), St::Missing);
  EXPECT_EQ(list.Entries().at("Webcam"), St::Available);
  EXPECT_EQ(list.GetCameraNames({St::Available}),
            (std::vector<std::string>{"USB Cam B", "Webcam"}));
  EXPECT_EQ(list.GetCameraNames().size(), 5u);
}

TEST(StructuredLightScanner, AttachingACaptureRestoresArchivedSettings) {
  TestScanner s;
  const std::size_t i = s.AddCamera("cam", false);
  auto model = Tsai(800, 640, 480);
  s.SetCameraModel(model, i);
  s.SetWhiteBalanceFactors(1.5, 1.0, 2.0, i);
  s.SetImageCapturePropertyValues({{"exposure", vid::Property(33.0)}}, i);  // archived
  s.RemoveCamera(i);

  const std::size_t j = s.AddCamera("placeholder", false);
  EXPECT_FALSE(s.GetCameraModel(j));
  auto capture = std::make_shared<ManualCapture>("cam");
  s.SetImageCapture(capture, j);
  EXPECT_EQ(s.GetCameraName(j), "cam");
  EXPECT_EQ(s.GetCameraModel(j), model);
  EXPECT_EQ(s.GetWhiteBalanceFactors(j), (WhiteBalanceFactors{1.5, 1.0, 2.0}));
  EXPECT_EQ(capture->GetProperty("exposure"), vid::Property(33.0));
  EXPECT_EQ(s.GetImageCaptureProperties(j).get(), capture.get());

  // With a capture, property values go to the device at once.
  s.SetImageCapturePropertyValues({{"gain", vid::Property(4.0)}}, j);
  EXPECT_EQ(capture->GetProperty("gain"), vid::Property(4.0));
}

TEST(StructuredLightScanner, DestructionGivesTheDevicesTheirDefaultsBack) {
  auto capture = std::make_shared<ManualCapture>("cam");
  {
    TestScanner s;
    s.SetImageCapture(capture, s.AddCamera("cam", false));
    s.SetImageCapturePropertyValues({{"exposure", vid::Property(99.0)}}, 0);
    EXPECT_EQ(capture->GetProperty("exposure"), vid::Property(99.0));
  }
  EXPECT_EQ(capture->GetProperty("exposure"), vid::Property(10.0));
}

TEST(StructuredLightScanner, ArchivesCheckTheirArguments) {
  TestScanner s;
  EXPECT_EQ(Message<std::invalid_argument>([&] { s.AddToCalibrationArchive(Tsai(1, 1, 1), ""); }),
            "StructuredLightScanner::AddToCalibrationArchive - name is empty.");
  EXPECT_THROW(s.AddToCalibrationArchive(nullptr, "cam"), std::invalid_argument);
  EXPECT_EQ(Message<std::invalid_argument>([&] { s.AddToWhiteBalanceArchive("", 1, 1, 1); }),
            "StructuredLightScanner::AddToWhiteBalanceArchive - name is empty.");

  // A name without factors gets 1, 1, 1, and the archive keeps that entry.
  s.AddToWhiteBalanceArchive("a", 2, 3, 4);
  const std::size_t i = s.AddCamera("b", false);
  s.SetWhiteBalanceFactors(5, 5, 5, i);
  s.Cameras()[i].name = "c";
  s.ReadWhiteBalanceFactorsFromArchive(i);
  EXPECT_EQ(s.GetWhiteBalanceFactors(i), WhiteBalanceFactors{});
  EXPECT_EQ(s.GetWhiteBalanceArchive().size(), 3u);

  // A name-less camera never touches the archives.
  const std::size_t k = s.AddCamera("", false);
  s.SetCameraModel(Tsai(1, 1, 1), k);
  s.SetWhiteBalanceFactors(7, 7, 7, k);
  EXPECT_TRUE(s.GetCalibrationArchive().empty());
  EXPECT_EQ(s.GetWhiteBalanceArchive().size(), 3u);
}

TEST(StructuredLightScanner, ProjectorDisplayAndControl) {
  TestScanner s;
  auto first = std::make_shared<SLCallbackPatternDisplay>(nullptr, nullptr);
  auto second = std::make_shared<SLCallbackPatternDisplay>(nullptr, nullptr);
  s.SetProjector("beamer", first);
  EXPECT_EQ(s.GetPatternDisplay(), first);
  EXPECT_EQ(s.initControlCalls, 1);
  s.SetProjector("beamer", second);  // same name: the display stays
  EXPECT_EQ(s.GetPatternDisplay(), first);
  s.SetProjectorControl(std::make_shared<ProjectorControl>());
  s.SetProjector("", second);
  EXPECT_EQ(s.GetPatternDisplay(), second);
  EXPECT_FALSE(s.GetProjectorControl());
  EXPECT_EQ(s.initControlCalls, 2);
}

TEST(StructuredLightScanner, CallbackDisplayShowsTheFirstPatternOnly) {
  std::vector<SLPatternPtr> shown;
  SLCallbackPatternDisplay display([&](const SLPatternPtr& p) { shown.push_back(p); },
                                   [] { return true; });
  LevelScan scan(3, 10, 10);
  EXPECT_EQ(display.DisplayPatterns({}, scan.AllPatterns()), std::vector<double>{0.0});
  EXPECT_EQ(shown, std::vector<SLPatternPtr>{scan.PatternAtIndex(0)});
  EXPECT_TRUE(display.DisplayPatterns({}, {}).empty());
  EXPECT_TRUE(display.DisplaySetupPattern());
  SLCallbackPatternDisplay empty(nullptr, nullptr);
  EXPECT_TRUE(empty.DisplayPatterns({}, scan.AllPatterns()).empty());
  EXPECT_FALSE(empty.DisplaySetupPattern());
}

TEST(StructuredLightScanner, TextureModeCalibrationColourAndFocalLength) {
  TestScanner s;
  s.SetTextureCaptureMode(2);
  EXPECT_EQ(s.GetTextureCaptureMode(), 1);
  s.hqSupported = true;
  s.SetTextureCaptureMode(2);
  EXPECT_EQ(s.GetTextureCaptureMode(), 2);

  EXPECT_TRUE(s.IsColorCaptureSupported());  // no cameras
  const std::size_t i = s.AddCamera("cam", false);
  EXPECT_FALSE(s.IsColorCaptureSupported());
  s.SetImageCapture(
      std::make_shared<ManualCapture>("cam", vid::Format{vid::subtype::RGB24, 8, 6, 30.0}), i);
  EXPECT_TRUE(s.IsColorCaptureSupported());
  s.SetImageCapture(std::make_shared<ManualCapture>("cam"), i);  // Y800
  EXPECT_FALSE(s.IsColorCaptureSupported());

  EXPECT_FALSE(s.IsCalibrated());
  EXPECT_EQ(s.GetFocalLengthRatio(i), 0.0);
  s.SetCameraModel(Tsai(800, 640, 480), i);
  EXPECT_DOUBLE_EQ(s.GetFocalLengthRatio(i), 800.0 / 640.0);
  s.SetProjector("p", std::make_shared<SLCallbackPatternDisplay>(nullptr, nullptr));
  EXPECT_FALSE(s.IsCalibrated());
  s.SetProjectorModel(Tsai(0, 1, 1));  // f = 0 is not a valid model
  EXPECT_FALSE(s.IsCalibrated());
  s.SetProjectorModel(Tsai(2, 1, 1));
  EXPECT_TRUE(s.IsCalibrated());
}

// --- Capture preconditions (the threaded captures are in PatternCapture_test) ---

TEST(StructuredLightScanner, CaptureNeedsScanDisplayAndACaptureOnEveryCamera) {
  TestScanner s;
  const std::string prefix = "StructuredLightScanner::CapturePatternSequence - ";
  EXPECT_EQ(Message<std::logic_error>([&] { s.CapturePatternSequence({}); }),
            prefix + "scan object is not set.");
  auto scan = std::make_shared<LevelScan>(3, 10, 40);
  s.SetSLScan(scan);
  EXPECT_EQ(Message<std::logic_error>([&] { s.CapturePatternSequence({}); }),
            prefix + "Pattern display is not set.");
  auto display = std::make_shared<RecordingPatternDisplay>(
      [&](const SLPatternPtr& p) { return scan->LevelOf(p); }, 250);
  s.SetProjector("p", display);
  EXPECT_EQ(Message<std::logic_error>([&] { s.CapturePatternSequence({}); }),
            prefix + "No camera has been added.");
  auto capture = std::make_shared<ManualCapture>("a");
  s.SetImageCapture(capture, s.AddCamera("a", false));
  s.AddCamera("b", false);
  EXPECT_EQ(Message<std::logic_error>([&] { s.CapturePatternSequence({}); }),
            prefix + "Camera 1 (\"b\") has no image capture.");
  EXPECT_EQ(capture->GetStartCount(), 0);
  EXPECT_TRUE(s.states.empty());
  EXPECT_TRUE(display->History().empty());
}

TEST(StructuredLightScanner, CaptureCancelledAtZeroDoesNothing) {
  TestScanner s;
  auto scan = std::make_shared<LevelScan>(3, 10, 40);
  s.SetSLScan(scan);
  auto display = std::make_shared<RecordingPatternDisplay>(
      [&](const SLPatternPtr& p) { return scan->LevelOf(p); }, 250);
  s.SetProjector("p", display);
  auto capture = std::make_shared<ManualCapture>("a");
  s.SetImageCapture(capture, s.AddCamera("a", false));
  auto old = std::make_shared<SLScannedImagesStore>();
  s.Cameras()[0].scannedImages = old;
  std::vector<double> calls;
  s.CapturePatternSequence([&](double f) {
    calls.push_back(f);
    return true;
  });
  EXPECT_EQ(calls, std::vector<double>{0.0});
  EXPECT_TRUE(s.states.empty());
  EXPECT_EQ(capture->GetStartCount(), 0);
  EXPECT_TRUE(display->History().empty());
  EXPECT_EQ(s.GetScannedImages(0), old);
}

TEST(StructuredLightScanner, DisplayFailureDetachesTheCapturesAndPassesThrough) {
  TestScanner s;
  auto scan = std::make_shared<LevelScan>(3, 10, 40);
  s.SetSLScan(scan);
  s.SetProjector("p", std::make_shared<SLCallbackPatternDisplay>(
                          [](const SLPatternPtr&) { throw std::runtime_error("no screen"); },
                          [] { return true; }));
  auto capture = std::make_shared<ManualCapture>("a");
  s.SetImageCapture(capture, s.AddCamera("a", false));
  EXPECT_EQ(Message<std::runtime_error>([&] { s.CapturePatternSequence({}); }), "no screen");
  EXPECT_FALSE(capture->IsCapturing());
  EXPECT_EQ(s.states, std::vector<int>{1});  // the finish step did not run
}

// --- Evaluation ---

img::UniImagePtr<float> Row(std::vector<float> values) {
  auto image = std::make_shared<img::UniImage<float>>(static_cast<std::uint32_t>(values.size()), 1);
  std::copy(values.begin(), values.end(), image->data);
  return image;
}

TEST(StructuredLightScanner, EvaluationClampsQualityNearTheProjectorBorders) {
  TestScanner s;
  auto scan = std::make_shared<LevelScan>(2, 10, 40);
  s.SetSLScan(scan);
  s.AddCamera("a", false);
  s.Cameras()[0].scannedImages = std::make_shared<SLScannedImagesStore>();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  scan->evaluate = [&](const SLScannedImagesStore&, const utils::ProgressCallback&) {
    auto result = std::make_shared<SLScanEvaluationResult>();
    result->SetCorrespondencesX(Row({0.0099f, 0.01f, 0.5f, 0.99f, 0.9901f, nan, 0.0f, 0.5f}));
    result->SetCorrespondencesY(Row({0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 1.0f}));
    result->SetQuality(Row({0.8f, 0.8f, 0.8f, 0.8f, 0.8f, 0.8f, 0.0005f, 0.8f}));
    return result;
  };
  EXPECT_TRUE(s.EvaluatePatternSequence({}));
  auto result = s.GetEvaluationResult(0);
  ASSERT_TRUE(result);
  const std::vector<float> expected{0.001f, 0.8f, 0.8f, 0.8f, 0.001f, 0.8f, 0.0005f, 0.001f};
  for (std::size_t x = 0; x < expected.size(); ++x)
    EXPECT_EQ((*result->Quality())(static_cast<std::uint32_t>(x), 0), expected[x]) << x;
  EXPECT_FALSE(s.GetScannedImages(0));  // the frames are freed
}

TEST(StructuredLightScanner, EvaluationVisitsEveryCameraAndMapsProgress) {
  TestScanner s;
  auto scan = std::make_shared<LevelScan>(2, 10, 40);
  s.SetSLScan(scan);
  for (const char* name : {"a", "b", "c", "d"}) s.AddCamera(name, false);
  auto& cams = s.Cameras();
  cams[0].scannedImages = std::make_shared<SLScannedImagesStore>();
  cams[1].scannedImages = std::make_shared<SLScannedImagesStore>();  // yields no correspondences
  cams[3].scannedImages = std::make_shared<SLScannedImagesStore>();  // camera 2 has no frames
  cams[2].evaluationResult = std::make_shared<SLScanEvaluationResult>();
  const SLScannedImagesStore* withoutResult = cams[1].scannedImages.get();
  std::vector<const SLScannedImagesStore*> evaluated;
  scan->evaluate = [&](const SLScannedImagesStore& store, const utils::ProgressCallback& progress) {
    evaluated.push_back(&store);
    if (progress) progress(0.5);
    auto result = std::make_shared<SLScanEvaluationResult>();
    if (&store != withoutResult) result->SetCorrespondencesY(Row({0.5f}));
    return result;
  };
  std::vector<double> reported;
  EXPECT_FALSE(s.EvaluatePatternSequence([&](double f) {
    reported.push_back(f);
    return f > 0.3;  // asks to cancel from the second camera on: all are evaluated anyway
  }));
  EXPECT_EQ(evaluated.size(), 3u);
  // Camera 2 has no frames and reports nothing.
  const std::vector<double> expected{0.0, 0.125, 0.25, 0.375, 0.5, 0.875, 1.0};
  ASSERT_EQ(reported.size(), expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k) EXPECT_DOUBLE_EQ(reported[k], expected[k]);
  EXPECT_TRUE(s.GetEvaluationResult(0));
  EXPECT_FALSE(s.GetEvaluationResult(1));
  EXPECT_TRUE(s.GetScannedImages(1));      // kept: no result
  EXPECT_FALSE(s.GetEvaluationResult(2));  // released, nothing to evaluate
  EXPECT_TRUE(s.GetEvaluationResult(3));

  // Cancelled at 0.0: nothing is evaluated. Without a scan: a logic error.
  evaluated.clear();
  EXPECT_FALSE(s.EvaluatePatternSequence([](double) { return true; }));
  EXPECT_TRUE(evaluated.empty());
  s.SetSLScan(nullptr);
  EXPECT_EQ(Message<std::logic_error>([&] { s.EvaluatePatternSequence({}); }),
            "StructuredLightScanner::EvaluatePatternSequence - scan object is not set.");
  // No capture before: no stores, true, no results.
  TestScanner fresh;
  fresh.SetSLScan(scan);
  fresh.AddCamera("a", false);
  EXPECT_TRUE(fresh.EvaluatePatternSequence({}));
  EXPECT_FALSE(fresh.GetEvaluationResult(0));
}

// --- Extended-view distance ---

// Points of the plane z = depth (projector frame) over x0…x1, −100…100 mm.
std::vector<math::Vec3d> Plane(double depth, double x0, double x1, const math::Frame<double>& wTp) {
  std::vector<math::Vec3d> points;
  for (double y = -100; y <= 100; y += 2)
    for (double x = x0; x <= x1; x += 2) points.push_back(wTp.MultP(math::Vec3d{x, y, depth}));
  return points;
}

TEST(StructuredLightScanner, ExtendedViewDistanceIsTheMedianDepthDifference) {
  TestScanner s;
  EXPECT_THROW(s.CheckExtendedViewScanDistance({}, {}, 1.0), std::logic_error);
  // A 1500 × 900 projector (a 100 × 60 grid of cells) placed away from the
  // world origin, so that the points must be taken into its frame.
  auto projector = Tsai(1500, 1500, 900);
  const math::Frame<double> wTp = math::FTrans(30.0, -20.0, -500.0);
  projector->SetFrame_wTc(wTp);
  s.SetProjectorModel(projector);

  const auto a = Plane(1000.0, -200, 200, wTp);
  const auto b = Plane(1002.0, -200, 200, wTp);
  EXPECT_TRUE(s.CheckExtendedViewScanDistance(a, b, 2.5));
  EXPECT_FALSE(s.CheckExtendedViewScanDistance(a, b, 1.5));
  EXPECT_TRUE(s.CheckExtendedViewScanDistance(a, a, 0.0));
  // Disjoint halves: no cell is seen by both, so the scans pass.
  EXPECT_TRUE(s.CheckExtendedViewScanDistance(Plane(1000.0, -200, -60, wTp),
                                              Plane(1500.0, 60, 200, wTp), 0.0));
  // A normalised projector model needs the display size.
  auto unit = std::make_shared<cam::CameraModelTsai>();
  unit->SetIntrinsics(0.5, 0.5, 1.0, 1.0, 0.0);
  unit->SetResolution(1, 1);
  unit->SetFrame_wTc(wTp);
  s.SetProjectorModel(unit);
  EXPECT_THROW(s.CheckExtendedViewScanDistance(a, b, 2.5), std::logic_error);
  EXPECT_TRUE(s.CheckExtendedViewScanDistance(a, b, 2.5, 1500, 900));
  EXPECT_FALSE(s.CheckExtendedViewScanDistance(a, b, 1.5, 1500, 900));
}

TEST(StructuredLightScanner, DepthPixelsAreSampledOnEveryFourthColumnAndThirdRow) {
  std::vector<std::pair<int, int>> visited;
  const auto points = StructuredLightScanner::SampleDepthPixels(
      9, 7, [&](std::uint32_t x, std::uint32_t y, math::Vec3d& p) {
        visited.emplace_back(x, y);
        p = math::Vec3d{double(x), double(y), 1.0};
        return x != 4;  // a column without depth
      });
  EXPECT_EQ(visited.size(), 9u);
  ASSERT_EQ(points.size(), 6u);
  EXPECT_EQ(points[1][0], 8.0);
  EXPECT_EQ(points[5][1], 6.0);
}

// --- Live preview ---

TEST(StructuredLightScanner, LivePreviewStartsOnDemandAndDeliversTheNewestFrame) {
  TestScanner s;
  img::UniImage<img::uint8> grey;
  img::UniImage<img::RGB8> color;
  const std::size_t i = s.AddCamera("cam", false);
  EXPECT_FALSE(s.NextLiveImage(grey, i));  // no capture
  // 48 × 40: large enough for the content-change test to have samples.
  auto capture =
      std::make_shared<ManualCapture>("cam", vid::Format{vid::subtype::Y800, 48, 40, 30.0});
  s.SetImageCapture(capture, i);
  EXPECT_FALSE(s.NextLiveImage(grey, i));  // starts the preview; nothing yet
  EXPECT_TRUE(capture->IsCapturing());
  auto detector = std::make_shared<vid::ContentChangeDetection>(false, 100.0, 0);
  s.SetContentChangeDetection(detector, i);
  capture->Deliver(40);
  capture->Deliver(200);  // the queue keeps only the newest
  EXPECT_TRUE(detector->HasContentChanged());
  ASSERT_TRUE(s.NextLiveImage(grey, i));
  EXPECT_EQ(grey.width, 48u);
  EXPECT_EQ(grey(47, 39), 200);
  EXPECT_FALSE(s.NextLiveImage(grey, i));
  s.SetImageRotation(vid::kRotationRight, i);
  capture->Deliver(90);
  ASSERT_TRUE(s.NextLiveRGBImage(color, i));
  EXPECT_EQ(color.width, 40u);
  EXPECT_EQ(color(39, 47), (img::RGB8{90, 90, 90}));
  EXPECT_EQ(capture->GetStartCount(), 1);

  s.StopLiveImageCapture();
  EXPECT_FALSE(capture->IsCapturing());
  capture->SetReady(false);
  EXPECT_FALSE(s.NextLiveImage(grey, i));
  EXPECT_FALSE(s.Cameras()[i].liveQueue);
}

}  // namespace
}  // namespace scan
