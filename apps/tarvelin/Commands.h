#pragma once

#include <filesystem>
#include <string>

#include <CLI/CLI.hpp>

#include "apps/tarvelin/ScanSettings.h"

namespace tarvelin {

// `tarvelin patterns`: renders every pattern of a scan definition in display
// order as DIR/pattern_NNNN.png (NNNN from 0000) and writes DIR/scan.xml.
struct PatternsCommand {
  ScanSettings settings;
  std::string projector = "1920x1080";
  std::filesystem::path out;

  CLI::App* Register(CLI::App& app);
  int Run();
};

// `tarvelin decode`: reads FRAMES/scan.xml and FRAMES/frame_NNNN.png (one per
// pattern, display order), evaluates them and writes the correspondences,
// quality, texture, previews and report.json into OUT.
struct DecodeCommand {
  std::filesystem::path frames;
  std::filesystem::path out;

  CLI::App* Register(CLI::App& app);
  int Run();
};

// "DIR/prefix_NNNN.png".
std::filesystem::path NumberedFile(const std::filesystem::path& dir, const std::string& prefix, std::uint32_t index);

}  // namespace tarvelin
