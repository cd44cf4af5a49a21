#pragma once

#include <array>
#include <memory>

#include "cam/CameraModel.h"
#include "foundation/img/UniImage.h"
#include "surf/mesh/DepthMap.h"

namespace scan {

// Triangulates the decoded projector coordinates of one camera against the
// projector into a depth map of the camera (depth = z in camera coordinates,
// mm; 0 where there is no result). The projector is an inverse camera whose
// image is the unit square (centre (0.5, 0.5)). Stateless; sequential.
class SinglePhaseToDepthConverter {
 public:
  // Flags of Convert's options.
  enum Option { kCheckGradients = 0, kPhaseXMeasured = 1, kPhaseYMeasured = 2 };

  // phaseX, phaseY: projector column and row in [0, 1] per camera pixel,
  // negative = invalid; quality in [0, 1]. The quality bytes of the result
  // are trunc(quality · 255) clamped to 0…255; the gradient check lowers a
  // byte to 1 where the phase does not increase in the image direction in
  // which the projector coordinate grows. A pixel gets a depth when both
  // phases are ≥ 0 and its quality byte is not 0. With one orientation
  // measured the point is moved onto the projector's (distorted) light plane
  // of the measured coordinate.
  // median (optional): the median of ray gap / depth over the used pixels
  // when both orientations are measured, else 0.
  // Images of different pixel counts, no pixels, or an invalid projector
  // model leave result empty and return false.
  bool Convert(std::unique_ptr<surf::DepthMap>& result, const img::UniImage<float>& phaseX,
               const img::UniImage<float>& phaseY, const img::UniImage<float>& quality,
               const cam::CameraModel& cameraModel, const cam::CameraModel& projectorModel,
               const std::array<bool, 3>& options, float* median = nullptr) const;
};

}  // namespace scan
