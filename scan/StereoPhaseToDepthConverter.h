#pragma once

#include <memory>

#include "cam/CameraModel.h"
#include "foundation/img/UniImage.h"
#include "surf/mesh/DepthMap.h"

namespace scan {

// Triangulates two calibrated cameras that see the same projected pattern:
// the decoded phase and the epipolar coordinate of a pixel (the angle of its
// epipolar plane about the baseline, scaled to the range both cameras see)
// form a key pair; every camera-1 pixel is located in the key quads of
// camera 2's 2 × 2 cells, its camera-2 sub-pixel position found by inverse
// bilinear interpolation, and the two rays are triangulated. The projector
// model only rejects false matches. The result is a depth map of camera 1.
//
// Choices: the triangulated point is the point on camera 1's ray closest to
// camera 2's ray; its depth is stored and it is the point compared with the
// projector. Key quads need quality ≥ 0.002 and finite keys at all four
// corners. The optional gap image (camera 1's size) holds the ray gap
// (mm) of each stored depth and 0 elsewhere. Matches are computed on
// camera-2 rows in parallel and merged in row order afterwards, so the
// result does not depend on the thread count; where several matches reach
// one camera-1 pixel the one with the smaller projector error is kept (the
// earlier on a tie).
//
// Memory: a 4000 × 4000-bin key index (one table of 64 000 000 bytes of
// bin ends, and 12 bytes per indexed pixel) is built per call and released
// before returning.
class StereoPhaseToDepthConverter {
 public:
  enum Orientation { kHorizontal = 0, kVertical = 1, kBoth = 2 };

  // Where camera 2 sees each camera-1 pixel that got a depth: camera-2 pixel
  // coordinates (integer = pixel centre), -1 for pixels without a depth.
  struct MatchImages {
    img::UniImage<float> x, y;
  };

  // phase1, phase2: the phase of the given orientation (0: projector column,
  // 1: projector row) in [0, 1], negative = invalid; qualities in [0, 1].
  // Orientation 2 is not supported here: a message goes to stderr and the
  // result stays empty. A projector model that is null or not valid throws
  // std::runtime_error. Images whose sizes differ per camera, or cameras
  // without a common epipolar range, give an empty result and an
  // "Error: ..." line. median: as in SinglePhaseToDepthConverter (0 when no
  // pixel contributes).
  bool Convert(std::unique_ptr<surf::DepthMap>& result, const cam::CameraModel& camera1,
               const img::UniImage<float>& phase1, const img::UniImage<float>& quality1,
               const cam::CameraModel& camera2, const img::UniImage<float>& phase2,
               const img::UniImage<float>& quality2, const cam::CameraModel* projector, float* median = nullptr,
               int orientation = kHorizontal, img::UniImage<float>* gapImage = nullptr) const;

  // The same with the key images supplied: (phase, epipolar coordinate) for
  // orientation 0, (epipolar coordinate, phase) for orientation 1, (phase
  // X, phase Y) for orientation 2. The projector model is required unless
  // the orientation is 2 (std::runtime_error "StereoPhaseToDepthConverter::
  // Convert - Valid projector model required if phase orientation is not set
  // to both."); with orientation 2 a given valid projector checks both
  // coordinates. matches (optional): camera 1's matched camera-2 positions.
  bool Convert(std::unique_ptr<surf::DepthMap>& result, const cam::CameraModel& camera1,
               const img::UniImage<float>& keyA1, const img::UniImage<float>& keyB1,
               const img::UniImage<float>& quality1, const cam::CameraModel& camera2,
               const img::UniImage<float>& keyA2, const img::UniImage<float>& keyB2,
               const img::UniImage<float>& quality2, const cam::CameraModel* projector,
               float* median, int orientation, img::UniImage<float>* gapImage = nullptr,
               MatchImages* matches = nullptr) const;

  // The epipolar coordinate images of the two cameras (each camera's size;
  // -1 where a pixel has no ray). False when the cameras share no range.
  static bool ComputeEpipolarImages(img::UniImage<float>& epipolar1, img::UniImage<float>& epipolar2,
                                    const cam::CameraModel& camera1, std::uint32_t width1, std::uint32_t height1,
                                    const cam::CameraModel& camera2, std::uint32_t width2, std::uint32_t height2);

  // Inverse bilinear interpolation: (s, t) in the quad k00, k10, k01, k11
  // (corners at (0,0), (1,0), (0,1), (1,1)) whose bilinear blend is p;
  // (−1, −1) when there is no real solution. A root is preferred when both
  // s and t lie in [0, 1].
  static math::Vec2d InverseBilinear(const math::Vec2d& p, const math::Vec2d& k00, const math::Vec2d& k10,
                                     const math::Vec2d& k01, const math::Vec2d& k11);
};

}  // namespace scan
