#pragma once

#include <cstdint>
#include <limits>
#include <memory>

#include "surf/mesh/DepthMap.h"

namespace surf {

// Filters a scan's depth map in place, stage by stage, and returns it as a
// new depth map (new guid, mean depth not yet computed). "Invalidating" a
// pixel sets its depth and quality to 0; after the quality stage a pixel is
// valid when its depth is > 0. Stages, in order:
//  1. quality: quality ≤ qualityThreshold, or a depth that is not finite,
//     invalidates (always);
//  2. background (background not null): where the background depth b is not
//     0, a depth d ≥ b − backgroundEpsilon invalidates;
//  3. holes (holeSize > 0): gaps of at most holeSize invalid pixels between
//     two valid ones are filled linearly along the columns, then along the
//     rows; only the depth changes (filled pixels keep quality 0);
//  4. fragments (minFragmentRatio > 0): 4-connected regions (neighbours
//     join when their depths differ by less than maxDepthJump) smaller than
//     minFragmentRatio times the largest region are invalidated; then every
//     depth 0 gets quality 0;
//  5. smoothing (smoothIterations n > 0): 2n − 1 passes of a local-plane fit
//     over 3 × 3 windows (rows in parallel);
//  6. depth range (unless both limits are the extreme doubles): depths below
//     minDepth or above maxDepth invalidate (so do invalid pixels when
//     minDepth > 0).
// Throws std::invalid_argument "sourceDepthMap must not be nullptr", and
// "CreateFilteredDepthMap - backgroundDepthMap must have the size of
// sourceDepthMap" before changing anything.
std::unique_ptr<DepthMap> CreateFilteredDepthMap(std::unique_ptr<DepthMap> sourceDepthMap,
                                                 const DepthMap* backgroundDepthMap, int holeSize,
                                                 int smoothIterations, std::uint8_t qualityThreshold,
                                                 double backgroundEpsilon, double minFragmentRatio,
                                                 float maxDepthJump,
                                                 double minDepth = std::numeric_limits<double>::lowest(),
                                                 double maxDepth = std::numeric_limits<double>::max());

}  // namespace surf
