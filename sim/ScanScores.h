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
// The depth map must have the camera's size. With `depthCamera`, the model
// the depth map was triangulated with when it is not the rig's true one (a
// calibrated setup), the error is taken in the world: see ScoreDepthInWorld.
DepthScore ScoreDepth(const surf::DepthMap& depth, const VirtualCamera& camera,
                      const cam::CameraModel* depthCamera = nullptr);

// The depth error in the world of a depth map (camera z, mm; 0 = none)
// triangulated with `depthCamera`: each pixel's point is placed in the world
// through that model and compared with the true surface along the true
// camera's ray through it: its z in `trueCamera` minus the true depth where
// it projects (`truth`: camera z of the surface at the true camera's pixel
// centres, 0 where nothing is hit; bilinear, or the nearest pixel across a
// depth edge). A camera model that is off (its pose, its intrinsics) thus
// only counts where it moves the points, not by shifting the frame the
// depths are taken in. With depthCamera equal to trueCamera this is the
// plain depth difference per pixel. Images of one size, else
// std::invalid_argument.
DepthScore ScoreDepthInWorld(const img::FloatImage& depth, const cam::CameraModel& depthCamera,
                             const img::FloatImage& truth, const cam::CameraModel& trueCamera);

// The pixels of all the rig's cameras that the projector lights completely
// (PixelView::kLit) at the scene's current state.
std::size_t CountLitPixels(const VirtualRig& rig);

// The p-quantile (0…1) of the values by the nearest-rank rule; 0 for none.
double Percentile(std::vector<double> values, double p);

}  // namespace sim
