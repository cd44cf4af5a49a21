#include "vid/GrabberDirectShow.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <sstream>

#include "foundation/img/ImageIO.h"
#include "foundation/utils/testing/TemporaryFolder.h"
#include "vid/ImageConversion.h"
#include "vid/ImageQueue.h"
#include "vid/VideoInputDevices.h"
#include "vid/testing/ReplayV4l2Device.h"

namespace vid {
namespace {

using testing::ReplayFaults;
using testing::ReplayV4l2Bus;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A grabber over a replayed bus, logging into a file of its own.
struct Rig {
  utils::testing::TemporaryFolder folder{"grabber"};
  std::shared_ptr<ReplayV4l2Bus> bus = std::make_shared<ReplayV4l2Bus>();
  std::unique_ptr<GrabberDirectShow> grabber;

  Rig() {
    grabber = std::make_unique<GrabberDirectShow>(folder / "camera.txt",
                                                  GrabberDirectShow::Options{bus, 30.0, false});
    grabber->Init();
  }
  std::int32_t Open(const std::string& name, std::vector<Format> allowed, bool force = false) {
    CameraInfo info;
    info.source = {SourceType::Live, name};
    info.allowedFormats = std::move(allowed);
    return grabber->Open(info, force);
  }
  std::string Log() const { return ReadFile(folder / "camera.txt"); }
};

// Runs the grabber until `count` frames are stored (or 10 s pass).
std::vector<ImagePtr> Capture(GrabberDirectShow& grabber, std::size_t count,
                              std::shared_ptr<ImageFilter> filter = nullptr) {
  auto queue = std::make_shared<ImageQueue>(count, ImageQueue::kStopWhenFull);
  if (grabber.GetState() < GrabberDirectShow::STATE_PAUSED) {
    EXPECT_TRUE(grabber.Run());
  }
  grabber.StartCapture(queue, std::move(filter));
  EXPECT_TRUE(queue->Wait(ImageQueue::kFull, 10.0));
  grabber.StopCapture();
  std::vector<ImagePtr> frames;
  while (auto image = queue->Pop()) frames.push_back(image);
  return frames;
}

double MeanColourError(const Image& frame, const img::UniImage<img::RGB8>& scene) {
  double sum = 0.0;
  for (std::uint32_t y = 0; y < scene.height; ++y) {
    const std::uint8_t* row = frame.data->Row(y);
    for (std::uint32_t x = 0; x < scene.width; ++x) {
      const img::RGB8& c = scene(x, y);
      sum += std::abs(row[3 * x] - c.b) + std::abs(row[3 * x + 1] - c.g) +
             std::abs(row[3 * x + 2] - c.r);
    }
  }
  return sum / (3.0 * scene.size);
}

TEST(GrabberDirectShow, WebcamDeliversItsLargestSizeFromMjpgDecoded) {
  Rig rig;
  rig.bus->Plug("/dev/video0", testing::UvcWebcam1080p(), {.realTime = false});
  ASSERT_EQ(rig.Open("HD Pro Webcam C920", {{subtype::RGB24, 1920, 1080, 30.0}}), 0);
  EXPECT_EQ(rig.grabber->GetState(), GrabberDirectShow::STATE_STOPPED);
  EXPECT_EQ(rig.grabber->GetFormat(), (Format{subtype::RGB24, 1920, 1080, 30.0}));
  const auto device = rig.bus->GetState("/dev/video0");
  EXPECT_EQ(device.fourcc, fourcc::MJPG);
  EXPECT_EQ(device.interval.denominator, 30u);

  const auto frames = Capture(*rig.grabber, 2);
  ASSERT_EQ(frames.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(frames[i]->Stride(), 5760);
    EXPECT_LT(MeanColourError(*frames[i], testing::ReplayScene(1920, 1080, i)), 3.0)
        << "frame " << i;
    EXPECT_EQ(frames[i]->info.sourceGuid, rig.grabber->GetSourceGuid());
  }
  EXPECT_NEAR(frames[1]->info.timestamp - frames[0]->info.timestamp, 1.0 / 30.0, 1e-6);  // µs clock
  // YUYV: 10 sizes × 7 rates, 800 × 600 and 864 × 480 × 6, 4 + 4 + 3 + 2 + 1 + 1 + 1;
  // MJPG: 17 sizes × 7 rates, each decoded to RGB24 and to Y800.
  EXPECT_EQ(rig.grabber->GetMediaTypes().size(), 70u + 12u + 16u + 238u);
  EXPECT_EQ(rig.grabber->GetDeviceFormats().size(), 2u);
}

TEST(GrabberDirectShow, YuyvFramesReachTheFilterAsAViewOfTheDeviceBuffer) {
  Rig rig;
  rig.bus->Plug("/dev/video0", testing::UvcWebcam1080p(), {.realTime = false});
  ASSERT_EQ(rig.Open("C920", {{subtype::YUY2, 640, 480, 30.0}}), 0);
  struct ViewCheck : ImageFilter {
    bool views = true;
    FilterResult Filter(const Image& image) override {
      views = views && !image.data->ownsData;
      return {};
    }
  };
  auto filter = std::make_shared<ViewCheck>();
  const auto frames = Capture(*rig.grabber, 3, filter);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_TRUE(filter->views);
  img::UniImage<std::uint8_t> grey;
  ASSERT_TRUE(ConvertToGray(*frames[2], grey));
  const auto scene = testing::ReplayScene(640, 480, 2);
  for (std::uint32_t y = 0; y < 480; y += 37)
    for (std::uint32_t x = 0; x < 640; x += 41)
      ASSERT_EQ(grey(x, y), testing::ReplayGrey(scene(x, y)));
}

TEST(GrabberDirectShow, MonoCameraChoicesFollowTheScoring) {
  {
    Rig rig;
    rig.bus->Plug("/dev/video2", testing::MonoIndustrialCamera(), {.realTime = false});
    ASSERT_EQ(rig.Open("Mono USB3", {{subtype::Y800, 1920, 1200, 60.0}}), 0);
    const auto frames = Capture(*rig.grabber, 2);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1]->format, (Format{subtype::Y800, 1920, 1200, 60.0}));
    const auto scene = testing::ReplayScene(1920, 1200, 1);
    EXPECT_EQ(frames[1]->data->data[1919 + 1199 * 1920], testing::ReplayGrey(scene(1919, 1199)));
  }
  {
    // Only 1280 × 960 on offer while 744 × 480 is allowed: the type with the
    // right rate and subtype wins although its size does not fit.
    Rig rig;
    auto descriptor = testing::MonoIndustrialCamera();
    descriptor.formats[0].sizes.erase(descriptor.formats[0].sizes.begin());
    descriptor.formats[0].sizes.pop_back();
    rig.bus->Plug("/dev/video0", descriptor, {.realTime = false});
    ASSERT_EQ(rig.Open("Mono USB3", {{subtype::Y800, 744, 480, 60.0}}), 0);
    EXPECT_EQ(rig.grabber->GetFormat(), (Format{subtype::Y800, 1280, 960, 60.0}));
    EXPECT_EQ(rig.bus->GetState("/dev/video0").width, 1280u);
  }
}

