// Feeds arbitrary bytes through the chunk reader into the single-object mesh
// reader and the project item loader: each either throws a chunk exception
// or gives items whose meshes keep their invariants and whose texture IDs
// name existing textures; the result must write back as a tree again.

#include <cstdint>

#include "fuzz/ChunkFuzzing.h"
#include "surf/files/MeshFile.h"
#include "surf/files/ProjectFile.h"

namespace {

// Traps unless the meshes keep their invariants and every texture ID names
// one of the item's textures.
void CheckItem(const surf::GeoItem& item) {
  fuzzing::CheckMeshInvariants(*item.geo);
  for (const auto& mesh : *item.geo) {
    const std::int32_t id = mesh->GetTextureID();
    if (id >= 0 && static_cast<std::size_t>(id) >= item.textures.size()) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const utils::ChunkNode::Ptr root = fuzzing::LoadChunkTree(data, size);
  if (!root) return 0;
  try {
    const surf::GeoItem item = surf::ReadMeshTree(*root);
    CheckItem(item);
    (void)surf::WriteMeshTree(item, surf::GeoSource::kScanList);
  } catch (const utils::Exception&) {
  }
  surf::ScanListData project;
  try {
    surf::LoadProjectItem(project, *root);
    for (const auto& scan : project.scans) CheckItem(scan);
    for (std::size_t i = 0; i < surf::GetNumProjectItems(project); ++i) (void)surf::GetProjectItem(project, i);
  } catch (const utils::Exception&) {
  }
  return 0;
}
