#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "foundation/math/Frame.h"
#include "sim/RigScanResult.h"
#include "surf/align/Registration.h"
#include "v3d/Geo.h"

// Alignment of rig scans scored against the turntable's true poses, for the
// alignment tests and the accuracy program.
namespace sim::testing {

// The scan's mesh (world coordinates, with normals) as a geo at the
// identity frame.
std::unique_ptr<v3d::Geo> GeoOf(const RigScan& scan);

// Reads a folder that `tarvelin scan --views N` wrote: the meshes of
// scan_000.ply … and, from poses.json, each scan's turntable angle and true
// object pose (the other fields of the scans stay empty). False with a
// one-line reason when a file is missing or does not parse.
bool LoadScanFolder(const std::filesystem::path& folder, std::vector<RigScan>& scans, std::string& error);

// The pose error of scan A aligned onto scan B.
struct PairResult {
  double score = 0.0;    // of the coarse search
  double rms = 0.0;      // RMS displacement over A's vertices between estimate and truth, mm
  double angle = 0.0;    // rotation between estimate and truth, degrees
  double coarseRms = 0.0, coarseAngle = 0.0;  // the same after the coarse search
  double inliers = 0.0;  // inlier fraction after ICP
  double rmsDistance = 0.0;  // RMS point-to-plane distance of the overlap, mm
  double seconds = 0.0;
  math::Frame4d pose;  // the found pose of A in B (A's coordinates into B's)
  // Wall seconds of the stages: both fragments built, coarse search, ICP
  // with the overlap statistics.
  double prepareSeconds = 0.0, coarseSeconds = 0.0, fineSeconds = 0.0;
};

// How a pair is aligned: coarse search with params (free rotation when
// params has no axis), then ICP, both scans starting at the identity.
struct PairOptions {
  surf::CoarseRegistrationParams params;
  surf::IcpParams icp = surf::PairwiseIcpParams();
  // The search and ICP get seed, the fragments' shuffles seed and seed + 1000.
  std::uint64_t seed = 1;
  // > 0: the coarse search runs on copies of both scans decimated by vertex
  // clustering to this cell size (mm); ICP on the scans themselves.
  double coarseCellSize = 0.0;
  // Rate the coarse hypotheses with surface-feature weights (rare pair
  // features weigh more).
  bool surfaceFeatures = false;
  // Normal smoothing of both fragments (Fragment::InitOptions).
  int normalSmoothingPasses = surf::Fragment::kAlignmentNormalSmoothingPasses;
  // Skip the coarse search and start ICP at the true pose (the noise
  // floor of the fine alignment).
  bool startAtTruth = false;
};

// Aligns copies of a onto b; truth maps A's coordinates into B's.
PairResult AlignPair(const v3d::Geo& a, const v3d::Geo& b, const math::Frame4d& truth, const PairOptions& options);

// Poses of a ring of views against the truth, each view relative to view 0
// (so that a common motion of all views is not counted): RMS displacement
// over all vertices of views 1…n−1, the worst view's RMS and rotation error.
struct RingError {
  double rms = 0.0, worstRms = 0.0, worstAngle = 0.0;  // mm, mm, degrees
};

// A turntable ring aligned the way a turntable run does it: view k onto
// view k − 1 by coarse search with params (the known axis and the motion
// of view k onto view k − 1: minus the step angle) and ICP, chained from
// view 0, then all views together by the global fine
// registration. Errors after the chain and after the global step.
struct RingResult {
  bool ok = false;
  RingError chained, global;
  double seconds = 0.0;  // global step
};
RingResult AlignRing(const std::vector<const RigScan*>& views, const surf::CoarseRegistrationParams& params,
                     const surf::GlobalFineParams& global, std::uint64_t seed);

}  // namespace sim::testing