TEST(GrabberDirectShow, RowsArePaddedToFourBytesAndRgbOrderIsTurned) {
  // A 31-pixel-wide RGB camera: 93 bytes a row from the device, 96 delivered.
  testing::ReplayDescriptor d;
  d.card = "Tiny RGB";
  d.formats = {{fourcc::RGB24, "RGB3", false, {{31, 8, {{1, 30}}}}}};
  Rig rig;
  rig.bus->Plug("/dev/video0", d, {.realTime = false});
  ASSERT_EQ(rig.Open("Tiny RGB", {{subtype::RGB24, 0, 0, 0.0}}), 0);
  const auto frames = Capture(*rig.grabber, 1);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0]->Stride(), 96);
  const auto scene = testing::ReplayScene(31, 8, 0);
  for (std::uint32_t y : {1u, 7u}) {
    const std::uint8_t* last = frames[0]->data->Row(y) + 3 * 30;
    EXPECT_EQ(last[0], scene(30, y).b);
    EXPECT_EQ(last[1], scene(30, y).g);
    EXPECT_EQ(last[2], scene(30, y).r);
  }
}

TEST(GrabberDirectShow, BayerFramesAreDeliveredRawAndDemosaicToTheScene) {
  testing::ReplayDescriptor d;
  d.card = "Colour USB3 Camera";
  d.formats = {{fourcc::RGGB, "8-bit Bayer RGRG/GBGB", false, {{64, 48, {{1, 60}}}}}};
  Rig rig;
  rig.bus->Plug("/dev/video0", d, {.realTime = false});
  ASSERT_EQ(rig.Open("Colour", {{subtype::BY8, 0, 0, 0.0}}), 0);
  const auto frames = Capture(*rig.grabber, 1);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0]->format, (Format{subtype::BY8, 64, 48, 60.0}));
  img::UniImage<img::RGB8> colour;
  ASSERT_TRUE(ConvertToColor(*frames[0], colour));
  const auto scene = testing::ReplayScene(64, 48, 0);
  // Away from the moving square the scene is a smooth gradient: bilinear
  // demosaicing gives it back within a grey level or two.
  for (std::uint32_t y = 2; y < 14; ++y)
    for (std::uint32_t x = 40; x < 62; ++x) {
      ASSERT_NEAR(colour(x, y).r, scene(x, y).r, 3) << x << "," << y;
      ASSERT_NEAR(colour(x, y).g, scene(x, y).g, 3) << x << "," << y;
      ASSERT_NEAR(colour(x, y).b, scene(x, y).b, 3) << x << "," << y;
    }
}

