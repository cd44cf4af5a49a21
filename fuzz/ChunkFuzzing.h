// What the fuzz targets that read chunk trees share: the tree from the
// input bytes, and the invariants every mesh read from it must keep.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>

#include "foundation/utils/ChunkNode.h"
#include "v3d/Geo.h"

namespace fuzzing {

// The chunk tree of the bytes, or null when the chunk reader rejects them.
inline utils::ChunkNode::Ptr LoadChunkTree(const std::uint8_t* data, std::size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  try {
    return utils::ChunkNode::Load(in);
  } catch (const utils::Exception&) {
    return nullptr;
  }
}

// Traps unless every present vertex attribute has one element per position
// and every prim index is below the vertex count.
inline void CheckMeshInvariants(const v3d::Geo& geo) {
  for (const auto& mesh : geo) {
    const std::size_t n = mesh->GetNumVertices();
    for (std::size_t size : {mesh->GetVertexNormals().size(), mesh->GetVertexColors().size(),
                             mesh->GetVertexTexCoords().size(), mesh->GetVertexQualities().size()}) {
      if (size != 0 && size != n) __builtin_trap();
    }
    for (std::uint32_t index : mesh->GetPrims()) {
      if (index >= n) __builtin_trap();
    }
  }
}

}  // namespace fuzzing
