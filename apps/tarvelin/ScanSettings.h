#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "scan/SLScan.h"

namespace tarvelin {

// The values that define a scan: what `tarvelin patterns` takes on its
// command line and stores in "scan.xml", and what `tarvelin decode` reads
// back to rebuild the same pattern sequence.
struct ScanSettings {
  std::uint32_t projectorWidth = 1920;
  std::uint32_t projectorHeight = 1080;
  std::string mode = "coded";  // "coded" or "psk"
  std::uint32_t period = 16;   // projector pixels
  std::uint32_t shifts = 4;
  bool inverse = true;               // coded light: decide Gray bits against inverse patterns
  std::string orientation = "both";  // "both", "vertical" (y-varying), "horizontal" (x-varying)
  std::uint32_t symbols = 4;         // PSK
  std::uint32_t shiftsPerLevel = 2;  // PSK
  std::string texture = "none";      // "none", "grey", "colour"
  std::uint32_t brightness = 255;
  double gamma = 2.2;        // display gamma of the projector; patterns carry 1/gamma
  double minContrast = 5.0;  // grey levels of modulation below which a pixel is invalid

  // Empty when every value is usable, else the first problem.
  std::string Validate() const;
};

// The scan definition of the settings, prepared and with brightness and
// projector gamma applied to every pattern. Settings must be valid.
scan::SLScanPtr BuildScan(const ScanSettings& settings);

// Writes "scan.xml"; false when the file cannot be written.
bool SaveScanSettings(const ScanSettings& settings, std::uint32_t patternCount, const std::filesystem::path& path);
// Reads and validates it; false with a message naming the problem.
bool LoadScanSettings(const std::filesystem::path& path, ScanSettings& settings, std::uint32_t& patternCount,
                      std::string& error);

}  // namespace tarvelin
