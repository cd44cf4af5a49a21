#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/math/Frame.h"
#include "foundation/utils/Progress.h"
#include "scan/AcquisitionParameters.h"
#include "scan/SLScan.h"
#include "sim/ScanScores.h"
#include "sim/VirtualRig.h"
#include "surf/mesh/DepthMap.h"
#include "surf/mesh/MeshArrays.h"

namespace sim {

// One structured-light scan of a virtual rig through the real pipeline:
// the rig's cameras capture the pattern sequence through the scanner's
// frame acceptance, the scanner decodes it, the first camera's
// correspondences are triangulated (against the second camera when the rig
// has two, else against the projector), the depth map is filtered and
// meshed, and everything is scored against the rig's ground truth.
struct RigScanOptions {
  // The pattern sequence; null: coded light with 4 phase shifts of period
  // 16 projector pixels, Gray codes decided against inverse patterns, both
  // orientations, at the projector's size and display gamma, with a grey
  // texture when `texture` is set.
  scan::SLScanPtr definition;
  // Colour the mesh and give it texture coordinates and the first camera's
  // texture (when the sequence captures one).
  bool texture = false;
  scan::AcquisitionParameters acquisition;
  // The scene object whose true pose a scan reports.
  int objectId = 0;

  // Depth filtering: quality bytes at or below qualityThreshold are dropped;
  // neighbours further apart than maxDepthJump (mm) are not joined into
  // fragments or triangles; fragments below minFragmentRatio of the largest
  // are dropped. Pixels on the border of the valid region (mixed pixels at
  // silhouettes and shadow edges) and surfaces seen more obliquely than
  // maxViewingAngleDeg (between the viewing direction and the normal, from
  // the depth slope) are dropped too: their pixels span a large depth range.
  std::uint8_t qualityThreshold = 2;
  int smoothIterations = 0;  // of CreateFilteredDepthMap: 2n − 1 local-plane passes
  float maxDepthJump = 1.5f;
  double minFragmentRatio = 0.01;
  double maxViewingAngleDeg = 80.0;
  // Fewer lit object pixels than this over all cameras: the object is out of view.
  std::size_t minVisiblePixels = 100;
};

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
  math::Frame4d world_T_object;   // the true pose of options.objectId at that angle

  // World coordinates (mm) with vertex normals; with options.texture also
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

// Turns the rig's turntable to angle (rad; casts again only when it
// changes) and scans. Progress runs over the whole scan; cancelling stops
// the capture or decoding (status kCancelled). The rig must not be used
// elsewhere during the call.
RigScan ScanRig(VirtualRig& rig, double turntableAngle, const RigScanOptions& options,
                const utils::ProgressCallback& progress = {});

// The default pattern sequence of RigScanOptions for this rig.
scan::SLScanPtr MakeDefaultScanDefinition(const VirtualRig& rig, bool texture);

// The scans of one turntable run: view k taken at startAngle + k·stepAngle
// (rad), one rig reused (cast again per view). Stops at the first view that
// fails or is cancelled; error then names the view.
struct TurntableSet {
  RigScanStatus status = RigScanStatus::kFailed;
  std::string error;
  std::vector<RigScan> scans;
};
TurntableSet ScanTurntableSet(VirtualRig& rig, int views, double startAngle, double stepAngle,
                              const RigScanOptions& options, const utils::ProgressCallback& progress = {});

// The true motion that carries scan a's points (world coordinates) onto the
// same surface points in scan b: b.world_T_object · a.world_T_object⁻¹.
math::Frame4d TrueRelativePose(const RigScan& a, const RigScan& b);

}  // namespace sim
