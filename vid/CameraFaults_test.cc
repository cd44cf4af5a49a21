// Devices that fail: gone while streaming, refusing formats, damaged and
// short frames, never delivering. Capture stops cleanly or skips the frame,
// and nothing hangs.

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>

#include "foundation/utils/UsbManager.h"
#include "foundation/utils/testing/TemporaryFolder.h"
#include "vid/GrabberDirectShow.h"
#include "vid/ImageQueue.h"
#include "vid/VideoInputDevices.h"
#include "vid/testing/ReplayV4l2Device.h"

namespace vid {
namespace {

using testing::ReplayFaults;

struct Rig {
  utils::testing::TemporaryFolder folder{"faults"};
  std::shared_ptr<testing::ReplayV4l2Bus> bus = std::make_shared<testing::ReplayV4l2Bus>();
  std::unique_ptr<GrabberDirectShow> grabber;

  explicit Rig(const testing::ReplayDescriptor& descriptor, const ReplayFaults& faults) {
    bus->Plug("/dev/video0", descriptor, faults);
    grabber = std::make_unique<GrabberDirectShow>(folder / "camera.txt",
                                                  GrabberDirectShow::Options{bus, 30.0, false});
    grabber->Init();
  }
  std::int32_t Open(std::vector<Format> allowed, bool force = false) {
    CameraInfo info;
    info.source = {SourceType::Live, bus->ListDeviceNodes().empty() ? "gone" : "/dev/video0"};
    info.allowedFormats = std::move(allowed);
    return grabber->Open(info, force);
  }
  std::string Log() const {
    std::ifstream in(folder / "camera.txt");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
};

const Format kMjpg720{subtype::RGB24, 1280, 720, 30.0};
const Format kYuyv480{subtype::YUY2, 640, 480, 30.0};

TEST(CameraFaults, DeviceGoneWhileStreamingStopsCaptureAndTheUsbManagerNamesIt) {
  Rig rig(testing::UvcWebcam1080p(), {.realTime = false, .unplugAfterFrames = 4});
  ASSERT_EQ(rig.Open({kYuyv480}), 0);
  // The shell's view of the bus: the devices' names while they are plugged.
  utils::UsbManager usb([&] {
    std::vector<std::string> names;
    for (const auto& device : EnumerateVideoInputDevices(*rig.bus)) names.push_back(device.name);
    return names;
  });
  usb.SetActiveCameras({"HD Pro Webcam C920"});
  std::atomic<int> lost{0};
  std::string why;
  rig.grabber->SetLostCallback([&](const std::string& text) {
    why = text;
    ++lost;
  });
  auto queue = std::make_shared<ImageQueue>(100, ImageQueue::kDiscardNew);
  ASSERT_TRUE(rig.grabber->Run());
  rig.grabber->StartCapture(queue, nullptr);
  for (int i = 0; i < 500 && !rig.grabber->IsDeviceLost(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(rig.grabber->IsDeviceLost());
  EXPECT_EQ(queue->Count(), 4u);
  EXPECT_FALSE(rig.grabber->IsCapturing());
  EXPECT_FALSE(rig.grabber->IsReady());
  EXPECT_EQ(lost.load(), 1);
  EXPECT_NE(why.find("Device lost while streaming: HD Pro Webcam C920"), std::string::npos);
  EXPECT_NE(rig.Log().find("ERROR - Sampler - Device lost while streaming"), std::string::npos);
  const auto report = usb.DeviceNodeChanged();
  EXPECT_EQ(report.kind, utils::UsbManager::kRemoved);
  EXPECT_EQ(report.affected, std::vector<std::string>{"HD Pro Webcam C920"});
  rig.grabber->StopCapture();
  EXPECT_TRUE(rig.grabber->Stop());
  rig.grabber->Close();
  EXPECT_NE(rig.Open({kYuyv480}), 0) << "a gone device cannot be opened again";
  EXPECT_NE(rig.Log().find("Could not open live source."), std::string::npos);
}

TEST(CameraFaults, DamagedCorruptAndShortFramesAreSkipped) {
  {
    Rig rig(testing::UvcWebcam1080p(),
            {.realTime = false, .corruptJpegFrame = 1, .damagedFrame = 3});
    ASSERT_EQ(rig.Open({kMjpg720}), 0);
    auto queue = std::make_shared<ImageQueue>(4, ImageQueue::kStopWhenFull);
    ASSERT_TRUE(rig.grabber->Run());
    rig.grabber->StartCapture(queue, nullptr);
    ASSERT_TRUE(queue->Wait(ImageQueue::kFull, 10.0));
    EXPECT_TRUE(rig.grabber->Stop());
    EXPECT_EQ(rig.grabber->GetStatistics().skipped, 2u);
    // The frames kept are 0, 2, 4, 5 (the replay's scenes repeat every four frames).
    const double t[] = {0.0, 2.0 / 30, 4.0 / 30, 5.0 / 30};
    for (double expected : t) EXPECT_NEAR(queue->Pop()->info.timestamp, expected, 1e-6);
    const std::string log = rig.Log();
    EXPECT_NE(log.find("WARNING - Sampler - Corrupt JPEG frame skipped: "), std::string::npos);
    EXPECT_NE(log.find("WARNING - Sampler - Damaged frame skipped."), std::string::npos);
  }
  {
    Rig rig(testing::UvcWebcam1080p(), {.realTime = false, .shortFrame = 0, .dropEvery = 3});
    ASSERT_EQ(rig.Open({kYuyv480}), 0);
    auto queue = std::make_shared<ImageQueue>(3, ImageQueue::kStopWhenFull);
    ASSERT_TRUE(rig.grabber->Run());
    rig.grabber->StartCapture(queue, nullptr);
    ASSERT_TRUE(queue->Wait(ImageQueue::kFull, 10.0));
    EXPECT_TRUE(rig.grabber->Stop());
    const auto stats = rig.grabber->GetStatistics();
    EXPECT_EQ(stats.skipped, 1u);
    EXPECT_GE(stats.dropped, 1u) << "gaps in the device's frame numbers";
    EXPECT_NE(rig.Log().find("Short frame skipped: 307200 of 614400 bytes."), std::string::npos);
  }
}

TEST(CameraFaults, ACameraThatNeverDeliversWarnsAndStillStops) {
  Rig rig(testing::MonoIndustrialCamera(), {.stall = true});
  ASSERT_EQ(rig.Open({{subtype::Y800, 744, 480, 60.0}}), 0);
  rig.grabber->SetStallSeconds(0.3);
  auto queue = std::make_shared<ImageQueue>(1, ImageQueue::kStopWhenFull);
  ASSERT_TRUE(rig.grabber->Run());
  rig.grabber->StartCapture(queue, nullptr);
  EXPECT_FALSE(queue->Wait(ImageQueue::kNotEmpty, 0.6));
  rig.grabber->StopCapture();
  EXPECT_TRUE(rig.grabber->Stop());
  EXPECT_GE(rig.grabber->GetStatistics().timeouts, 3u);
  EXPECT_NE(rig.Log().find("WARNING - Sampler - No frame from the device for"), std::string::npos);
}

TEST(CameraFaults, RefusedFormatsFailTheOpenWithTheirMessages) {
  {
    Rig rig(testing::UvcWebcam1080p(), {.refuseSetFormat = true});
    EXPECT_NE(rig.Open({kYuyv480}), 0);
    EXPECT_EQ(rig.grabber->GetState(), GrabberDirectShow::STATE_OPEN);
    const std::string log = rig.Log();
    EXPECT_NE(log.find("Could not set preferred media type."), std::string::npos);
    EXPECT_NE(log.find("Could not connect source and sink."), std::string::npos);
  }
  {
    // Forced: no type fits (Y800 is not on offer) and the forced one is not taken.
    Rig rig(testing::UvcWebcam1080p(), {});
    EXPECT_NE(rig.Open({{subtype::UYVY, 1024, 768, 60.0}}, true), 0);
    EXPECT_NE(rig.Log().find("Forced configuration: SetMediaType() failed."), std::string::npos);
    // The same without forcing takes the best of the zero scores: the first type.
    EXPECT_EQ(rig.Open({{subtype::UYVY, 1024, 768, 60.0}}, false), 0);
    EXPECT_EQ(rig.grabber->GetFormat(), (Format{subtype::YUY2, 640, 480, 30.0}));
  }
  {
    Rig rig(testing::UvcWebcam1080p(), {});
    CameraInfo info;
    info.source = {SourceType::Live, "No Such Camera"};
    EXPECT_NE(rig.grabber->Open(info, false), 0);
    EXPECT_NE(rig.Log().find("Could not open source."), std::string::npos);
    EXPECT_EQ(rig.grabber->GetState(), GrabberDirectShow::STATE_INITIALIZED);
  }
}

}  // namespace
}  // namespace vid
