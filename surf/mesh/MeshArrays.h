#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/img/UniImage.h"
#include "foundation/math/Vec.h"
#include "v3d/Color.h"

namespace surf {

// A triangle mesh as plain arrays: the form in which meshes come from and go
// to the exchange formats (STL, OBJ, PLY, 3MF). Positions in mm. Texture
// coordinates address the texture as stored, rows from the top: v = 0 is the
// top edge of the image, v = 1 the bottom edge (formats whose v grows upwards
// are flipped on reading and writing).
struct MeshArrays {
  std::vector<math::Vec3f> positions;
  std::vector<std::uint32_t> indices;    // three per triangle
  std::vector<math::Vec2f> texCoords;    // empty or one per position
  std::vector<math::Vec3f> normals;      // empty or one per position
  std::vector<v3d::Color4ub> colors;     // empty or one per position
  img::RGBImage texture;                 // empty when the mesh has none

  std::size_t NumTriangles() const { return indices.size() / 3; }
  // Whole triangles, indices below the vertex count and attribute arrays
  // empty or of the vertex count; otherwise false with the reason in error.
  bool IsValid(std::string* error = nullptr) const;
};

// Which vertices and triangles survive the merging of identical positions.
struct VertexUnification {
  std::vector<std::int32_t> mapping;         // new index per old vertex, -1 when dropped
  std::vector<std::uint32_t> indices;        // surviving triangles, new indices
  std::vector<std::uint32_t> keptTriangles;  // old triangle number of each survivor
  std::uint32_t numVertices = 0;

  // new[mapping[i]] = old[i]: a merged vertex keeps the attributes of its
  // first occurrence. Throws std::invalid_argument unless old has one
  // element per old vertex.
  template <typename T>
  std::vector<T> Remap(const std::vector<T>& old) const;
};

// Merges vertices whose positions are equal coordinate by coordinate (the
// tolerant lexicographic order with epsilon 0, so +0 equals -0; a position
// with a NaN is never merged), drops the triangles that then use one vertex
// twice and the vertices that no triangle uses, and numbers the survivors in
// their old order. Indices must be below the vertex count
// (std::invalid_argument otherwise).
VertexUnification UnifyIdenticalVertices(const std::vector<math::Vec3f>& positions,
                                         const std::vector<std::uint32_t>& indices);

// Applies UnifyIdenticalVertices to the mesh and every attribute it has.
void UnifyIdenticalVertices(MeshArrays& mesh);

template <typename T>
std::vector<T> VertexUnification::Remap(const std::vector<T>& old) const {
  if (old.size() != mapping.size()) {
    throw std::invalid_argument("VertexUnification::Remap - the array has " +
                                std::to_string(old.size()) + " elements for " +
                                std::to_string(mapping.size()) + " vertices.");
  }
  std::vector<T> result(numVertices);
  for (std::size_t i = 0; i < old.size(); ++i) {
    if (mapping[i] >= 0) result[static_cast<std::size_t>(mapping[i])] = old[i];
  }
  return result;
}

}  // namespace surf
