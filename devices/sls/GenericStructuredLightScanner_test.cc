#include "devices/sls/GenericStructuredLightScanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "devices/sls/ProductTables.h"
#include "foundation/utils/testing/TemporaryFolder.h"
#include "vid/MediaType.h"
#include "vid/testing/ReplayV4l2Device.h"

namespace sls {
namespace {

using vid::Format;
using vid::testing::ReplayDescriptor;
using vid::testing::ReplayV4l2Bus;
namespace subtype = vid::subtype;

std::vector<std::string> Names(const std::vector<vid::CameraInfo>& cameras) {
  std::vector<std::string> names;
  for (const auto& c : cameras) names.push_back(c.source.name);
  return names;
}

std::size_t Count(const std::string& text, const std::string& line) {
  std::size_t n = 0;
  for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
  return n;
}

// The kits' tables, written out from the product sheet by hand.
TEST(ProductTables, CamerasAndProjectorsOfEachKit) {
  using Cameras = std::vector<std::string>;
  EXPECT_TRUE(SupportedCameras("None").empty());
  EXPECT_TRUE(SupportedProjectors("None").empty());
  EXPECT_EQ(Names(SupportedCameras("ScannerModelA")), (Cameras{"CameraModelA", "CameraModelB"}));
  EXPECT_EQ(Names(SupportedCameras("ScannerModelB")), (Cameras{"CameraModelB", "CameraModelC"}));
  EXPECT_EQ(Names(SupportedCameras("ScannerModelC")), (Cameras{"CameraModelD"}));
  EXPECT_EQ(Names(SupportedCameras("ScannerModelD")),
            (Cameras{"CameraModelB", "CameraModelC", "CameraModelE"}));
  EXPECT_EQ(Names(SupportedCameras("ScannerModelE")), (Cameras{"CameraModelD", "CameraModelF"}));
  const Cameras all{"CameraModelA", "CameraModelB", "CameraModelC", "CameraModelD",
                    "CameraModelE", "CameraModelF", "CameraModelG", ""};
  EXPECT_EQ(Names(SupportedCameras("Custom")), all);
  EXPECT_EQ(Names(SupportedCameras("")), all);

  const auto a = SupportedProjectors("ScannerModelA");
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].GetName(), "Acer K11");
  EXPECT_EQ(a[0].GetResX(), 800);
  EXPECT_EQ(a[0].GetResY(), 600);
  EXPECT_DOUBLE_EQ(a[0].GetRefreshRate(), 60.317);
  EXPECT_DOUBLE_EQ(a[0].GetGamma(), 2.3);
  for (const char* kit : {"ScannerModelB", "ScannerModelC"}) {
    const auto p = SupportedProjectors(kit);
    ASSERT_EQ(p.size(), 1u) << kit;
    EXPECT_EQ(p[0].GetName(), "Acer K132");
    EXPECT_EQ(p[0].GetResX(), 1280);
    EXPECT_EQ(p[0].GetResY(), 800);
    EXPECT_DOUBLE_EQ(p[0].GetRefreshRate(), 59.81);
    EXPECT_DOUBLE_EQ(p[0].GetGamma(), 2.42);
  }
  for (const char* kit : {"ScannerModelD", "ScannerModelE"}) {
    const auto p = SupportedProjectors(kit);
    ASSERT_EQ(p.size(), 2u) << kit;
    EXPECT_EQ(p[0].GetName(), "Acer K132");
    EXPECT_EQ(p[1].GetName(), "Acer K137i");
    EXPECT_EQ(p[1].GetResX(), 1280);
    EXPECT_DOUBLE_EQ(p[1].GetGamma(), 2.42);
  }
  EXPECT_TRUE(SupportedProjectors("Custom").empty());
}

