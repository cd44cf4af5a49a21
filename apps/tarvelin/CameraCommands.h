#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "vid/MediaType.h"
#include "vid/Property.h"
#include "vid/V4l2Calls.h"

namespace tarvelin {

// `tarvelin cameras`: every video-capture device with its pixel formats,
// sizes and frame rates and its properties (range, current value,
// automatic or manual).
struct CamerasCommand {
  std::string camera;                    // only devices whose name or node contains this
  std::shared_ptr<vid::V4l2Calls> v4l2;  // null: the machine's devices

  CLI::App* Register(CLI::App& app);
  int Run();
};

// `tarvelin capture`: opens a camera (a device's name or node, or a folder of
// numbered images / an image file), chooses the format, sets properties, and
// saves frames through the capture pipeline as OUT/frame_NNNN.png with
// report.json (format, measured frame rate, dropped and skipped frames) and
// the camera's log. With --scan, the scan definition is copied beside the
// frames (one frame per pattern), so that `tarvelin decode --frames OUT`
// reads them.
struct CaptureCommand {
  std::string camera;
  std::string format;  // "WxH@FPS/FOURCC", every part optional
  std::uint32_t frames = 10;
  std::vector<std::string> settings;  // "name=value" or "name=auto"
  std::filesystem::path scan;         // a scan.xml
  std::filesystem::path out;
  double timeout = 5.0;  // seconds to wait for a frame
  std::shared_ptr<vid::V4l2Calls> v4l2;

  CLI::App* Register(CLI::App& app);
  int Run();
};

// `tarvelin displays`: the monitors and the display topology.
struct DisplaysCommand {
  CLI::App* Register(CLI::App& app);
  int Run();
};

// Parses "1920x1080@30/MJPG" (each of size, "@rate" and "/FOURCC" optional;
// FOURCC one of GREY Y800 YUYV YUY2 UYVY RGB3 BGR3 RGB24 BY8 RGGB MJPG).
// False with a message for anything else.
bool ParseCaptureFormat(const std::string& text, vid::Format& format, std::string& error);
// Parses "exposure=-7" or "exposure=auto".
bool ParsePropertySetting(const std::string& text, std::string& name, vid::Property& value,
                          std::string& error);

}  // namespace tarvelin
