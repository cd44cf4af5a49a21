// Feeds arbitrary bytes through the chunk reader into the geo and texture
// readers: they must return an object that keeps the mesh invariants (every
// present attribute one element per position, every prim index below the
// vertex count) or throw a chunk exception; never crash or read out of
// bounds.

#include <cstdint>

#include "fuzz/ChunkFuzzing.h"
#include "v3d/GeoChunk.h"
#include "v3d/GeoTools.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const utils::ChunkNode::Ptr root = fuzzing::LoadChunkTree(data, size);
  if (!root) return 0;
  // The tree itself, or its children, as a geo or a texture.
  std::vector<utils::ChunkNode::Ptr> candidates{root};
  for (const auto& child : root->GetChildren()) candidates.push_back(child);
  for (const auto& node : candidates) {
    try {
      if (auto geo = v3d::ReadGeo(node, [](v3d::Mesh&, const utils::Guid&) {})) {
        fuzzing::CheckMeshInvariants(*geo);
        v3d::CalcVertexNormals(*geo);
        (void)geo->GetBoundingBox();
        (void)v3d::WriteGeo(*geo);
      }
    } catch (const utils::Exception&) {
    }
    try {
      if (auto texture = v3d::ReadTexture(node)) (void)v3d::WriteTexture(*texture);
    } catch (const utils::Exception&) {
    }
  }
  return 0;
}