TEST(ProductTables, DescriptorsFormatsPropertiesAndRates) {
  // The kit cameras' rates come from the first projector: 60.317 Hz for kit
  // A, 60 Hz for a product without projector.
  const auto kitA = SupportedCameras("ScannerModelA");
  const std::vector<std::pair<std::int32_t, double>> rates{
      {1, 60.317}, {2, 60.317}, {3, 60.317}, {4, 60.317}, {6, 60.317}, {8, 60.317}, {12, 60.317}};
  EXPECT_EQ(kitA[0].frameRateChoices, rates);
  EXPECT_EQ(kitA[1].frameRateChoices, rates);
  EXPECT_EQ(SupportedCameras("Custom")[3].frameRateChoices.front(),
            (std::pair<std::int32_t, double>{1, 60.0}));
  EXPECT_TRUE(CameraModelG().frameRateChoices.empty());

  const vid::CameraInfo cameraA = CameraModelA(60.0);
  EXPECT_EQ(cameraA.source.type, vid::SourceType::Live);
  EXPECT_EQ(cameraA.allowedFormats, (std::vector<Format>{{subtype::Y800, 744, 480, 60.0002}}));
  EXPECT_FALSE(cameraA.forceConfiguration);
  EXPECT_EQ(cameraA.defaultProperties.size(), 10u);
  EXPECT_EQ(cameraA.defaultProperties.count("brightness"), 0u);
  EXPECT_EQ(cameraA.defaultProperties.at("gain"), vid::Property(34.0, vid::Property::kManual));
  EXPECT_EQ(cameraA.defaultProperties.at("exposure").value, -14.0);
  EXPECT_EQ(cameraA.limitFormat, (Format{utils::Guid(), -1, -1, 0.0}));

  const vid::CameraInfo cameraB = CameraModelB(60.0), cameraE = CameraModelE(60.0);
  EXPECT_EQ(cameraB.allowedFormats, (std::vector<Format>{{subtype::Y800, 1280, 960, 25.0}}));
  EXPECT_EQ(cameraB.defaultProperties.size(), 12u);
  EXPECT_EQ(cameraE.source.name, "CameraModelE");
  EXPECT_EQ(cameraE.allowedFormats, cameraB.allowedFormats);
  EXPECT_EQ(cameraE.defaultProperties, cameraB.defaultProperties);

  const vid::CameraInfo cameraD = CameraModelD(60.0), cameraF = CameraModelF(60.0);
  ASSERT_EQ(cameraD.allowedFormats.size(), 4u);
  std::vector<double> dRates;
  for (const auto& f : cameraD.allowedFormats) {
    EXPECT_EQ(f.mediaSubtype, subtype::Y800);
    EXPECT_EQ(f.width, 1920);
    EXPECT_EQ(f.height, 1200);
    dRates.push_back(f.fps);
  }
  EXPECT_EQ(dRates, (std::vector<double>{50, 30, 25, 15}));
  EXPECT_TRUE(cameraD.forceConfiguration);
  EXPECT_EQ(cameraD.defaultProperties.size(), 11u);
  EXPECT_EQ(cameraD.defaultProperties.at("gain").value, 0.0);
  EXPECT_EQ(cameraD.defaultProperties.count("zoom"), 0u);
  EXPECT_EQ(cameraF.allowedFormats, cameraD.allowedFormats);
  EXPECT_TRUE(cameraF.forceConfiguration);

  const vid::CameraInfo cameraG = CameraModelG();
  EXPECT_EQ(cameraG.allowedFormats, (std::vector<Format>{{subtype::UYVY, 2112, 1584, 30.0}}));
  EXPECT_TRUE(cameraG.forceConfiguration);
  EXPECT_EQ(cameraG.defaultProperties.size(), 12u);
  EXPECT_EQ(cameraG.defaultProperties.at("white_balance").value, 5500.0);
  EXPECT_EQ(cameraG.defaultProperties.at("brightness").value, 92.0);
  EXPECT_EQ(cameraG.defaultProperties.at("exposure").value, -7.0);

  const vid::CameraInfo any = AnyCamera();
  EXPECT_TRUE(any.source.name.empty());
  EXPECT_TRUE(any.forceConfiguration);
  EXPECT_TRUE(any.defaultProperties.empty());
  EXPECT_EQ(any.allowedFormats, (std::vector<Format>{{subtype::BY8, 0, 0, 0.0},
                                                     {subtype::Y800, 0, 0, 0.0},
                                                     {subtype::RGB24, 0, 0, 0.0},
                                                     {subtype::YUY2, 0, 0, 0.0},
                                                     {subtype::UYVY, 0, 0, 0.0},
                                                     {subtype::RGB8, 0, 0, 0.0}}));
  for (const auto& camera : SupportedCameras("Custom"))
    for (const auto& [name, property] : camera.defaultProperties)
      EXPECT_FALSE(property.IsAuto()) << name;
}

