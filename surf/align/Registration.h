#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "foundation/math/Frame.h"
#include "foundation/utils/Progress.h"
#include "surf/align/FineAlignment.h"
#include "surf/align/Fragment.h"
#include "surf/align/Ransam3d.h"

namespace v3d {
class Geo;
}

namespace surf {

// One scan as the registration functions see it: its scene node, whose
// frame (parent_T_scan) they move, its fragment, and how to build the
// fragment. Both pointers are the caller's; scans of one call share a
// parent node.
struct AlignScan {
  v3d::Geo* geo = nullptr;
  Fragment* fragment = nullptr;
  Fragment::InitOptions prepare;
};

// Prior knowledge and limits of a coarse registration. Axis and axis point
// are in the scans' local coordinates, angles in radians; restrictions are
// vertex indices counted over the scan's meshes (empty: none). The pose
// lists hold candidate node frames of A (parent coordinates).
struct CoarseRegistrationParams {
  std::optional<math::Vec3d> axis;
  std::optional<math::Vec3d> axisPoint;
  std::optional<double> angle;
  double angleTolerance = 0.0;
  std::vector<std::uint32_t> restrictionA;
  std::vector<std::uint32_t> restrictionB;
  double effort = 1.0;
  PoseList posesToAvoid;
  PoseList posesToKeep;
  int numThreads = 0;
};

// The statistics of a pairwise fine alignment, for the shell's report. All
// zero (valid false) when the preconditions failed or the fit failed.
struct PairAlignmentInfo {
  bool valid = false;
  // A's local coordinates into B's after the alignment.
  math::Frame4d relativePose;
  // How far the alignment moved A: its centroid (mm) and its rotation (rad).
  double translation = 0.0;
  double rotation = 0.0;
  int iterations = 0;
  std::int64_t acceptedSamples = 0;  // in the last iteration
  // Of A's tested vertices: those whose nearest B point m lies within the
  // ICP distance with agreeing normals (dot > 0.75) and whose foot point on
  // m's tangent plane lies within a resolution of m (not beyond B's
  // border); their fraction, and the RMS and mean absolute point-to-plane
  // distance over them (mm).
  std::int64_t testedVertices = 0;
  std::int64_t overlapVertices = 0;
  double inlierFraction = 0.0;
  double rmsDistance = 0.0;
  double meanDistance = 0.0;
  float distance = 0.f;  // the ICP distance r
};

// Overlap statistics of A placed in B by aToB, over at most maxVertices of
// A's vertices in shuffled order: each is tested against B's tree within
// distance; fills the overlap fields of info.
void ComputeOverlapStatistics(const Fragment& a, const Fragment& b, const math::Frame4d& aToB, float distance,
                              PairAlignmentInfo& info, std::size_t maxVertices = 100000);

// Coarse and fine alignment of scan A onto scan B, keeping the search
// engine, the best result and the prepared pair between calls (the scan
// list's alignment state).
class PairRegistration {
 public:
  // seed of the search engine; 0 takes the current time at each preparation.
  explicit PairRegistration(std::uint64_t seed = 0) : m_engine(seed) {}
  virtual ~PairRegistration() = default;

  Ransam3d& GetEngine() { return m_engine; }
  const CoarseSearchState& GetState() const { return m_state; }

  // Rebuilds both fragments (B on a second thread), starts the best result
  // at Ransam3d::kStartScore with the current relative pose (B⁻¹·A) and
  // reseeds the engine. False when an argument is missing, A and B are the
  // same scan, or a fragment cannot be built.
  bool Prepare(const AlignScan& a, const AlignScan& b);
  bool IsPrepared(const AlignScan& a, const AlignScan& b) const;

  // Finds A's pose on B without an initial guess. With keepPrepared and the
  // same pair as before, the search continues from the previous best.
  // Returns the score and moves A's node frame to B's frame × T when a
  // hypothesis beat the best so far; 0 otherwise (also for bad arguments,
  // fragments of fewer than 2 vertices, cancellation without result).
  double CoarseRegistration(const AlignScan& a, const AlignScan& b, bool keepPrepared,
                            const CoarseRegistrationParams& params, const utils::ProgressCallback& progress = {});

  // Refines the relative pose of the pair (from the last coarse alignment
  // or preparation) by ICP with A as reference and B sampled, then sets A's
  // node frame to B's frame × the pose.
  PairAlignmentInfo FineRegistration(const AlignScan& a, const AlignScan& b, bool keepPrepared,
                                     const IcpParams& params);

 private:
  bool Ready(const AlignScan& a, const AlignScan& b, bool keepPrepared);

  Ransam3d m_engine;
  CoarseSearchState m_state;
  const v3d::Geo* m_geoA = nullptr;
  const v3d::Geo* m_geoB = nullptr;
  const Fragment* m_fragmentA = nullptr;
  const Fragment* m_fragmentB = nullptr;
};

struct GlobalFineParams {
  GlobalFineParams() { icp.iterations = 3; }

  // Sweeps over the scans. Each scan follows its neighbours' current poses,
  // so corrections travel around a ring of views in several sweeps.
  int iterations = 20;
  // The ICP of each scan's step (3 iterations by default): iterations,
  // samples per fragment, distance factor, seed (step k of a run uses
  // seed + k unless it is 0).
  IcpParams icp;
  // A scan whose centroid moved farther (mm) or which turned farther
  // (degrees) than these from its frame at the start returns to that
  // frame; 0 or less: no limit.
  double translationLimit = 0.0;
  double angleLimitDegrees = 0.0;
  // Rebuild every eligible scan's fragment first.
  bool prepareFragments = true;
};

struct GlobalFineResult {
  bool ok = false;
  int eligibleScans = 0;
  // Per scan of the input: how many steps were undone by the limits.
  std::vector<int> restored;
  bool cancelled = false;
};

// True when a scan takes part in global alignment: its visibility mask
// meets the global visibility of its scene (any bit when it has none).
bool IsEnabledForGlobalAlignment(const v3d::Geo& geo);

// Refines the poses of all enabled scans against each other: in each
// iteration every enabled scan in turn is the reference of an ICP run
// against all other enabled scans at their current poses, then the
// movement limits apply against the frames saved at the start. Needs at
// least two enabled scans with fragments of 2 or more vertices.
GlobalFineResult GlobalFineRegistration(const std::vector<AlignScan>& scans, const GlobalFineParams& params,
                                        const utils::ProgressCallback& progress = {});

}  // namespace surf
