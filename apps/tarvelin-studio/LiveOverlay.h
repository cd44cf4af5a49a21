#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "apps/tarvelin-studio/StudioTexts.h"
#include "foundation/img/UniImage.h"

namespace studio {

// What the live camera view marks over a grey frame.
struct LiveOverlayOptions {
  bool saturation = true;      // pixels at or above saturatedLevel in red
  bool underexposure = false;  // pixels at or below darkLevel in blue
  bool decoded = false;        // the last scan's decoding (AddQualityOverlay)
  std::uint8_t saturatedLevel = 250;
  std::uint8_t darkLevel = 5;
};

// A frame's exposure at a glance: the fractions of saturated and dark
// pixels, the mean grey level and the level 99 % of the pixels stay below
// (0…255; the object's bright side, whatever the background).
struct ExposureStats {
  double saturated = 0.0, dark = 0.0, mean = 0.0;
  int p99 = 0;
};

// The frame as RGBA rows (top row first) for the view's texture, the marks
// of the options drawn in; the stats of the frame go to `stats`.
std::vector<std::uint8_t> MakeLiveOverlay(const img::UniImage<std::uint8_t>& frame,
                                          const LiveOverlayOptions& options, ExposureStats& stats);

// The last scan's decoding over the frame: pixels whose projector
// position was decoded tinted green (the brighter, the better their
// quality), pixels inside the decoded region's rows that were rejected
// tinted red. The quality image is the scan's (0 … 1, 0 = not decoded); at
// another size than the frame nothing is drawn. Returns the fraction of the
// frame's pixels that were decoded.
double AddQualityOverlay(std::vector<std::uint8_t>& rgba, std::uint32_t width, std::uint32_t height,
                         const img::UniImage<float>& quality);

// Advice for the user from the stats: empty when the exposure looks right,
// else what to change ("… saturated: lower the exposure").
std::string ExposureAdvice(const ExposureStats& stats, const Texts& texts);

}  // namespace studio
