// Feeds arbitrary bytes to the binary STL reader: it must accept only files
// of exactly 84 + 50·n bytes and then return a valid mesh (whole triangles,
// every index below the vertex count, no degenerate triangle), never crash.

#include <cstdint>
#include <span>

#include "surf/files/StlFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  surf::MeshArrays mesh;
  if (!surf::ParseStl(std::span<const std::uint8_t>(data, size), mesh, {{}, nullptr})) return 0;
  if (!mesh.IsValid()) __builtin_trap();
  for (std::size_t t = 0; t < mesh.indices.size(); t += 3) {
    const std::uint32_t* c = mesh.indices.data() + t;
    if (c[0] == c[1] || c[1] == c[2] || c[0] == c[2]) __builtin_trap();
  }
  return 0;
}
