// Opens the machine's first video-capture device, where there is one (a
// user's machine with a webcam); skipped elsewhere.

#include <gtest/gtest.h>

#include "vid/GrabberDirectShow.h"
#include "vid/ImageQueue.h"
#include "vid/VideoInputDevices.h"

namespace vid {
namespace {

TEST(LiveCamera, FirstDeviceDeliversFramesInItsChosenFormat) {
  const auto calls = SystemV4l2Calls();
  const auto devices = EnumerateVideoInputDevices(*calls);
  if (devices.empty()) GTEST_SKIP() << "no video capture device on this machine (/dev/video*)";
  GrabberDirectShow grabber("", GrabberDirectShow::Options{calls, 30.0, false});
  ASSERT_TRUE(grabber.Init());
  CameraInfo info;
  info.source = {SourceType::Live, devices.front().path};
  for (const auto& s : {subtype::Y800, subtype::YUY2, subtype::RGB24, subtype::UYVY, subtype::BY8})
    info.allowedFormats.push_back({s, 0, 0, 0.0});
  ASSERT_EQ(grabber.Open(info, true), 0) << devices.front().name;
  ASSERT_TRUE(grabber.Run());
  auto queue = std::make_shared<ImageQueue>(3, ImageQueue::kStopWhenFull);
  grabber.StartCapture(queue, nullptr);
  EXPECT_TRUE(queue->Wait(ImageQueue::kFull, 10.0))
      << devices.front().name << " delivered " << queue->Count() << " frames in 10 s";
  grabber.StopCapture();
  const Format format = grabber.GetFormat();
  EXPECT_GT(format.width, 0);
  if (auto image = queue->Pop()) {
    EXPECT_EQ(image->format, format);
  }
  EXPECT_TRUE(grabber.Stop());
}

}  // namespace
}  // namespace vid
