#pragma once

#include <cstdint>

#include "foundation/utils/Guid.h"
#include "v3d/Surface.h"
#include "v3d/VertexBuffer.h"

namespace v3d {

// One vertex buffer and one surface over it, identified by a guid that the
// renderer uses as its cache key and mesh files use to bind textures. Within
// a Geo, mesh i's surface always refers to vertex buffer i.
class Mesh : public VertexBuffer, public Surface {
 public:
  static constexpr Color4ub kDefaultGlobalColor{128, 128, 128, 255};

  // A new guid; global colour (128, 128, 128, 255).
  Mesh(std::uint32_t index, std::uint32_t primSize);
  Mesh(const Mesh&) = delete;
  Mesh& operator=(const Mesh&) = delete;

  utils::Guid GetGuid() const { return m_guid; }
  // For readers that restore a stored mesh.
  void SetGuid(const utils::Guid& guid) { m_guid = guid; }

  VertexBuffer& GetVertexBuffer() { return *this; }
  const VertexBuffer& GetVertexBuffer() const { return *this; }
  Surface& GetSurface() { return *this; }
  const Surface& GetSurface() const { return *this; }

 private:
  utils::Guid m_guid;
};

}  // namespace v3d
