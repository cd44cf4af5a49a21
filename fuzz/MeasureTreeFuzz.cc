// Feeds arbitrary bytes through the chunk reader into the reader of the
// measurement's "measure" tree and into the measurement module on a scene
// with one geo (guid 00 01 … 0f): they must read the tree, leave it out
// with a warning, or throw a chunk exception; never crash. A tree that
// reads must write back to a tree that reads the same.

#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>

#include "fuzz/ChunkFuzzing.h"
#include "surf/measure/Measure.h"
#include "surf/measure/MeasureTree.h"

namespace {

struct World {
  World() {
    scene.AddNode(&geo);
    utils::Guid guid;
    for (int i = 0; i < 16; ++i) guid.Data()[i] = std::uint8_t(i);
    geo.SetGuid(guid);
    v3d::Mesh* mesh = geo.AddMesh(3);
    mesh->mGetVertexCoords() = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    mesh->mGetVertexNormals() = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
    mesh->mGetPrims() = {0, 1, 2};
    std::cerr.setstate(std::ios::failbit);  // the module's messages
    std::cout.setstate(std::ios::failbit);
  }
  v3d::Scene scene;
  v3d::Geo geo;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static World world;
  const utils::ChunkNode::Ptr root = fuzzing::LoadChunkTree(data, size);
  if (!root) return 0;
  try {
    if (const auto tree = surf::ReadMeasureTree(*root)) {
      const auto again = surf::ReadMeasureTree(*surf::WriteMeasureTree(*tree));
      if (!again || again->markers.size() != tree->markers.size() ||
          again->links.size() != tree->links.size())
        __builtin_trap();
    }
  } catch (const utils::Exception&) {
  }
  surf::Measure measure(world.scene);
  try {
    measure.LoadProjectItem(*root);
    measure.UpdateReferenceMarkers(true);
    (void)measure.GetProjectItem(0);
  } catch (const utils::Exception&) {
  }
  return 0;
}
