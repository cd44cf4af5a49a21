// The camera subcommands as a user chains them: list the cameras, capture
// from a replayed webcam or from a folder of frames, decode what capture wrote.

#include "apps/tarvelin/CameraCommands.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "apps/tarvelin/Commands.h"
#include "apps/tarvelin/Console.h"
#include "foundation/img/ImageIO.h"
#include "foundation/utils/testing/TemporaryFolder.h"
#include "vid/MediaType.h"
#include "vid/testing/ReplayV4l2Device.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;

nlohmann::json ReadJson(const fs::path& path) {
  std::ifstream in(path);
  return nlohmann::json::parse(in);
}

std::shared_ptr<vid::testing::ReplayV4l2Bus> TwoCameras(
    const vid::testing::ReplayFaults& webcamFaults = {}) {
  auto bus = std::make_shared<vid::testing::ReplayV4l2Bus>();
  bus->Plug("/dev/video0", vid::testing::UvcWebcam1080p(), webcamFaults);
  bus->Plug("/dev/video2", vid::testing::MonoIndustrialCamera());
  return bus;
}

TEST(CaptureFormat, ParsesEachOptionalPart) {
  vid::Format f;
  std::string error;
  ASSERT_TRUE(ParseCaptureFormat("1920x1080@30/MJPG", f, error));
  EXPECT_EQ(f, (vid::Format{vid::subtype::MJPG, 1920, 1080, 30.0}));
  ASSERT_TRUE(ParseCaptureFormat("@7.5", f, error));
  EXPECT_EQ(f, (vid::Format{utils::Guid(), 0, 0, 7.5}));
  ASSERT_TRUE(ParseCaptureFormat("744x480/grey", f, error));
  EXPECT_EQ(f.mediaSubtype, vid::subtype::Y800);
  EXPECT_FALSE(ParseCaptureFormat("1920*1080", f, error));
  EXPECT_FALSE(ParseCaptureFormat("640x480/H264", f, error));
  EXPECT_NE(error.find("unknown pixel format 'H264'"), std::string::npos);
  EXPECT_FALSE(ParseCaptureFormat("0x480", f, error));

  std::string name;
  vid::Property value;
  ASSERT_TRUE(ParsePropertySetting("exposure=-7", name, value, error));
  EXPECT_EQ(name, "exposure");
  EXPECT_EQ(value, vid::Property(-7.0));
  ASSERT_TRUE(ParsePropertySetting("white_balance=auto", name, value, error));
  EXPECT_TRUE(value.IsAuto());
  EXPECT_FALSE(ParsePropertySetting("gain=loud", name, value, error));
  EXPECT_FALSE(ParsePropertySetting("=3", name, value, error));
}