TEST(GrabberDirectShow, StatesOfRunPauseAndStop) {
  Rig rig;
  rig.bus->Plug("/dev/video0", testing::MonoIndustrialCamera(), {.realTime = false});
  EXPECT_FALSE(rig.grabber->Run());
  EXPECT_EQ(rig.grabber->GetFormat(), Format{});
  ASSERT_EQ(rig.Open("Mono", {{subtype::Y800, 744, 480, 60.0}}), 0);
  auto queue = std::make_shared<ImageQueue>(1, ImageQueue::kReplaceNewest);
  try {
    rig.grabber->StartCapture(queue, nullptr);
    FAIL() << "StartCapture in state 3 must throw";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "GrabberDirectShow::StartCapture - Not in state STATE_PAUSED.");
  }
  EXPECT_TRUE(rig.grabber->Run());
  EXPECT_TRUE(rig.grabber->Run());
  EXPECT_EQ(rig.grabber->GetState(), GrabberDirectShow::STATE_RUNNING);
  rig.grabber->StartCapture(queue, nullptr);
  EXPECT_TRUE(queue->Wait(ImageQueue::kNotEmpty, 10.0));
  rig.grabber->StopCapture();
  EXPECT_EQ(rig.grabber->GetState(), GrabberDirectShow::STATE_PAUSED);
  EXPECT_FALSE(rig.grabber->IsCapturing());
  EXPECT_TRUE(rig.grabber->IsReady());
  rig.grabber->StartCapture(queue, nullptr);
  EXPECT_EQ(rig.grabber->GetState(), GrabberDirectShow::STATE_RUNNING);
  EXPECT_TRUE(rig.grabber->Stop());
  EXPECT_EQ(rig.grabber->GetState(), GrabberDirectShow::STATE_STOPPED);
  EXPECT_FALSE(rig.bus->GetState("/dev/video0").streaming);
  EXPECT_FALSE(rig.grabber->Stop());
  const std::string log = rig.Log();
  EXPECT_NE(log.find("GrabberDirectShow is not in minimum state STATE_STOPPED."),
            std::string::npos);
  EXPECT_NE(log.find("Source and sink are not connected."), std::string::npos);
  EXPECT_EQ(log.find("Choosen media type"), std::string::npos) << "INFO stays out of the file";
}

