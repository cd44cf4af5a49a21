#include "v3d/Mesh.h"

namespace v3d {

Mesh::Mesh(std::uint32_t index, std::uint32_t primSize)
    : VertexBuffer(index),
      Surface(static_cast<std::int32_t>(index), static_cast<std::int32_t>(index), primSize),
      m_guid(utils::Guid::NewGuid()) {
  SetGlobalColor(kDefaultGlobalColor);
}

}  // namespace v3d