// A scanner over replayed devices, logging into a folder of its own.
struct Kit {
  utils::testing::TemporaryFolder folder{"sls"};
  std::shared_ptr<ReplayV4l2Bus> bus = std::make_shared<ReplayV4l2Bus>();
  std::unique_ptr<GenericStructuredLightScanner> scanner;

  explicit Kit(const std::string& product) {
    scanner = std::make_unique<GenericStructuredLightScanner>(
        product, scan::StructuredLightScanner::InitParams{folder.GetPath().string(), 0.0}, bus);
  }
};

// The industrial camera of kit C under its device name.
ReplayDescriptor KitCamera(const std::string& card) {
  ReplayDescriptor d = vid::testing::MonoIndustrialCamera();
  d.card = card;
  return d;
}

TEST(GenericStructuredLightScanner, ForcedFormatConnectsAtTheFirstStep) {
  Kit kit("ScannerModelC");
  kit.bus->Plug("/dev/video0", KitCamera("CameraModelD USB3"), {.realTime = false});
  const std::size_t index = kit.scanner->AddCamera("CameraModelD USB3", false);
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(kit.scanner->CreateImageCapture(index));
  const std::string lines = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(lines, "Trying to connect forcing that format...\nConnected.\n");
  const Format format = kit.scanner->GetImageCapture(index)->GetFormat();
  EXPECT_EQ(format, (Format{subtype::Y800, 1920, 1200, 50.0}));
  EXPECT_TRUE(std::filesystem::exists(kit.folder / "CameraModelD USB3.txt"));
}

TEST(GenericStructuredLightScanner, FrameRateLimitAtConnectAndLater) {
  Kit kit("ScannerModelC");
  kit.bus->Plug("/dev/video0", KitCamera("CameraModelD USB3"), {.realTime = false});
  kit.scanner->SetFrameRateLimit(30.0);
  const std::size_t index = kit.scanner->AddCamera("CameraModelD USB3", false);
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(kit.scanner->CreateImageCapture(index));
  ::testing::internal::GetCapturedStdout();
  EXPECT_DOUBLE_EQ(kit.scanner->GetImageCapture(index)->GetFormat().fps, 30.0);
  EXPECT_EQ(kit.bus->GetState("/dev/video0").interval.denominator, 30u);

  // A limit the device has no rate for: the warning names the camera.
  ::testing::internal::CaptureStdout();
  kit.scanner->SetFrameRateLimit(25.0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_DOUBLE_EQ(kit.scanner->GetImageCapture(index)->GetFormat().fps, 25.0);
  ::testing::internal::CaptureStdout();
  kit.scanner->SetFrameRateLimit(7.0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Warning - Could not set framerate limit for camera CameraModelD USB3\n");
  // The camera keeps streaming at the rate it had.
  EXPECT_DOUBLE_EQ(kit.scanner->GetImageCapture(index)->GetFormat().fps, 25.0);
  EXPECT_TRUE(kit.bus->GetState("/dev/video0").streaming);
}

// A colour camera that offers RGB24 at another size only: the forced
// Y800 1280 × 960 fails, the unforced open takes the nearest type the
// driver offers. A driver that refuses every format makes each step of the
// ladder run once, in order.
TEST(GenericStructuredLightScanner, LadderFallsBackToWhatTheDriverOffers) {
  ReplayDescriptor d;
  d.card = "CameraModelB Colour";
  d.formats = {{vid::fourcc::RGB24, "RGB3", false, {{640, 480, {{1, 30}}}}}};
  Kit kit("ScannerModelB");
  kit.bus->Plug("/dev/video0", d, {.realTime = false});
  const std::size_t index = kit.scanner->AddCamera("CameraModelB Colour", false);
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(kit.scanner->CreateImageCapture(index));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Trying to connect forcing that format...\nTrying to connect without "
            "forcing...\nConnected.\n");
  const Format format = kit.scanner->GetImageCapture(index)->GetFormat();
  EXPECT_EQ(format, (Format{subtype::RGB24, 640, 480, 30.0}));

  Kit refusing("ScannerModelB");
  refusing.bus->Plug("/dev/video0", d, {.realTime = false, .refuseSetFormat = true});
  const std::size_t camera = refusing.scanner->AddCamera("CameraModelB Colour", false);
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(refusing.scanner->CreateImageCapture(camera));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Trying to connect forcing that format...\n"
            "Trying to connect without forcing...\n"
            "Trying to connect with color format RGB24...\n"
            "Trying to connect with any color format...\n"
            "Trying to connect with any fps...\n"
            "Trying to connect with any resolution...\n"
            "Could not connect!\n");
  EXPECT_FALSE(refusing.scanner->GetImageCapture(camera));
}

