#pragma once

#include <cstdint>
#include <string>

#include "scan/AcquisitionParameters.h"
#include "scan/SLScan.h"
#include "shell/Settings.h"

namespace shell {

// What the scan definition is built from: the "StructuredLight/
// PatternParameters/…" settings and "StructuredLight/Triangulation/
// MinContrast".
struct PatternSettings {
  std::string patternMode;  // "psk", anything else coded light
  std::string orientation;  // "vertical", "horizontal", anything else both
  std::int32_t shifts = 4;
  std::int32_t minWavelength = 16;  // projector pixels
  std::int32_t symbolCount = 4;
  std::int32_t shiftsPerLevel = 2;
  bool inverse = true;
  std::int32_t brightness = 255;
  double projectorGamma = 2.2;
  float minContrast = 5.0f;

  static PatternSettings Read(Settings& settings);
};

// The scan orientation of an "Orientation" setting: "vertical" 0 (stripes
// varying along y, giving the projector row), "horizontal" 1 (varying along
// x, giving the projector column), anything else kBothOrientations.
inline constexpr int kBothOrientations = 2;
int ScanOrientation(const std::string& orientation);

// The scan definition at the pattern display's size: SLPSKScan for "psk",
// else SLCodedLightScan with the Gray codes decided against inverse patterns
// (inverse mode 0) when Inverse is on, against the phase frames' mean (1)
// when it is off. Both orientations are prepared in the order 1, 0. With
// texture the texture frames follow (PrepareTextureScan(colorFlag): 1 one
// colour frame, 0 red, green and blue frames). Every pattern then gets the
// Brightness and the ProjectorGamma. Throws std::invalid_argument for a
// zero display size and for counts the scan types reject.
scan::SLScanPtr BuildScanDefinition(const PatternSettings& settings, std::uint32_t displayWidth,
                                    std::uint32_t displayHeight, bool texture, bool colorFlag);

// The frame acceptance of "StructuredLight/Acquisition/…" and
// "PatternParameters/NoiseReduction": times in the settings are
// milliseconds; "UseEveryImage" takes every frame (sensitivity 100, no
// skip, no noise reduction, no holding time or rest), "FixedRate" takes
// frames at the holding time (sensitivity 0, no skip), else frames whose
// content changed by ImageContentSensitivity. ImageSkipCount is a count or
// "auto" (ImageFilter::SuggestImageSkipCount(slowCamera); text that is no
// count is taken as "auto" and logged); 0 with a hardware trigger.
// MovementDetection/WaitForObjectRest is "wait for motion first".
scan::AcquisitionParameters ReadAcquisitionParameters(Settings& settings, bool slowCamera);

// "ResultFiltering/QualityCheck" as the quality byte at or below which a
// depth pixel is dropped: trunc(check · 0.99 · 255) clamped to 0…255.
std::uint8_t QualityLimit(double qualityCheck);

}  // namespace shell