TEST(CamerasCommand, ListsFormatsRatesAndProperties) {
  CamerasCommand command;
  command.v4l2 = TwoCameras();
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(command.Run(), kExitSuccess);
  const std::string text = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(text.find("/dev/video0: HD Pro Webcam C920 (uvcvideo"), std::string::npos);
  EXPECT_NE(text.find("MJPG (Motion-JPEG), decoded to RGB24 or Y800"), std::string::npos);
  EXPECT_NE(text.find("      1920x1080 @ 30, 24, 20, 15, 10, 7.5, 5 fps"), std::string::npos);
  EXPECT_NE(text.find("      2304x1536 @ 2 fps"), std::string::npos);
  EXPECT_NE(text.find("    exposure = -5.32193 (auto), 25 ms  [-11 .. -3, default -5, step 1]"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Y16  (16-bit Greyscale): not supported"), std::string::npos);
  EXPECT_NE(text.find("    trigger_enable = 0 (manual)"), std::string::npos);

  command.v4l2 = std::make_shared<vid::testing::ReplayV4l2Bus>();
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(command.Run(), kExitSuccess);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "No video capture devices found (/dev/video*).\n");
}

TEST(CaptureCommand, SavesWebcamFramesWithTheirRateAndProperties) {
  utils::testing::TemporaryFolder folder("capture");
  CaptureCommand command;
  command.v4l2 = TwoCameras();
  command.camera = "C920";
  command.format = "1280x720@30/MJPG";
  command.frames = 4;
  command.settings = {"exposure=-7", "gain=34"};
  command.out = folder / "webcam";
  ASSERT_EQ(command.Run(), kExitSuccess);
  const auto report = ReadJson(folder / "webcam" / "report.json");
  EXPECT_EQ(report["frames_written"], 4);
  EXPECT_EQ(report["format"]["width"], 1280);
  EXPECT_EQ(report["format"]["subtype"], "MEDIASUBTYPE_RGB24");
  EXPECT_NEAR(report["measured_fps"].get<double>(), 30.0, 0.01);
  EXPECT_EQ(report["dropped_frames"], 0);
  EXPECT_FALSE(report["properties"]["exposure"]["auto"].get<bool>());
  EXPECT_EQ(report["properties"]["gain"]["value"], 34.0);
  img::UniImage<img::RGB8> frame;
  ASSERT_TRUE(img::LoadUniImage(frame, NumberedFile(folder / "webcam", "frame", 3)));
  EXPECT_EQ(frame.width, 1280u);
  const auto scene = vid::testing::ReplayScene(1280, 720, 3);
  EXPECT_NEAR(frame(640, 100).g, scene(640, 100).g, 6);
}

TEST(CaptureCommand, RefusalsAndADisconnectEndWithTheirExitCodes) {
  utils::testing::TemporaryFolder folder("capture");
  CaptureCommand command;
  command.v4l2 = TwoCameras({.realTime = false, .unplugAfterFrames = 3});
  command.out = folder / "out";
  command.camera = "C920";
  command.format = "640x480/H264";
  EXPECT_EQ(command.Run(), kExitUsage);
  command.format = "640x480@30/YUYV";
  command.settings = {"brightness=999"};
  EXPECT_EQ(command.Run(), kExitFailure);
  command.settings.clear();
  command.camera = "No Such Camera";
  EXPECT_EQ(command.Run(), kExitFailure);
  command.camera = "C920";
  command.frames = 10;
  EXPECT_EQ(command.Run(), kExitFailure);  // gone after three frames
  const auto report = ReadJson(folder / "out" / "report.json");
  EXPECT_EQ(report["frames_written"], 3);
  EXPECT_TRUE(fs::exists(NumberedFile(folder / "out", "frame", 2)));
}

TEST(CaptureCommand, FramesOfAFolderDecodeAfterCapture) {
  // The patterns seen by a camera that sees the projector pixel for pixel,
  // replayed as a video, captured, and decoded by `tarvelin decode`.
  utils::testing::TemporaryFolder folder("capture");
  PatternsCommand patterns;
  patterns.projector = "128x96";
  patterns.settings.gamma = 1.0;
  patterns.out = folder / "patterns";
  ASSERT_EQ(patterns.Run(), kExitSuccess);
  CaptureCommand capture;
  capture.camera = (folder / "patterns").string();
  capture.format = "@500";
  capture.scan = folder / "patterns" / "scan.xml";
  capture.out = folder / "frames";
  ASSERT_EQ(capture.Run(), kExitSuccess);
  DecodeCommand decode;
  decode.frames = folder / "frames";
  decode.out = folder / "decoded";
  ASSERT_EQ(decode.Run(), kExitSuccess);
  const auto report = ReadJson(folder / "decoded" / "report.json");
  EXPECT_GT(report["decoded_fraction"].get<double>(), 0.95);
  EXPECT_EQ(report["image"]["width"], 128);
  // Frames without their scan definition are refused with the way to get it.
  capture.scan.clear();
  capture.frames = 2;
  capture.out = folder / "loose";
  ASSERT_EQ(capture.Run(), kExitSuccess);
  decode.frames = folder / "loose";
  EXPECT_EQ(decode.Run(), kExitFailure);
}

}  // namespace
}  // namespace tarvelin
