#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/math/Frame.h"
#include "sim/ScanScores.h"
#include "surf/mesh/DepthMap.h"
#include "surf/mesh/MeshArrays.h"

namespace sim {

// A scan of a virtual rig scored against the rig's ground truth: what the
// shell's scan of the rig product gives (shell::RigScanSession) and what
// the rig's alignment and fusion checks take.
enum class RigScanStatus { kSuccess, kFailed, kCancelled };

struct RigScanSeconds {
  double cast = 0.0;  // turning the turntable: casting every camera's rays again
  double capture = 0.0, evaluate = 0.0, depth = 0.0, mesh = 0.0, total = 0.0;
};

struct RigScan {
  RigScanStatus status = RigScanStatus::kFailed;
  std::string error;  // kFailed: one line naming the problem

  double turntableAngle = 0.0;    // rad
  math::Frame4d turntableMotion;  // world_T_world: the turntable's top turned by its angle
  math::Frame4d world_T_object;   // the true pose of the scanned object at that angle

  // World coordinates (mm) with vertex normals; for a scan with texture also
  // colours, texture coordinates and the texture image.
  surf::MeshArrays mesh;
  std::shared_ptr<surf::DepthMap> depth;  // the first camera's, filtered
  img::UniImagePtr<float> quality;        // the first camera's decoding quality
  std::string triangulation;              // "stereo" or "camera-projector"
  std::uint32_t patternCount = 0;

  std::vector<DecodingScore> decoding;  // per camera
  DepthScore depthScore;                // of the first camera's depth map
  RigScanSeconds seconds;
};

// The scans of one turntable run: view k taken at startAngle + k·stepAngle
// (rad). A run stops at the first view that fails or is cancelled; error
// then names the view.
struct TurntableSet {
  RigScanStatus status = RigScanStatus::kFailed;
  std::string error;
  std::vector<RigScan> scans;
};

// The true motion that carries scan a's points (world coordinates) onto the
// same surface points in scan b: b.world_T_object · a.world_T_object⁻¹.
math::Frame4d TrueRelativePose(const RigScan& a, const RigScan& b);

}  // namespace sim
