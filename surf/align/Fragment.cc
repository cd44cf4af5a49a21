#include "surf/align/Fragment.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <numeric>
#include <random>
#include <stdexcept>

#include "surf/align/AlignRandom.h"
#include "v3d/Geo.h"

namespace surf {
namespace {

bool IsFinite(const math::Vec3f& v) { return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]); }

// Mean length and number of a triangle list's edges, each edge a–b counted
// when a > b (so that an edge between two consistently wound triangles
// counts once). Triangles naming a vertex outside `valid` are skipped.
void MeanEdgeLength(const v3d::Mesh& mesh, const std::vector<bool>& valid, double& mean, std::int64_t& count) {
  mean = 0.0;
  count = 0;
  if (mesh.GetPrimSize() != 3) return;
  const auto& p = mesh.GetVertexCoords();
  const auto& prims = mesh.GetPrims();
  double sum = 0.0;
  for (std::size_t t = 0; t + 2 < prims.size(); t += 3) {
    const std::uint32_t v[3] = {prims[t], prims[t + 1], prims[t + 2]};
    if (v[0] >= p.size() || v[1] >= p.size() || v[2] >= p.size()) continue;
    if (!valid[v[0]] || !valid[v[1]] || !valid[v[2]]) continue;
    for (int e = 0; e < 3; ++e) {
      const std::uint32_t a = v[e], b = v[(e + 1) % 3];
      if (a > b) {
        sum += (p[a] - p[b]).Length();
        ++count;
      }
    }
  }
  if (count > 0) mean = sum / static_cast<double>(count);
}

}  // namespace

void Fragment::Reset() {
  m_normals.clear();
  m_tree.Clear();
  m_numVertices = 0;
  m_shuffled.clear();
  m_centroid = {};
  m_radius = 0.f;
  m_resolution = 0.f;
  m_ratingCursor = 0;
  m_edgeCount = 0;
  m_selection.clear();
  m_exclusion.clear();
  m_vertexBins.reset();
  m_vertexWeights.reset();
  m_useWeights = false;
  m_normalsInverted = false;
  m_normalNoise = 0.f;
  m_normalSmoothingPasses = 0;
  m_sourceIndex.clear();
  m_numSourceVertices = 0;
}

bool Fragment::Init(const v3d::Geo& geo, const InitOptions& options) {
  Reset();
  std::size_t total = 0;
  for (const auto& mesh : geo) {
    if (mesh->GetNumVertices() > 0 && mesh->GetVertexNormals().size() != mesh->GetNumVertices()) {
      std::cerr << "Error: Fragment::Init - A mesh of the scan has no vertex normals.\n";
      return false;
    }
    total += mesh->GetNumVertices();
  }
  if (total > 0x3FFFFFFFu) {
    std::cerr << "Error: Fragment::Init - The scan has too many vertices.\n";
    return false;
  }
  m_numSourceVertices = total;
  m_normalsInverted = options.normalsInverted;
  const float sign = options.normalsInverted ? -1.f : 1.f;

  std::vector<math::Vec3f> positions;
  positions.reserve(total);
  m_normals.reserve(total);
  std::vector<std::uint64_t> sourceIndex;
  sourceIndex.reserve(total);
  double resolution = 0.0;
  std::int64_t edges = 0;
  std::uint64_t source = 0;
  std::vector<std::vector<std::int32_t>> meshVertices;
  for (const auto& mesh : geo) {
    const auto& p = mesh->GetVertexCoords();
    const auto& n = mesh->GetVertexNormals();
    std::vector<bool> valid(p.size(), false);
    auto& fragmentIndex = meshVertices.emplace_back(p.size(), -1);
    for (std::size_t i = 0; i < p.size(); ++i, ++source) {
      math::Vec3f normal = n[i];
      const float length = normal.Length();
      if (!IsFinite(p[i]) || !std::isfinite(length) || !(length > 0.f)) continue;
      valid[i] = true;
      fragmentIndex[i] = static_cast<std::int32_t>(positions.size());
      positions.push_back(p[i]);
      m_normals.push_back(normal * (sign / length));
      sourceIndex.push_back(source);
    }
    double mean;
    std::int64_t count;
    MeanEdgeLength(*mesh, valid, mean, count);
    if (count > 0) {
      resolution = (resolution * static_cast<double>(edges) + mean * static_cast<double>(count)) /
                   static_cast<double>(edges + count);
      edges += count;
    }
  }
  if (positions.size() != total) m_sourceIndex = std::move(sourceIndex);
  m_numVertices = static_cast<std::int32_t>(positions.size());
  if (options.normalSmoothingPasses > 0) SmoothNormals(geo, meshVertices, options.normalSmoothingPasses);
  m_edgeCount = static_cast<std::int32_t>(std::min<std::int64_t>(edges, 0x7FFFFFFF));

  if (m_numVertices > 0) {
    math::Vec3d sum;
    for (const auto& p : positions) sum += math::Vec3d(p);
    const math::Vec3d centroid = sum / static_cast<double>(m_numVertices);
    m_centroid = math::Vec3f(centroid);
    double radius = 0.0;
    for (const auto& p : positions) radius = std::max(radius, (math::Vec3d(p) - centroid).LengthSquared());
    m_radius = static_cast<float>(std::sqrt(radius));
  }
  m_resolution = static_cast<float>(resolution);
  if (m_resolution <= 0.f) m_resolution = m_radius / 200.f;
  Shuffle(options.shuffleSeed);
  m_tree.Build(std::move(positions), m_normals);

  if (options.useTexture && options.texture && !options.texture->IsEmpty()) {
    SelectTextureFeatures(geo, *options.texture, options.useTexturePercentage);
  }
  if (options.useSurfaceFeatures && m_numVertices >= 2 && m_radius > 0.f) {
    m_vertexWeights = std::make_shared<SimilarityRating>();
    m_vertexWeights->Compute(GetPositions(), m_normals, m_radius, options.surfaceFeatures);
    m_vertexBins = std::make_shared<VertexBinDistribution>(m_vertexWeights->GetWeights(),
                                                           VertexBinDistribution::kDefaultBins, m_selection);
    m_useWeights = true;
  }
  return true;
}

