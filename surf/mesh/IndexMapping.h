#pragma once

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "foundation/math/Vec.h"
#include "v3d/Surface.h"
#include "v3d/VertexBuffer.h"

namespace surf {

// Which vertices of a vertex buffer survive an edit and at which new index.
// Starts as the identity over numVertices old vertices; each operation
// fills the mapping and then calls Complete, which drops the primitives that
// lost a vertex or became degenerate, keeps exactly the vertices the kept
// primitives reference (in ascending old order) and translates the kept
// primitives into the new index buffer. Primitive sizes are 1 (points),
// 2 (lines), 3 (triangles) or 4 (quads); any other size throws
// std::invalid_argument. Indices at or past the vertex count drop their
// primitive.
class IndexMapping {
 public:
  explicit IndexMapping(std::size_t numVertices);

  // Merges positions that are equal within epsilon per coordinate (compared
  // lexicographically x, y, z, each within epsilon passing on to the next)
  // into the earliest such vertex. positions has one entry per old vertex.
  void UnifyVertices(const std::vector<std::uint32_t>& indexBuffer, int primSize,
                     const std::vector<math::Vec3f>& positions, float epsilon);
  // Removes the vertices whose bit is set (selection: one bit per vertex;
  // missing bits count as unset).
  void RemoveSelectedVertices(const std::vector<std::uint32_t>& indexBuffer, int primSize,
                              const std::vector<bool>& selection);
  void Complete(const std::vector<std::uint32_t>& indexBuffer, int primSize);

  // A copy of the new index buffer; primSize must be the one of the last
  // Complete.
  std::vector<std::uint32_t> RemapIndexBuffer(int primSize) const;
  // new[mapping[i]] = old[i]; oldBuffer must have one element per old vertex.
  template <typename T>
  std::vector<T> RemapVertexBuffer(const std::vector<T>& oldBuffer) const;
  // Remaps positions, then each present attribute (normals, colours,
  // texture coordinates, qualities), then replaces the surface's primitives
  // by the new index buffer; each replaced array's change counter is
  // incremented. The buffer must hold the old vertices.
  void Apply(v3d::VertexBuffer& buffer, v3d::Surface& surface) const;

  const std::vector<std::int32_t>& GetMapping() const { return m_mapping; }
  std::int32_t GetNumPrimitives() const { return m_numPrimitives; }
  std::int32_t GetNumNewVertices() const { return m_numNewVertices; }
  std::int32_t GetPrimSize() const { return m_primSize; }

 private:
  std::vector<std::int32_t> m_mapping;
  std::vector<std::uint32_t> m_newIndexBuffer;
  std::int32_t m_numPrimitives = 0;
  std::int32_t m_primSize = 3;
  std::int32_t m_numNewVertices = 0;
};

template <typename T>
std::vector<T> IndexMapping::RemapVertexBuffer(const std::vector<T>& oldBuffer) const {
  if (oldBuffer.size() != m_mapping.size()) {
    throw std::invalid_argument("'oldBuffer' has invalid size in IndexMapping::RemapVertexBuffer.");
  }
  std::vector<T> result(static_cast<std::size_t>(m_numNewVertices));
  for (std::size_t i = 0; i < m_mapping.size(); ++i) {
    if (m_mapping[i] >= 0) result[static_cast<std::size_t>(m_mapping[i])] = oldBuffer[i];
  }
  return result;
}

}  // namespace surf
