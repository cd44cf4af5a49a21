#include "surf/files/MeshFile.h"

#include <fstream>
#include <iostream>

#include "surf/files/SafeWrite.h"
#include "v3d/GeoChunk.h"

namespace surf {

const char* GeoSourceName(GeoSource source) {
  switch (source) {
    case GeoSource::kScanList:
      return "ScanList";
    case GeoSource::kFusionResult:
      return "FusionResult";
    case GeoSource::kNone:
      break;
  }
  return "";
}

utils::ChunkNode::Ptr WriteMeshTree(const GeoItem& item, GeoSource source) {
  if (!item.geo) throw std::invalid_argument("surf::WriteMeshTree - The item has no geo.");
  auto root = utils::ChunkNode::NewNode("zentomesh");
  if (source != GeoSource::kNone) root->NewChild("source")->SetString(GeoSourceName(source));

  std::vector<const v3d::Texture*> used;
  const auto lookup = [&](std::int32_t id) -> const v3d::Texture* {
    if (id < 0 || static_cast<std::size_t>(id) >= item.textures.size()) return nullptr;
    const v3d::Texture* texture = item.textures[static_cast<std::size_t>(id)].get();
    if (texture && std::find(used.begin(), used.end(), texture) == used.end()) used.push_back(texture);
    return texture;
  };
  root->AddChild(v3d::WriteGeo(*item.geo, lookup));
  for (const v3d::Texture* texture : used) root->AddChild(v3d::WriteTexture(*texture));
  return root;
}

GeoItem ReadMeshTree(const utils::ChunkNode& root, GeoSource* source) {
  if (root.GetName() != "zentomesh") {
    throw utils::InvalidChunkFormatException("surf::ReadMeshTree",
                                             "Not a mesh tree: root chunk " + root.GetName() + ".");
  }
  GeoSource stored = GeoSource::kNone;
  if (const auto sourceNode = root.FindChild("source")) {
    const std::string name = sourceNode->GetString();
    if (name == "FusionResult") stored = GeoSource::kFusionResult;
    if (name == "ScanList") stored = GeoSource::kScanList;
  }

  std::vector<std::pair<v3d::Mesh*, utils::Guid>> wanted;
  const auto resolver = [&](v3d::Mesh& mesh, const utils::Guid& guid) { wanted.emplace_back(&mesh, guid); };
  GeoItem item;
  item.geo = v3d::ReadGeo(root.Child("geo"), resolver);
  for (const auto& node : root.FindChildren("texture")) item.textures.push_back(v3d::ReadTexture(node));
  for (auto& [mesh, guid] : wanted) {
    mesh->SetTextureID(-1);
    for (std::size_t i = 0; i < item.textures.size(); ++i) {
      if (item.textures[i]->GetGuid() == guid) {
        mesh->SetTextureID(static_cast<std::int32_t>(i));
        break;
      }
    }
  }
  if (source) *source = stored;
  return item;
}

bool SaveMeshFile(const std::filesystem::path& path, const GeoItem& item, GeoSource source) {
  const utils::ChunkNode::Ptr root = WriteMeshTree(item, source);
  const bool written = WriteStreamSafely(path, [&](std::ostream& out) {
    root->Save(out);
    return out.good();
  });
  if (!written) std::cerr << "Error: SaveMeshFile - Could not write " << path.string() << "\n";
  return written;
}

bool LoadMeshFile(const std::filesystem::path& path, GeoItem& item, GeoSource* source) {
  std::ifstream in(path, std::ios::binary);
  if (!in || std::filesystem::is_directory(path)) {
    std::cerr << "Error: LoadMeshFile - Could not open " << path.string() << "\n";
    return false;
  }
  try {
    const utils::ChunkNode::Ptr root = utils::ChunkNode::Load(in);
    if (!root) throw utils::InvalidChunkFormatException("ChunkNode::Load", "The file holds no chunk.");
    GeoSource stored = GeoSource::kNone;
    GeoItem loaded = ReadMeshTree(*root, &stored);
    item = std::move(loaded);
    if (source) *source = stored;
    return true;
  } catch (const utils::Exception& e) {
    std::cerr << "Error: LoadMeshFile - " << path.string() << ": " << e.Where() << ": " << e.what() << "\n";
  }
  return false;
}

}  // namespace surf
