// Feeds arbitrary text to the OBJ reader: it must return a valid mesh
// (whole triangles, indices below the vertex count, attributes of the vertex
// count) or fail with a message, never crash. Material files are looked up
// in a folder that does not exist.

#include <cstdint>
#include <sstream>
#include <string>

#include "surf/files/ObjFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  surf::MeshArrays mesh;
  if (!surf::ParseObj(in, "/nonexistent-fuzz-folder", mesh, {{}, nullptr}, size)) return 0;
  if (!mesh.IsValid()) __builtin_trap();
  return 0;
}
