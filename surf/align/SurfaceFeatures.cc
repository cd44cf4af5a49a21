#include "surf/align/SurfaceFeatures.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "surf/align/AlignRandom.h"

namespace surf {

void SimilarityRating::Compute(const std::vector<math::Vec3f>& positions, const std::vector<math::Vec3f>& normals,
                               float radius, const Options& options) {
  if (positions.size() != normals.size() || positions.size() < 2 || positions.size() > 0xFFFFFFFFu) {
    throw std::invalid_argument("SimilarityRating::Compute - Need at least two points with normals.");
  }
  if (!(radius > 0.f) || !std::isfinite(radius)) {
    throw std::invalid_argument("SimilarityRating::Compute - The radius must be positive.");
  }
  m_table.SetMaxDistance(2.f * radius);
  m_table.Clear();
  std::uint64_t seed = options.seed;
  if (seed == 0) seed = std::random_device{}();
  std::mt19937 rng(static_cast<std::mt19937::result_type>(seed));
  const auto n = static_cast<std::uint32_t>(positions.size());
  const auto drawPair = [&](std::uint32_t& i, std::uint32_t& j) {
    i = UniformIndex(rng, n);
    do {
      j = UniformIndex(rng, n);
    } while (j == i);
  };

  std::uint32_t i, j;
  for (std::uint64_t k = 0; k < options.firstPassPairs; ++k) {
    drawPair(i, j);
    m_table.Mark(m_table.ComputeEntry(positions[i], normals[i], positions[j], normals[j]));
  }
  std::vector<std::uint32_t> sampled(n, 0), unmarked(n, 0);
  for (std::uint64_t k = 0; k < options.secondPassPairs; ++k) {
    drawPair(i, j);
    const std::int64_t entry = m_table.ComputeEntry(positions[i], normals[i], positions[j], normals[j]);
    if (entry < 0) continue;
    ++sampled[i];
    ++sampled[j];
    if (!m_table.IsMarked(entry)) {
      ++unmarked[i];
      ++unmarked[j];
    }
  }
  m_weights.assign(n, 0.f);
  for (std::uint32_t v = 0; v < n; ++v) {
    if (sampled[v]) m_weights[v] = static_cast<float>(unmarked[v]) / static_cast<float>(sampled[v]);
  }
}

VertexBinDistribution::VertexBinDistribution(const std::vector<float>& weights, int numBins,
                                             const std::vector<bool>& allowed) {
  if (numBins < 1) throw std::invalid_argument("VertexBinDistribution - Need at least one bin.");
  if (!allowed.empty() && allowed.size() != weights.size()) {
    throw std::invalid_argument("VertexBinDistribution - The allowed set does not match the weights.");
  }
  std::vector<std::vector<std::uint32_t>> bins(static_cast<std::size_t>(numBins));
  for (std::size_t v = 0; v < weights.size(); ++v) {
    if (!allowed.empty() && !allowed[v]) continue;
    const float w = std::isfinite(weights[v]) ? std::clamp(weights[v], 0.f, 1.f) : 0.f;
    const int bin = std::min(numBins - 1, static_cast<int>(w * static_cast<float>(numBins)));
    bins[static_cast<std::size_t>(bin)].push_back(static_cast<std::uint32_t>(v));
  }
  for (auto& bin : bins) {
    if (!bin.empty()) m_bins.push_back(std::move(bin));
  }
}

std::uint32_t VertexBinDistribution::Draw(std::mt19937& rng) const {
  const auto& bin = m_bins[UniformIndex(rng, static_cast<std::uint32_t>(m_bins.size()))];
  return bin[UniformIndex(rng, static_cast<std::uint32_t>(bin.size()))];
}

}  // namespace surf