void Fragment::SmoothNormals(const v3d::Geo& geo, const std::vector<std::vector<std::int32_t>>& meshVertices,
                             int maxPasses) {
  // The edges once per triangle side (an inner edge then counts twice, and
  // each side adds half of the neighbour's normal).
  std::vector<std::pair<std::int32_t, std::int32_t>> edges;
  std::size_t sides = 0;
  for (const auto& mesh : geo) sides += mesh->GetPrimSize() == 3 ? mesh->GetPrims().size() : 0;
  edges.reserve(sides);
  std::size_t m = 0;
  for (const auto& mesh : geo) {
    const auto& index = meshVertices[m++];
    if (mesh->GetPrimSize() != 3) continue;
    const auto& prims = mesh->GetPrims();
    for (std::size_t t = 0; t + 2 < prims.size(); t += 3) {
      std::int32_t v[3];
      for (int k = 0; k < 3; ++k) v[k] = prims[t + k] < index.size() ? index[prims[t + k]] : -1;
      if (v[0] < 0 || v[1] < 0 || v[2] < 0) continue;
      for (int k = 0; k < 3; ++k) edges.emplace_back(v[k], v[(k + 1) % 3]);
    }
  }
  if (edges.empty()) return;
  std::vector<math::Vec3f> sum(m_normals.size());
  // The noise: each normal against the mean of its neighbours'.
  for (const auto& [a, b] : edges) {
    sum[a] += m_normals[b];
    sum[b] += m_normals[a];
  }
  std::vector<float> angles;
  angles.reserve(sum.size());
  for (std::size_t i = 0; i < sum.size(); ++i) {
    const float length = sum[i].Length();
    if (!(length > 1e-6f) || !std::isfinite(length)) continue;
    angles.push_back(std::acos(std::clamp(math::Dot(sum[i] / length, m_normals[i]), -1.f, 1.f)));
  }
  if (angles.empty()) return;
  const auto middle = angles.begin() + static_cast<std::ptrdiff_t>(angles.size() / 2);
  std::nth_element(angles.begin(), middle, angles.end());
  m_normalNoise = *middle;
  const float wanted = std::ceil(m_normalNoise / kNormalNoisePerPass);
  const int passes = static_cast<int>(std::clamp(wanted, 0.f, static_cast<float>(maxPasses)));
  m_normalSmoothingPasses = passes;
  for (int pass = 0; pass < passes; ++pass) {
    sum = m_normals;
    for (const auto& [a, b] : edges) {
      sum[a] += m_normals[b] * 0.5f;
      sum[b] += m_normals[a] * 0.5f;
    }
    for (std::size_t i = 0; i < sum.size(); ++i) {
      const float length = sum[i].Length();
      // Opposed neighbours may cancel: the normal then stays.
      if (length > 1e-6f && std::isfinite(length)) m_normals[i] = sum[i] / length;
    }
  }
}

void Fragment::Shuffle(std::uint64_t seed) {
  m_shuffled.resize(static_cast<std::size_t>(m_numVertices));
  std::iota(m_shuffled.begin(), m_shuffled.end(), 0u);
  std::mt19937 rng(static_cast<std::mt19937::result_type>(ResolveSeed(seed)));
  for (std::size_t i = m_shuffled.size(); i > 1; --i) {
    std::swap(m_shuffled[i - 1], m_shuffled[UniformIndex(rng, static_cast<std::uint32_t>(i))]);
  }
  m_ratingCursor = 0;
}

void Fragment::SetSelection(std::vector<bool> selection) {
  if (!selection.empty() && selection.size() != static_cast<std::size_t>(m_numVertices)) {
    throw std::invalid_argument("Fragment::SetSelection - The selection does not match the vertices.");
  }
  m_selection = std::move(selection);
}