TEST(GrabberDirectShow, PropertiesMapOntoTheWebcamsControls) {
  Rig rig;
  rig.bus->Plug("/dev/video0", testing::UvcWebcam1080p(),
                {.realTime = false, .refusedControls = {V4L2_CID_SHARPNESS}});
  ASSERT_EQ(rig.Open("C920", {{subtype::YUY2, 640, 480, 30.0}}), 0);
  const auto names = rig.grabber->GetPropertyNames(false);
  for (const char* name : {"brightness", "contrast", "saturation", "sharpness", "white_balance",
                           "gain", "backlight_compensation", "pan", "tilt", "zoom", "exposure",
                           "focus", "auto_exposure", "flip_vertical_sw"})
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
  EXPECT_EQ(std::find(names.begin(), names.end(), "hue"), names.end());

  // Exposure in log2 seconds over 100 µs units 3 … 2047, automatic at first.
  EXPECT_TRUE(rig.grabber->GetProperty("exposure").IsAuto());
  EXPECT_EQ(rig.grabber->GetPropertyRange("exposure"),
            (PropertyRange{-11.0, -3.0, -5.0, 1.0, true}));
  ASSERT_TRUE(rig.grabber->SetProperty("exposure", Property(-7.0)));
  auto device = rig.bus->GetState("/dev/video0");
  EXPECT_EQ(device.controls[V4L2_CID_EXPOSURE_AUTO], V4L2_EXPOSURE_MANUAL);
  EXPECT_EQ(device.controls[V4L2_CID_EXPOSURE_ABSOLUTE], 78);  // 2^-7 s = 7.8 ms
  const Property exposure = rig.grabber->GetProperty("exposure");
  EXPECT_FALSE(exposure.IsAuto());
  EXPECT_NEAR(exposure.value, std::log2(78e-4), 1e-12);
  ASSERT_TRUE(rig.grabber->SetProperty("exposure", Property(0.0, Property::kAuto)));
  EXPECT_EQ(rig.bus->GetState("/dev/video0").controls[V4L2_CID_EXPOSURE_AUTO],
            V4L2_EXPOSURE_APERTURE_PRIORITY);

  // White balance leaves its automatic mode when a temperature is set.
  ASSERT_TRUE(
      rig.grabber->SetProperties({{"white_balance", Property(5500.0)}, {"gain", Property(34.0)}}));
  device = rig.bus->GetState("/dev/video0");
  EXPECT_EQ(device.controls[V4L2_CID_AUTO_WHITE_BALANCE], 0);
  EXPECT_EQ(device.controls[V4L2_CID_WHITE_BALANCE_TEMPERATURE], 5500);
  EXPECT_EQ(device.controls[V4L2_CID_GAIN], 34);

  // Refusals: out of range, no automatic mode, the device says no.
  EXPECT_FALSE(rig.grabber->SetProperty("exposure", Property(-14.0)));
  EXPECT_FALSE(rig.grabber->SetProperty("brightness", Property(300.0)));
  EXPECT_FALSE(rig.grabber->SetProperty("zoom", Property(0.0, Property::kAuto)));
  EXPECT_FALSE(rig.grabber->SetProperty("sharpness", Property(10.0)));
  EXPECT_FALSE(rig.grabber->SetProperty("roll", Property(1.0)));
  const std::string log = rig.Log();
  EXPECT_NE(log.find("Could not set property 'exposure': Value -14 of 'exposure' is outside"),
            std::string::npos);
  EXPECT_NE(log.find("Could not set property 'sharpness': The device refused the value 10"),
            std::string::npos);

  EXPECT_TRUE(rig.grabber->AddPropertyValueConverter("exposure", [](std::string& t, double v) {
    t = std::to_string(std::lround(1000.0 * std::exp2(v))) + " ms";
    return true;
  }));
  EXPECT_FALSE(rig.grabber->AddPropertyValueConverter("exposure",
                                                      [](std::string&, double) { return true; }));
  EXPECT_FALSE(
      rig.grabber->AddPropertyValueConverter("hue", [](std::string&, double) { return true; }));
  std::string text;
  EXPECT_TRUE(rig.grabber->FormatPropertyValue(text, -5.0, "exposure"));
  EXPECT_EQ(text, "31 ms");
  EXPECT_NE(rig.Log().find(
                "Error in GrabberDirectShow::AddPropertyValueConverter: Invalid property name or "
                "converter already exists."),
            std::string::npos);
}

TEST(GrabberDirectShow, SoftwareFlipAndSoftwareTrigger) {
  Rig rig;
  rig.bus->Plug("/dev/video0", testing::MonoIndustrialCamera(), {.realTime = false});
  ASSERT_EQ(rig.Open("Mono", {{subtype::Y800, 744, 480, 60.0}}), 0);
  EXPECT_FALSE(rig.grabber->SendSoftwareTrigger());  // not running
  ASSERT_TRUE(rig.grabber->SetProperty("flip_vertical_sw", Property(1.0)));
  auto frames = Capture(*rig.grabber, 1);
  ASSERT_EQ(frames.size(), 1u);
  const auto scene = testing::ReplayScene(744, 480, 0);
  EXPECT_EQ(frames[0]->data->data[5], testing::ReplayGrey(scene(5, 479)));
  EXPECT_TRUE(rig.grabber->Stop());

  ASSERT_TRUE(rig.grabber->QuerySupport(3));
  ASSERT_TRUE(rig.grabber->SetProperty("trigger_enable", Property(1.0)));
  ASSERT_TRUE(rig.grabber->Run());
  const std::uint64_t before = rig.grabber->GetFrameCount();
  EXPECT_FALSE(rig.grabber->WaitForFrameAfter(before, 0.2)) << "no frame without a trigger";
  EXPECT_TRUE(rig.grabber->SendSoftwareTrigger());
  EXPECT_TRUE(rig.grabber->WaitForFrameAfter(before, 5.0));
  EXPECT_EQ(rig.bus->GetState("/dev/video0").softwareTriggers, 1u);
  EXPECT_TRUE(rig.grabber->Stop());
  EXPECT_NE(rig.Log().find("Grabber is not running."), std::string::npos);

  Rig webcam;
  webcam.bus->Plug("/dev/video0", testing::UvcWebcam1080p(), {.realTime = false});
  ASSERT_EQ(webcam.Open("C920", {{subtype::YUY2, 640, 480, 30.0}}), 0);
  ASSERT_TRUE(webcam.grabber->Run());
  EXPECT_FALSE(webcam.grabber->QuerySupport(3));
  EXPECT_FALSE(webcam.grabber->SendSoftwareTrigger());
  EXPECT_NE(webcam.Log().find("Software trigger is not supported."), std::string::npos);
}

