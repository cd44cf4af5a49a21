#pragma once

#include <cstdint>
#include <vector>

#include "foundation/math/Frame.h"
#include "foundation/math/Vec.h"
#include "surf/align/Fragment.h"

namespace surf {

// The frame with its rotation part replaced by the nearest rotation, so
// that long chains of products and transposed inverses stay rigid (their
// rounding errors would otherwise grow with every round trip).
math::Frame4d NearestRigid(const math::Frame4d& frame);

// Sums of point pairs (q, t) for the least-squares rigid motion that moves
// the q onto the t (Kabsch: SVD of the cross-covariance, with the sign of
// the smallest axis fixed so that the result is a rotation). In double.
class RigidFitAccumulator {
 public:
  void Add(const math::Vec3d& q, const math::Vec3d& t);
  std::int64_t GetCount() const { return m_count; }
  // [R | t] minimising Σ |R q + t − t_i|². False for fewer than 3 pairs or a
  // degenerate spread (the points on a line or in one spot, or non-finite
  // sums).
  bool Solve(math::Frame4d& motion) const;

 private:
  std::int64_t m_count = 0;
  double m_sumQ[3] = {0, 0, 0};
  double m_sumT[3] = {0, 0, 0};
  double m_sumTQ[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};  // Σ t qᵀ, row-major
};

// Point-to-plane fit: the rigid motion that minimises
//   Σ (n_i·e_i)² + kTangentialWeight · |e_i − n_i (n_i·e_i)|²,  e_i = R q_i + t − t_i,
// linearised about the current pose (rotation about the samples' mean):
// the distances of the moved samples to their targets' tangent planes, plus
// a weak pull towards the foot points along the planes. The weak term keeps
// the directions that the surface does not constrain (a sphere turning
// about its centre, a plane sliding in itself, a vase turning about its
// axis) from drifting with the noise, and lets the others converge in a few
// iterations, where the plain fit to the foot points slides slowly.
class PointToPlaneAccumulator {
 public:
  static constexpr double kTangentialWeight = 0.05;

  void Add(const math::Vec3d& q, const math::Vec3d& t, const math::Vec3d& n);
  std::int64_t GetCount() const { return m_q.size(); }
  // False for fewer than 3 samples, samples in one spot, or non-finite or
  // singular equations.
  bool Solve(math::Frame4d& motion) const;

 private:
  std::vector<math::Vec3d> m_q, m_t, m_n;
};

// How each ICP iteration fits the motion to the (sample, foot point) pairs.
enum class IcpFit {
  kPointToPlane,  // PointToPlaneAccumulator: converges in a few iterations
  kFootPoint,     // RigidFitAccumulator: the closed-form fit to the foot points
};

struct IcpParams {
  IcpFit fit = IcpFit::kPointToPlane;
  int iterations = 20;
  // Samples per iteration = (number of sampled fragments + 1) × this.
  int samplesPerFragment = 1000;
  // Search distance r = largest resolution of the fragments × this.
  double distanceFactor = 4.0;
  // A sample also needs its foot point within this many resolutions of f
  // (the sample lies over the part of F's surface that f stands for, not
  // beyond F's border); 0 or less: no such test.
  double footPointFactor = 1.0;
  // Seed of the sample generator; 0 takes the current time.
  std::uint64_t seed = 0;
  // A capture stage before the iterations above: captureIterations
  // iterations with the search distance max(r, F's radius × captureAngle)
  // (angle in radians); 0 iterations: none, the plain run. A start turned a
  // few degrees off moves the far side of a scan by millimetres, beyond the
  // plain distance of a finely sampled scan: the wide stage pulls it in,
  // and the plain iterations then fit with the tight distance. The
  // distance follows the scan's size, as the displacement of a turn does,
  // not its sampling: on coarse scans the plain distance already reaches as
  // far, and a distance of many resolutions there admits samples from
  // neighbouring bumps that pull a fit off the truth.
  int captureIterations = 0;
  double captureAngle = 0.05;
};

// The ICP of pairwise alignment after a coarse search (the scan list, the
// align command): the plain run after a capture stage of 10 iterations
// (captureAngle 0.05: about 2 mm on a view of a 40 mm blob, 8 resolutions of
// a 0.25 mm scan). A coarse pose of such scans is 1 to 4° off; on rig scans
// of the blob 45° apart (smoothed fragment normals) the plain 20 iterations
// converge from starts 3° off but only in half the cases from 6 to 8°, with
// the capture stage in every case from 8°, ending within 0.01 mm.
IcpParams PairwiseIcpParams();

struct IcpStats {
  int iterations = 0;
  std::int64_t acceptedLastIteration = 0;
  std::int64_t acceptedTotal = 0;
  float distance = 0.f;  // r of the last iteration
};

// The iterative-closest-point core. F answers nearest-point queries; each
// sampled fragment S_i comes with poses[i], which maps F's local
// coordinates into S_i's (F_T_… inverted: S_i_T_F). Per iteration random
// vertices of the S_i are carried into F's coordinates; a sample counts when
// its nearest F point f lies within r, its foot point on f's tangent plane
// lies within footPointFactor resolutions of f, the normals agree (dot > 0.75), the
// nearest S_i point m of f lies within |d₁| + r, neither f nor m nor the
// sample is excluded, and the signed distances agree (|d₁ − d₂| < r). The
// target of a sample is its foot point on f's tangent plane; with more than
// two samples the rigid fit moves every S_i (in F's coordinates) onto the
// targets. All iterations run. False (poses restored) when the fit fails,
// the inputs are empty or r is not positive; poses unchanged in an
// iteration with fewer than three samples. The capture iterations run
// first, with their wider r.
bool RunIcp(const Fragment& f, const std::vector<const Fragment*>& sampled, std::vector<math::Frame4d>& poses,
            const IcpParams& params, IcpStats* stats = nullptr);

}  // namespace surf
