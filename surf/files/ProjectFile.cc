#include "surf/files/ProjectFile.h"

#include <fstream>
#include <iostream>
#include <stdexcept>

#include "surf/files/MeshFile.h"
#include "surf/files/SafeWrite.h"

namespace surf {
namespace {

namespace fs = std::filesystem;

constexpr char kUnfilteredList[] = "UnfilteredFusionTriangleList";
constexpr char kColorMap[] = "geoColorMap";

utils::ChunkNode::Ptr WriteColorMap(const std::map<utils::Guid, std::int32_t>& map) {
  auto root = utils::ChunkNode::NewNode(kColorMap);
  for (const auto& [guid, colorIndex] : map) {
    auto entry = root->NewChild("entry");
    entry->NewChild("guid")->SetData(guid.Data(), 16);
    entry->NewChild("colorIndex")->SetValue(colorIndex);
  }
  return root;
}

std::map<utils::Guid, std::int32_t> ReadColorMap(const utils::ChunkNode& root) {
  std::map<utils::Guid, std::int32_t> map;
  for (const auto& entry : root.FindChildren("entry")) {
    utils::Guid guid;
    entry->Child("guid")->GetData(guid.Data(), 16);
    map[guid] = entry->Child("colorIndex")->GetValue<std::int32_t>();
  }
  return map;
}

// "ScanList", "FusionResult" or "ShapeFusion" for the other items.
std::string ItemSource(const utils::ChunkNode& tree) {
  if (const auto source = tree.FindChild("source")) return source->GetString();
  return kProjectItemType;
}

// The next tree of the container, or null when the stream ends or breaks.
utils::ChunkNode::Ptr NextTree(std::istream& in) {
  try {
    return utils::ChunkNode::Load(in);
  } catch (const utils::Exception&) {
    return nullptr;
  }
}

// The tree of an "externalFile" reference; null when it cannot be read.
utils::ChunkNode::Ptr LoadExternal(const fs::path& projectFolder, const std::string& name) {
  fs::path file(name);
  if (file.is_relative()) file = projectFolder / file;
  std::error_code error;
  if (!fs::is_regular_file(file, error)) return nullptr;
  try {
    return utils::ChunkNode::Load(file);
  } catch (const utils::Exception&) {
    return nullptr;
  }
}

}  // namespace

std::size_t GetNumProjectItems(const ScanListData& data) {
  return data.scans.size() + (data.fusionResult ? 1 : 0) + (data.unfilteredFusionTriangles.empty() ? 0 : 1) + 1;
}

utils::ChunkNode::Ptr GetProjectItem(const ScanListData& data, std::size_t i) {
  if (i >= GetNumProjectItems(data)) {
    throw std::out_of_range("surf::GetProjectItem - Invalid item index " + std::to_string(i) + ".");
  }
  if (i < data.scans.size()) return WriteMeshTree(data.scans[i], GeoSource::kScanList);
  i -= data.scans.size();
  if (data.fusionResult) {
    if (i == 0) return WriteMeshTree(*data.fusionResult, GeoSource::kFusionResult);
    --i;
  }
  if (!data.unfilteredFusionTriangles.empty()) {
    if (i == 0) {
      auto root = utils::ChunkNode::NewNode(kUnfilteredList);
      root->NewChild("data")->SetArray(data.unfilteredFusionTriangles);
      return root;
    }
    --i;
  }
  return WriteColorMap(data.geoColorMap);
}

void LoadProjectItem(ScanListData& data, const utils::ChunkNode& tree) {
  const std::string name = tree.GetName();
  if (name == "zentomesh") {
    GeoSource source = GeoSource::kNone;
    GeoItem item = ReadMeshTree(tree, &source);
    if (source == GeoSource::kFusionResult) {
      data.fusionResult = std::move(item);
    } else {
      data.scans.push_back(std::move(item));
    }
  } else if (name == kUnfilteredList) {
    data.unfilteredFusionTriangles = tree.Child("data")->GetArray<std::uint32_t>();
  } else if (name == kColorMap) {
    data.geoColorMap = ReadColorMap(tree);
  }
}

bool SaveProject(const fs::path& path, const ScanListData& data, const ProjectSaveOptions& options) {
  const std::size_t numMeshes = data.scans.size() + (data.fusionResult ? 1 : 0);
  std::vector<utils::ChunkNode::Ptr> trees;
  for (std::size_t i = 0; i < GetNumProjectItems(data); ++i) {
    utils::ChunkNode::Ptr tree = GetProjectItem(data, i);
    const std::string source = ItemSource(*tree);
    if (options.externalMeshes && i < numMeshes) {
      const std::string name = path.filename().string() + ".item" + std::to_string(i) + ".tarvelinmesh";
      const fs::path file = path.parent_path() / name;
      const bool written = WriteStreamSafely(file, [&](std::ostream& out) {
        tree->Save(out);
        return out.good();
      });
      if (!written) {
        std::cerr << "Error: SaveProject - Could not write " << file.string() << "\n";
        return false;
      }
      tree = utils::ChunkNode::NewNode("externalItem");
      tree->NewChild("externalFile")->NewChild("filename")->SetString(name);
    }
    tree->NewChild("type")->SetString(kProjectItemType);
    if (!tree->FindChild("source")) tree->NewChild("source")->SetString(source);
    trees.push_back(std::move(tree));
  }
  for (const ProjectItemModule* module : options.modules) {
    for (std::size_t i = 0; module && i < module->GetNumProjectItems(); ++i) {
      utils::ChunkNode::Ptr tree = module->GetProjectItem(i);
      if (!tree->FindChild("type")) tree->NewChild("type")->SetString(module->GetProjectItemType());
      if (!tree->FindChild("source")) tree->NewChild("source")->SetString(module->GetProjectItemType());
      trees.push_back(std::move(tree));
    }
  }
  trees.push_back(utils::ChunkNode::NewNode("end"));

  const bool written = WriteStreamSafely(path, [&](std::ostream& out) {
    for (const auto& tree : trees) tree->Save(out);
    return out.good();
  });
  if (!written) std::cerr << "Error: SaveProject - Could not write " << path.string() << "\n";
  return written;
}

bool LoadProject(const fs::path& path, ScanListData& data, std::vector<utils::ChunkNode::Ptr>* otherItems) {
  std::ifstream in(path, std::ios::binary);
  std::error_code error;
  if (!in || fs::is_directory(path, error)) {
    std::cerr << "ERROR: Could not open project file " << path.string() << "\n";
    return false;
  }
  // Loaded into a copy that shares the existing geos; committed at the end.
  ScanListData staged = data;
  std::vector<utils::ChunkNode::Ptr> others;
  try {
    while (true) {
      utils::ChunkNode::Ptr tree = NextTree(in);
      if (!tree) {
        std::cerr << "ERROR: Could not get next file in project container.\n";
        return false;
      }
      if (tree->GetName() == "end") break;
      tree->Child("type");
      tree->Child("source");
      if (const auto external = tree->FindChild("externalFile")) {
        const std::string name = external->Child("filename")->GetString();
        tree = LoadExternal(path.parent_path(), name);
        if (!tree) {
          std::cerr << "ERROR: Could not load file " << name << "\n";
          return false;
        }
      }
      const std::string root = tree->GetName();
      if (root == "zentomesh" || root == kUnfilteredList || root == kColorMap) {
        LoadProjectItem(staged, *tree);
      } else {
        others.push_back(std::move(tree));
      }
    }
  } catch (const utils::InvalidChunkVersionException&) {
    std::cerr << "ERROR: File version is not supported. Please update software.\n";
    return false;
  } catch (const std::exception&) {
    std::cerr << "ERROR: Loading of project failed.\n";
    return false;
  }
  data = std::move(staged);
  if (otherItems) *otherItems = std::move(others);
  return true;
}

bool SaveGeoZentomesh(const ScanListData& data, const fs::path& path, std::int64_t geoIndex) {
  if (geoIndex == -1) {
    if (!data.fusionResult) {
      std::cerr << "ERROR: There is no fusion result to save.\n";
      return false;
    }
    return SaveMeshFile(path, *data.fusionResult, GeoSource::kFusionResult);
  }
  if (geoIndex < 0 || static_cast<std::uint64_t>(geoIndex) >= data.scans.size()) {
    std::cerr << "ERROR: Invalid geoIndex << " << geoIndex << "\n";
    return false;
  }
  return SaveMeshFile(path, data.scans[static_cast<std::size_t>(geoIndex)], GeoSource::kScanList);
}

}  // namespace surf
