// Feeds arbitrary bytes to the PLY reader: it must refuse them with a
// message or return a valid mesh (whole triangles, every index below the
// vertex count, attribute arrays of the vertex count), never crash, and
// never reserve memory that the input's size cannot justify.

#include <cstdint>
#include <span>

#include "surf/files/PlyFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  surf::MeshArrays mesh;
  if (!surf::ParsePly(std::span<const std::uint8_t>(data, size), mesh, {{}, nullptr})) return 0;
  if (!mesh.IsValid()) __builtin_trap();
  return 0;
}
