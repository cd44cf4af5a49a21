#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "foundation/math/Vec.h"
#include "surf/align/RelationTable.h"

namespace surf {

// Per-vertex weights that favour vertices whose oriented-pair features are
// rare on the scan. A first pass of random vertex pairs marks the bins of
// their features in a one-bit table (100 distance bins up to twice the
// scan's radius, 100 angle bins); a second pass counts, per vertex, the
// pairs it took part in and those whose bin was not marked. The weight is
// unmarked / sampled (0 for a vertex never sampled), in 0…1.
class SimilarityRating {
 public:
  struct Options {
    std::uint64_t firstPassPairs = 5'000'000;
    std::uint64_t secondPassPairs = 20'000'000;
    // 0: seeded from the system's random device.
    std::uint64_t seed = 0;
  };

  SimilarityRating() = default;
  // positions and normals (same length, at least 2) of one scan; radius its
  // largest distance from the centroid (positive).
  void Compute(const std::vector<math::Vec3f>& positions, const std::vector<math::Vec3f>& normals,
               float radius, const Options& options);

  const std::vector<float>& GetWeights() const { return m_weights; }
  const RelationTableRating& GetTable() const { return m_table; }

 private:
  RelationTableRating m_table{100, 100, 1};
  std::vector<float> m_weights;
};

// Groups vertices by weight for bin-first pair sampling: weights in 0…1 fall
// into equal-width bins (a weight of 1 into the last); empty bins are
// dropped. A draw picks a bin uniformly, then a vertex of it uniformly, so
// the few vertices of high weight are drawn far more often than their share.
class VertexBinDistribution {
 public:
  static constexpr int kDefaultBins = 16;

  VertexBinDistribution() = default;
  // Only vertices with allowed[i] (when allowed is not empty) enter a bin.
  explicit VertexBinDistribution(const std::vector<float>& weights, int numBins = kDefaultBins,
                                 const std::vector<bool>& allowed = {});

  bool IsEmpty() const { return m_bins.empty(); }
  std::size_t GetNumBins() const { return m_bins.size(); }
  const std::vector<std::uint32_t>& GetBin(std::size_t i) const { return m_bins[i]; }
  // A vertex index; the distribution must not be empty.
  std::uint32_t Draw(std::mt19937& rng) const;

 private:
  std::vector<std::vector<std::uint32_t>> m_bins;
};

}  // namespace surf
