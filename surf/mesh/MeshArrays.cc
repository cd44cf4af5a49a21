#include "surf/mesh/MeshArrays.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <stdexcept>

namespace surf {
namespace {

template <typename T>
bool CheckAttribute(const std::vector<T>& values, std::size_t numVertices, const char* name,
                    std::string* error) {
  if (values.empty() || values.size() == numVertices) return true;
  if (error) {
    *error = std::to_string(values.size()) + " " + name + " for " + std::to_string(numVertices) +
             " vertices";
  }
  return false;
}

// The sort key of a coordinate: the order of floats, with -0 and +0 equal.
std::uint32_t OrderKey(float value) {
  if (value == 0.f) value = 0.f;
  const auto bits = std::bit_cast<std::uint32_t>(value);
  return (bits & 0x80000000u) ? ~bits : bits | 0x80000000u;
}

struct KeyedVertex {
  std::uint32_t key[3];
  std::uint32_t index;
  bool SamePosition(const KeyedVertex& o) const {
    return key[0] == o.key[0] && key[1] == o.key[1] && key[2] == o.key[2];
  }
  friend bool operator<(const KeyedVertex& a, const KeyedVertex& b) {
    if (a.key[0] != b.key[0]) return a.key[0] < b.key[0];
    if (a.key[1] != b.key[1]) return a.key[1] < b.key[1];
    if (a.key[2] != b.key[2]) return a.key[2] < b.key[2];
    return a.index < b.index;
  }
};

// For every vertex the first vertex with the same position.
std::vector<std::uint32_t> FirstOccurrences(const std::vector<math::Vec3f>& positions) {
  std::vector<std::uint32_t> first(positions.size());
  std::vector<KeyedVertex> keyed;
  keyed.reserve(positions.size());
  for (std::uint32_t i = 0; i < positions.size(); ++i) {
    first[i] = i;
    const math::Vec3f& p = positions[i];
    if (std::isnan(p[0]) || std::isnan(p[1]) || std::isnan(p[2])) continue;
    keyed.push_back({{OrderKey(p[0]), OrderKey(p[1]), OrderKey(p[2])}, i});
  }
  std::sort(keyed.begin(), keyed.end());
  for (std::size_t i = 1; i < keyed.size(); ++i) {
    if (keyed[i].SamePosition(keyed[i - 1])) first[keyed[i].index] = first[keyed[i - 1].index];
  }
  return first;
}

}  // namespace

bool MeshArrays::IsValid(std::string* error) const {
  const std::size_t n = positions.size();
  if (indices.size() % 3 != 0) {
    if (error) *error = std::to_string(indices.size()) + " indices are not whole triangles";
    return false;
  }
  for (std::uint32_t index : indices) {
    if (index >= n) {
      if (error) {
        *error = "index " + std::to_string(index) + " is not below the vertex count " + std::to_string(n);
      }
      return false;
    }
  }
  return CheckAttribute(texCoords, n, "texture coordinates", error) &&
         CheckAttribute(normals, n, "normals", error) && CheckAttribute(colors, n, "colours", error);
}

VertexUnification UnifyIdenticalVertices(const std::vector<math::Vec3f>& positions,
                                         const std::vector<std::uint32_t>& indices) {
  const std::size_t numOld = positions.size();
  for (std::uint32_t index : indices) {
    if (index >= numOld) {
      throw std::invalid_argument("surf::UnifyIdenticalVertices - index " + std::to_string(index) +
                                  " is not below the vertex count " + std::to_string(numOld) + ".");
    }
  }
  const std::vector<std::uint32_t> first = FirstOccurrences(positions);

  VertexUnification result;
  result.indices.reserve(indices.size());
  std::vector<bool> used(numOld, false);
  for (std::size_t t = 0; t + 3 <= indices.size(); t += 3) {
    const std::uint32_t a = first[indices[t]], b = first[indices[t + 1]], c = first[indices[t + 2]];
    if (a == b || b == c || a == c) continue;
    result.indices.insert(result.indices.end(), {a, b, c});
    result.keptTriangles.push_back(static_cast<std::uint32_t>(t / 3));
    used[a] = used[b] = used[c] = true;
  }
  result.mapping.assign(numOld, -1);
  std::int32_t next = 0;
  for (std::size_t i = 0; i < numOld; ++i) {
    if (used[i]) result.mapping[i] = next++;
  }
  result.numVertices = static_cast<std::uint32_t>(next);
  for (std::uint32_t& index : result.indices) index = static_cast<std::uint32_t>(result.mapping[index]);
  return result;
}

void UnifyIdenticalVertices(MeshArrays& mesh) {
  std::string error;
  if (!mesh.IsValid(&error)) throw std::invalid_argument("surf::UnifyIdenticalVertices - " + error + ".");
  VertexUnification u = UnifyIdenticalVertices(mesh.positions, mesh.indices);
  mesh.positions = u.Remap(mesh.positions);
  if (!mesh.texCoords.empty()) mesh.texCoords = u.Remap(mesh.texCoords);
  if (!mesh.normals.empty()) mesh.normals = u.Remap(mesh.normals);
  if (!mesh.colors.empty()) mesh.colors = u.Remap(mesh.colors);
  mesh.indices = std::move(u.indices);
}

}  // namespace surf