TEST(GenericStructuredLightScanner, AbsentOrUnknownCamerasAndBadIndices) {
  Kit kit("ScannerModelA");
  kit.bus->Plug("/dev/video0", KitCamera("Office Webcam"), {.realTime = false});
  kit.bus->Plug("/dev/video1", KitCamera("CameraModelB 1280"), {.realTime = false});
  EXPECT_EQ(kit.scanner->GetAvailableCameraNames(),
            (std::vector<std::string>{"CameraModelB 1280"}));
  // A device whose name holds no fragment of the kit matches nothing.
  const std::size_t webcam = kit.scanner->AddCamera("Office Webcam", false);
  EXPECT_FALSE(kit.scanner->CreateImageCapture(webcam));
  EXPECT_FALSE(kit.scanner->GetImageCapture(webcam));
  // A matching name whose device is absent: every step fails.
  const std::size_t absent = kit.scanner->AddCamera("CameraModelA unplugged", false);
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(kit.scanner->CreateImageCapture(absent));
  const std::string lines = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(lines.find("Could not connect!\n"), std::string::npos) << lines;
  EXPECT_EQ(Count(lines, "Trying to connect with any resolution...\n"), 1u) << lines;
  try {
    kit.scanner->CreateImageCapture(5);
    FAIL() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(),
                 "GenericStructuredLightScanner::CreateImageCapture - Invalid camera index.");
  }
  vid::GrabberDirectShow grabber;
  try {
    GenericStructuredLightScanner::OpenGrabberConfiguration(grabber, vid::CameraInfo{}, 0.0);
    FAIL() << "no exception";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "OpenGrabberConfiguration - cameraInfo does not contain any format.");
  }
  // Configured cameras are not offered again.
  const std::size_t b = kit.scanner->AddCamera("CameraModelB 1280", false);
  EXPECT_TRUE(kit.scanner->GetAvailableCameraNames().empty());
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(kit.scanner->CreateImageCapture(b));
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(kit.scanner->GetImageCapture(b)->GetFormat(), (Format{subtype::Y800, 1280, 960, 25.0}));

  // A product name outside the table takes any device.
  Kit other("Workshop rig");
  other.bus->Plug("/dev/video0", KitCamera("Office Webcam"), {.realTime = false});
  EXPECT_TRUE(
      other.scanner->GetAvailableCameraNames().empty());  // only named kit cameras are offered
  const std::size_t any = other.scanner->AddCamera("Office Webcam", false);
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(other.scanner->CreateImageCapture(any));
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(other.scanner->GetProductName(), "Workshop rig");
}

}  // namespace
}  // namespace sls
