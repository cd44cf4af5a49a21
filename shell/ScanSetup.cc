#include "shell/ScanSetup.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "scan/ImageFilter.h"
#include "scan/SLCodedLightScan.h"
#include "scan/SLPSKScan.h"
#include "shell/SettingPath.h"

namespace shell {
namespace {

template <class T>
T Read(Settings& settings, const char* titlePath) {
  return settings.GetSetting<T>(SettingPath(titlePath)).Value();
}

template <class Scan>
void Prepare(Scan& scan, int orientation, bool texture, bool colorFlag) {
  if (orientation == kBothOrientations) {
    scan.PrepareScanForOrientation(1);
    scan.PrepareScanForOrientation(0);
  } else {
    scan.PrepareScanForOrientation(static_cast<std::uint32_t>(orientation));
  }
  if (texture) scan.PrepareTextureScan(colorFlag ? 1 : 0);
}

std::uint32_t Positive(std::int32_t value, const char* name) {
  if (value <= 0) throw std::invalid_argument(std::string("BuildScanDefinition - ") + name + " must be positive.");
  return static_cast<std::uint32_t>(value);
}

}  // namespace

PatternSettings PatternSettings::Read(Settings& settings) {
  PatternSettings s;
  s.patternMode = shell::Read<std::string>(settings, "StructuredLight/PatternParameters/PatternMode");
  s.orientation = shell::Read<std::string>(settings, "StructuredLight/PatternParameters/Orientation");
  s.shifts = shell::Read<int>(settings, "StructuredLight/PatternParameters/Shifts");
  s.minWavelength = shell::Read<int>(settings, "StructuredLight/PatternParameters/MinWavelength");
  s.symbolCount = shell::Read<int>(settings, "StructuredLight/PatternParameters/SymbolCount");
  s.shiftsPerLevel = shell::Read<int>(settings, "StructuredLight/PatternParameters/ShiftsPerLevel");
  s.inverse = shell::Read<bool>(settings, "StructuredLight/PatternParameters/Inverse");
  s.brightness = shell::Read<int>(settings, "StructuredLight/PatternParameters/Brightness");
  s.projectorGamma = shell::Read<double>(settings, "StructuredLight/PatternParameters/ProjectorGamma");
  s.minContrast = static_cast<float>(shell::Read<int>(settings, "StructuredLight/Triangulation/MinContrast"));
  return s;
}

int ScanOrientation(const std::string& orientation) {
  if (orientation == "vertical") return 0;
  if (orientation == "horizontal") return 1;
  return kBothOrientations;
}

scan::SLScanPtr BuildScanDefinition(const PatternSettings& s, std::uint32_t displayWidth, std::uint32_t displayHeight,
                                    bool texture, bool colorFlag) {
  if (displayWidth == 0 || displayHeight == 0)
    throw std::invalid_argument("BuildScanDefinition - the pattern display has no size.");
  const int orientation = ScanOrientation(s.orientation);
  const std::uint32_t shifts = Positive(s.shifts, "Shifts");
  const std::uint32_t wavelength = Positive(s.minWavelength, "MinWavelength");
  scan::SLScanPtr result;
  if (s.patternMode == "psk") {
    auto psk = std::make_shared<scan::SLPSKScan>(displayWidth, displayHeight, shifts, wavelength,
                                                 Positive(s.symbolCount, "SymbolCount"),
                                                 Positive(s.shiftsPerLevel, "ShiftsPerLevel"), s.minContrast);
    Prepare(*psk, orientation, texture, colorFlag);
    result = psk;
  } else {
    auto coded = std::make_shared<scan::SLCodedLightScan>(displayWidth, displayHeight, shifts, wavelength,
                                                          s.inverse ? 0 : 1, s.minContrast);
    Prepare(*coded, orientation, texture, colorFlag);
    result = coded;
  }
  const auto brightness = static_cast<std::uint8_t>(std::clamp(s.brightness, 0, 255));
  for (const auto& pattern : result->AllPatterns()) {
    pattern->SetBrightness(brightness);
    if (s.projectorGamma > 0.0 && std::isfinite(s.projectorGamma)) pattern->SetProjectorGamma(s.projectorGamma);
  }
  return result;
}

scan::AcquisitionParameters ReadAcquisitionParameters(Settings& settings, bool slowCamera) {
  scan::AcquisitionParameters p;
  const auto syncMode = Read<std::string>(settings, "StructuredLight/Acquisition/SyncMode");
  p.maxPatternHoldingTime = Read<double>(settings, "StructuredLight/Acquisition/MaxPatternHoldingTime") / 1000.0;
  p.waitForMotionFirst = Read<bool>(settings, "StructuredLight/Acquisition/MovementDetection/WaitForObjectRest");
  p.restDuration = Read<double>(settings, "StructuredLight/Acquisition/MovementDetection/RestDuration") / 1000.0;
  p.imageContentSensitivity = static_cast<std::int32_t>(
      std::lround(Read<double>(settings, "StructuredLight/Acquisition/ImageContentSensitivity")));
  p.noiseReduction = Read<int>(settings, "StructuredLight/PatternParameters/NoiseReduction");
  p.useHardwareTrigger = Read<bool>(settings, "StructuredLight/Acquisition/UseHardwareTrigger");

  const auto skipText = Read<std::string>(settings, "StructuredLight/Acquisition/ImageSkipCount");
  int skip = 0;
  if (skipText != "auto" && (!ParseSettingText<int>(skipText, skip) || skip < 0)) {
    settings.Log("ImageSkipCount \"" + skipText + "\" is not a count; using auto.");
    skip = -1;
  }
  p.imageSkipCount = skipText == "auto" || skip < 0 ? scan::ImageFilter::SuggestImageSkipCount(slowCamera) : skip;

  if (syncMode == "UseEveryImage") {
    p.imageContentSensitivity = 100;
    p.imageSkipCount = 0;
    p.noiseReduction = 0;
    p.maxPatternHoldingTime = 0.0;
    p.restDuration = 0.0;
  } else if (syncMode == "FixedRate") {
    p.imageContentSensitivity = 0;
    p.imageSkipCount = 0;
  }
  if (p.useHardwareTrigger) p.imageSkipCount = 0;
  return p;
}

std::uint8_t QualityLimit(double qualityCheck) {
  const double limit = std::trunc(qualityCheck * 0.99 * 255.0);
  if (!(limit > 0.0)) return 0;  // also NaN
  return static_cast<std::uint8_t>(std::min(limit, 255.0));
}

}  // namespace shell
