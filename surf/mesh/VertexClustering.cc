#include "surf/mesh/VertexClustering.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

namespace surf {
namespace {

constexpr std::uint32_t kDropped = 0xffffffffu;

// Cells are numbered with 21 bits per axis; coordinates beyond ±2^20 cells
// wrap, which only merges cells a million cell sizes apart.
std::uint64_t CellKey(const math::Vec3f& p, double inverseCell) {
  std::uint64_t key = 0;
  for (int k = 0; k < 3; ++k) {
    const auto c = static_cast<std::int64_t>(std::floor(double(p[k]) * inverseCell));
    key = (key << 21) | (static_cast<std::uint64_t>(c) & 0x1fffffu);
  }
  return key;
}

struct TriangleHash {
  std::size_t operator()(const std::array<std::uint32_t, 3>& t) const {
    return std::hash<std::uint64_t>()((std::uint64_t(t[0]) << 42) ^ (std::uint64_t(t[1]) << 21) ^ t[2]);
  }
};

}  // namespace

MeshArrays ClusterVertices(const MeshArrays& mesh, double cellSize) {
  if (!(cellSize > 0.0) || !std::isfinite(cellSize))
    throw std::invalid_argument("surf::ClusterVertices - the cell size must be positive and finite.");
  std::string error;
  if (!mesh.IsValid(&error)) throw std::invalid_argument("surf::ClusterVertices - " + error + ".");
  const double inverseCell = 1.0 / cellSize;
  const std::size_t n = mesh.positions.size();

  std::unordered_map<std::uint64_t, std::uint32_t> cells;
  std::vector<std::uint32_t> mapping(n, kDropped);
  std::vector<math::Vec3d> sums, normalSums;
  std::vector<std::uint32_t> counts, firsts;
  for (std::size_t i = 0; i < n; ++i) {
    const math::Vec3f& p = mesh.positions[i];
    if (!(std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]))) continue;
    const auto [it, added] = cells.try_emplace(CellKey(p, inverseCell), std::uint32_t(sums.size()));
    if (added) {
      sums.emplace_back();
      normalSums.emplace_back();
      counts.push_back(0);
      firsts.push_back(std::uint32_t(i));
    }
    const std::uint32_t c = it->second;
    mapping[i] = c;
    sums[c] += math::Vec3d(p);
    if (!mesh.normals.empty()) normalSums[c] += math::Vec3d(mesh.normals[i]);
    ++counts[c];
  }

  MeshArrays out;
  out.positions.resize(sums.size());
  for (std::size_t c = 0; c < sums.size(); ++c) out.positions[c] = math::Vec3f(sums[c] / double(counts[c]));
  if (!mesh.normals.empty()) {
    out.normals.resize(sums.size());
    for (std::size_t c = 0; c < sums.size(); ++c) {
      const double length = normalSums[c].Length();
      out.normals[c] = length > 0.0 ? math::Vec3f(normalSums[c] / length) : math::Vec3f(0.f, 0.f, 0.f);
    }
  }
  for (const std::uint32_t first : firsts) {
    if (!mesh.colors.empty()) out.colors.push_back(mesh.colors[first]);
    if (!mesh.texCoords.empty()) out.texCoords.push_back(mesh.texCoords[first]);
  }
  out.texture = mesh.texture;

  std::unordered_set<std::array<std::uint32_t, 3>, TriangleHash> seen;
  for (std::size_t t = 0; t + 2 < mesh.indices.size(); t += 3) {
    const std::uint32_t a = mapping[mesh.indices[t]], b = mapping[mesh.indices[t + 1]],
                        c = mapping[mesh.indices[t + 2]];
    if (a == kDropped || b == kDropped || c == kDropped || a == b || b == c || a == c) continue;
    std::array<std::uint32_t, 3> key{a, b, c};
    std::sort(key.begin(), key.end());
    if (!seen.insert(key).second) continue;
    out.indices.insert(out.indices.end(), {a, b, c});
  }
  return out;
}

}  // namespace surf
