#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "scan/SLScan.h"
#include "sim/VirtualCamera.h"
#include "surf/mesh/DepthMap.h"

namespace sim {

class VirtualRig;

// How much of what a camera sees was decoded. A pixel counts as decoded
// when its quality is positive and every correspondence image the result
// has lies in [0, 1) there; "visible" pixels are those the projector lights
// completely (PixelView::kLit).
struct DecodingScore {
  std::string camera;
  std::uint32_t width = 0, height = 0;
  double decodedFraction = 0.0;  // of all pixels
  std::size_t visiblePixels = 0;
  double decodedFractionOfVisible = 0.0;
  double undecodedVisibleFraction = 0.0;
};

// Depth error of a depth map against the true depth at the pixel centres
// (mm). Pixels with a depth where the truth has no surface are counted
// apart and not scored.
struct DepthScore {
  std::size_t validPixels = 0;
  std::size_t pointsWithoutSurface = 0;
  double rms = 0.0, mean = 0.0, p99 = 0.0, max = 0.0;
};

// The camera must have the size of the result's images.
DecodingScore ScoreDecoding(const scan::SLScanEvaluationResult& result, const VirtualCamera& camera);
// The depth map must have the camera's size.
DepthScore ScoreDepth(const surf::DepthMap& depth, const VirtualCamera& camera);

// The pixels of all the rig's cameras that the projector lights completely
// (PixelView::kLit) at the scene's current state.
std::size_t CountLitPixels(const VirtualRig& rig);

// The p-quantile (0…1) of the values by the nearest-rank rule; 0 for none.
double Percentile(std::vector<double> values, double p);

}  // namespace sim