TEST(GrabberDirectShow, ChangeFormatWhileRunningRestartsInTheNewFormat) {
  Rig rig;
  rig.bus->Plug("/dev/video0", testing::UvcWebcam1080p(), {.realTime = false});
  ASSERT_EQ(rig.Open("C920", {{subtype::YUY2, 640, 480, 30.0}}), 0);
  ASSERT_TRUE(rig.grabber->Run());
  ASSERT_EQ(rig.grabber->ChangeFormat({{subtype::Y800, 1280, 720, 30.0}}, false), 0);
  EXPECT_EQ(rig.grabber->GetState(), GrabberDirectShow::STATE_RUNNING);
  const auto frames = Capture(*rig.grabber, 1);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0]->format, (Format{subtype::Y800, 1280, 720, 30.0}));
  EXPECT_EQ(rig.bus->GetState("/dev/video0").fourcc, fourcc::MJPG);
}

TEST(GrabberDirectShow, VideoFolderIsPlayedInOrderAtItsRate) {
  Rig rig;
  const auto dir = rig.folder / "video";
  std::filesystem::create_directories(dir);
  for (int i = 0; i < 5; ++i) {
    img::UniImage<std::uint8_t> frame(16, 8);
    std::fill(frame.data, frame.data + frame.size, std::uint8_t(10 * (i + 1)));
    ASSERT_TRUE(img::SavePNG(frame, dir / ("frame_" + std::to_string(i) + ".png")));
  }
  CameraInfo info;
  info.source = {SourceType::Video, dir.string()};
  info.allowedFormats = {{utils::Guid(), 0, 0, 50.0}};
  ASSERT_EQ(rig.grabber->Open(info, false), 0);
  EXPECT_EQ(rig.grabber->GetFormat(), (Format{subtype::Y800, 16, 8, 50.0}));
  const auto start = std::chrono::steady_clock::now();
  const auto frames = Capture(*rig.grabber, 5);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(frames.size(), 5u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(frames[std::size_t(i)]->data->data[0], 10 * (i + 1));
  EXPECT_GE(seconds, 4 / 50.0 - 0.005) << "held back to 50 fps";
  EXPECT_DOUBLE_EQ(frames[4]->info.timestamp, 4 / 50.0);
  EXPECT_TRUE(rig.grabber->Stop());

  CameraInfo still;
  still.source = {SourceType::Image, (dir / "frame_2.png").string()};
  ASSERT_EQ(rig.grabber->Open(still, false), 0);
  const auto repeated = Capture(*rig.grabber, 3);
  ASSERT_EQ(repeated.size(), 3u);
  EXPECT_EQ(repeated[2]->data->data[0], 30);

  CameraInfo missing;
  missing.source = {SourceType::Video, (dir / "nothing").string()};
  EXPECT_NE(rig.grabber->Open(missing, false), 0);
  EXPECT_NE(rig.Log().find("Could not open video."), std::string::npos);
}

TEST(VideoInputDevices, CardNamesBindByPathExactNameOrPart) {
  auto bus = std::make_shared<ReplayV4l2Bus>();
  bus->Plug("/dev/video0", testing::UvcWebcam1080p());
  bus->Plug("/dev/video2", testing::MonoIndustrialCamera());
  const auto devices = EnumerateVideoInputDevices(*bus);
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].name, "HD Pro Webcam C920");
  EXPECT_EQ(devices[1].driver, "usb3cam");
  EXPECT_EQ(FindVideoInputDevice(devices, "/dev/video2"), &devices[1]);
  EXPECT_EQ(FindVideoInputDevice(devices, "Webcam"), &devices[0]);
  EXPECT_EQ(FindVideoInputDevice(devices, "Projector"), nullptr);
  bus->Unplug("/dev/video0");
  EXPECT_EQ(EnumerateVideoInputDevices(*bus).size(), 1u);
}

}  // namespace
}  // namespace vid
