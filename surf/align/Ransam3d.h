#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include "foundation/math/Frame.h"
#include "foundation/utils/Progress.h"
#include "surf/align/Fragment.h"

namespace surf {

// Poses that a coarse result must avoid or stay near: each pose maps A's
// local coordinates into B's. A transform T is similar to a pose P when
// |P·c − T·c| ≤ linear tolerance (c = A's centroid; skipped when the
// tolerance is ≤ 0) and the rotation between T and P is at most the angular
// tolerance (radians; skipped when ≤ 0).
struct PoseList {
  std::vector<math::Frame4d> poses;
  double linearTolerance = 0.0;
  double angularTolerance = 0.0;
};

// What one coarse search looks for. Axis, axis point and angle are optional
// prior knowledge (a turntable): the axis (any length, not zero) and the
// point are given in the scans' local coordinates, which a fixed scanner
// shares between scans; the angle and its tolerance are radians.
struct CoarseSearchParams {
  std::optional<math::Vec3d> axis;
  std::optional<math::Vec3d> axisPoint;
  std::optional<double> angle;
  double angleTolerance = 0.0;
  // Vertices (fragment indices) to which sampling is restricted; empty:
  // the fragment's selection, or every vertex. A matched pair must lie in
  // the restriction too.
  std::vector<bool> restrictionA;
  std::vector<bool> restrictionB;
  // Scales the number of hypotheses; 0 draws none.
  double effort = 1.0;
  PoseList posesToAvoid;
  PoseList posesToKeep;
  // 0: OpenMP's default thread count.
  int numThreads = 0;
};

// The best coarse result so far: a score (inlier estimate) and the
// transform mapping A's local coordinates into B's. A search continues from
// it; a fresh preparation starts it at kStartScore with the current pose.
struct CoarseSearchState {
  double bestScore = 0.05;
  math::Frame4d bestTransform;
};

// The random search of coarse alignment: draws oriented point pairs in
// both fragments, matches them through the fragments' pair tables, derives
// a transform from each match (or, with a known axis, from single point
// correspondences), and rates it by a sequential test of how many of A's
// points land on B with compatible normals.
//
// Threads: hypotheses run on OpenMP threads in rounds of kRoundSize per
// thread, each thread with its own generator seeded from the engine's. In a
// round the threads only read the pair tables and the shared best score;
// at the end of the round one thread, in thread order, applies the pairs
// they stored and merges their best results into the shared best. Each
// thread rates with its own cursor into A's shuffled order. So a fixed seed,
// the same fragments and the same thread count give the same result.
class Ransam3d {
 public:
  static constexpr double kStartScore = 0.05;
  static constexpr int kMaxAttempts = 100;
  static constexpr int kRoundSize = 16;
  static constexpr int kRatingBlock = 50;

  struct Stats {
    std::int64_t hypotheses = 0;   // planned
    std::int64_t generated = 0;    // transforms that passed every test
    std::int64_t improvements = 0;
    int threads = 0;
    bool cancelled = false;
  };

  // seed 0: the current time in milliseconds at each Reseed.
  explicit Ransam3d(std::uint64_t seed = 0) : m_seed(seed) {}
  virtual ~Ransam3d() = default;

  void SetSeed(std::uint64_t seed) { m_seed = seed; }
  std::uint64_t GetSeed() const { return m_seed; }
  // Restarts the master generator from the seed.
  void Reseed();
  float GetInlierTolerance() const { return m_inlierTolerance; }
  const Stats& GetLastStats() const { return m_stats; }

  // Searches for a transform of A onto B that beats state.bestScore; true
  // when one did (state updated). False without change for fragments of
  // fewer than 2 vertices, no hypotheses, restrictions that leave too few
  // vertices, fragments without extent, or cancellation before a better
  // result. Both pair tables are reset for the search.
  bool Search(Fragment& a, Fragment& b, const CoarseSearchParams& params, CoarseSearchState& state,
              const utils::ProgressCallback& progress = {});

 private:
  std::uint64_t m_seed;
  std::mt19937 m_rng;  // default seed 5489
  std::int32_t m_reserved = -1;
  float m_inlierTolerance = 0.f;
  Stats m_stats;
};

// The rotation angle of a frame's rotation part, in [0, π].
double RotationAngle(const math::Frame4d& frame);

// The turn of a frame's rotation about the direction axis (any length, not
// zero), right-handed, in (−π, π]: atan2(sin φ · (u·a), cos φ) for the
// rotation by φ about the unit u. Exact when u is ±a; a rotation about
// another direction counts by its share along a. 0 for a zero axis.
double RotationAngleAbout(const math::Frame4d& frame, const math::Vec3d& axis);

}  // namespace surf