void Fragment::SetExclusion(std::vector<bool> exclusion) {
  if (!exclusion.empty() && exclusion.size() != static_cast<std::size_t>(m_numVertices)) {
    throw std::invalid_argument("Fragment::SetExclusion - The exclusion does not match the vertices.");
  }
  m_exclusion = std::move(exclusion);
}

const std::vector<float>& Fragment::GetVertexWeights() const {
  static const std::vector<float> kNoWeights;
  return m_vertexWeights ? m_vertexWeights->GetWeights() : kNoWeights;
}

std::int64_t Fragment::ToFragmentIndex(std::uint64_t sourceIndex) const {
  if (sourceIndex >= m_numSourceVertices) return -1;
  if (m_sourceIndex.empty()) return static_cast<std::int64_t>(sourceIndex);
  const auto it = std::lower_bound(m_sourceIndex.begin(), m_sourceIndex.end(), sourceIndex);
  if (it == m_sourceIndex.end() || *it != sourceIndex) return -1;
  return it - m_sourceIndex.begin();
}

std::uint64_t Fragment::GetSourceIndex(std::uint32_t fragmentIndex) const {
  return m_sourceIndex.empty() ? fragmentIndex : m_sourceIndex.at(fragmentIndex);
}

std::vector<bool> Fragment::MakeVertexSet(const std::vector<std::uint32_t>& sourceIndices) const {
  std::vector<bool> set(static_cast<std::size_t>(m_numVertices), false);
  for (const std::uint32_t s : sourceIndices) {
    const std::int64_t i = ToFragmentIndex(s);
    if (i >= 0) set[static_cast<std::size_t>(i)] = true;
  }
  return set;
}

void Fragment::SelectTextureFeatures(const v3d::Geo& geo, const img::RGBImage& texture, int percentage) {
  const int w = static_cast<int>(texture.width), h = static_cast<int>(texture.height);
  std::vector<int> grey(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const img::RGB8& c = texture(x, y);
      grey[static_cast<std::size_t>(y) * w + x] = (int(c.r) + int(c.g) + int(c.b)) / 3;
    }
  }
  // Sobel edge strength |Gx| + |Gy|; border pixels 0.
  std::vector<int> edge(grey.size(), 0);
  const auto g = [&](int x, int y) { return grey[static_cast<std::size_t>(y) * w + x]; };
  for (int y = 1; y + 1 < h; ++y) {
    for (int x = 1; x + 1 < w; ++x) {
      const int gx = (g(x + 1, y - 1) + 2 * g(x + 1, y) + g(x + 1, y + 1)) -
                     (g(x - 1, y - 1) + 2 * g(x - 1, y) + g(x - 1, y + 1));
      const int gy = (g(x - 1, y + 1) + 2 * g(x, y + 1) + g(x + 1, y + 1)) -
                     (g(x - 1, y - 1) + 2 * g(x, y - 1) + g(x + 1, y - 1));
      edge[static_cast<std::size_t>(y) * w + x] = std::abs(gx) + std::abs(gy);
    }
  }
  const auto [lo, hi] = std::minmax_element(edge.begin(), edge.end());
  const int minEdge = *lo, range = *hi - *lo;

  std::vector<int> value;
  value.reserve(static_cast<std::size_t>(m_numVertices));
  for (const auto& mesh : geo) {
    const auto& p = mesh->GetVertexCoords();
    const auto& n = mesh->GetVertexNormals();
    const auto& uv = mesh->GetVertexTexCoords();
    for (std::size_t i = 0; i < p.size(); ++i) {
      if (!IsFinite(p[i]) || !std::isfinite(n[i].Length()) || !(n[i].Length() > 0.f)) continue;
      int v = 0;
      if (i < uv.size() && std::isfinite(uv[i][0]) && std::isfinite(uv[i][1]) && range > 0) {
        const int x = std::clamp(static_cast<int>(std::floor(std::clamp(uv[i][0], 0.f, 1.f) * float(w - 1))), 0, w - 1);
        const int y = std::clamp(static_cast<int>(std::floor(std::clamp(uv[i][1], 0.f, 1.f) * float(h - 1))), 0, h - 1);
        const std::int64_t e = edge[static_cast<std::size_t>(y) * w + x] - minEdge;
        v = static_cast<int>(e * 1023 / range);
      }
      value.push_back(v);
    }
  }
  const std::int64_t n = static_cast<std::int64_t>(value.size());
  std::vector<std::int64_t> histogram(1024, 0);
  for (const int v : value) ++histogram[static_cast<std::size_t>(v)];
  const std::int64_t p = std::clamp(percentage, 0, 99);
  std::int64_t keep = (100 - p) * n / 100;
  if (keep < 2) keep = std::min<std::int64_t>(n, 2);
  int threshold = 0;
  std::int64_t sum = 0;
  for (int bin = 1023; bin >= 0; --bin) {
    sum += histogram[static_cast<std::size_t>(bin)];
    if (sum >= keep) {
      threshold = bin;
      break;
    }
  }
  m_selection.assign(value.size(), false);
  for (std::size_t i = 0; i < value.size(); ++i) m_selection[i] = value[i] >= threshold;
}

}  // namespace surf
