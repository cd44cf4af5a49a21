#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "foundation/utils/ChunkNode.h"
#include "foundation/utils/Guid.h"
#include "surf/mesh/GeoItem.h"

namespace surf {

// What the surface manager keeps of a project and contributes to the project
// container: the scans, the fusion result, the unfiltered fusion result as a
// triangle list and the palette index of each geo (by geo guid). The scan
// list (ShapeFusion) holds one of these and fills and consumes it.
struct ScanListData {
  std::vector<GeoItem> scans;
  std::optional<GeoItem> fusionResult;
  std::vector<std::uint32_t> unfilteredFusionTriangles;
  std::map<utils::Guid, std::int32_t> geoColorMap;
};

// The item interface of the scan list: scans + (1 with a fusion result) +
// (1 with a non-empty unfiltered triangle list) + 1 for the colour map.
std::size_t GetNumProjectItems(const ScanListData& data);

// Item i as a chunk tree (root level 0): a scan's or the fusion result's
// mesh tree ("source" "ScanList" or "FusionResult"), then
// "UnfilteredFusionTriangleList" with "data" (uint32 values), last
// "geoColorMap" with one "entry" per element ("guid" 16 bytes, "colorIndex"
// int32). Throws std::out_of_range for i ≥ GetNumProjectItems.
utils::ChunkNode::Ptr GetProjectItem(const ScanListData& data, std::size_t i);

// Loads one item tree into data, by root name: "zentomesh" appends a scan or
// replaces the fusion result; "UnfilteredFusionTriangleList" replaces the
// triangle list; "geoColorMap" replaces the map; any other root is ignored.
// Throws the chunk exceptions; data is unchanged when it throws.
void LoadProjectItem(ScanListData& data, const utils::ChunkNode& tree);

// A module other than the scan list that keeps its state in the project
// container through the same item interface (the measurement): its trees
// are written after the scan list's, with its own "type", and the trees
// whose root names it takes are handed to it after the scan list's items
// have been loaded.
class ProjectItemModule {
 public:
  virtual ~ProjectItemModule() = default;
  virtual std::string GetProjectItemType() const = 0;
  virtual std::size_t GetNumProjectItems() const = 0;
  virtual utils::ChunkNode::Ptr GetProjectItem(std::size_t i) const = 0;
  virtual bool TakesProjectItem(const std::string& rootName) const = 0;
  // Throws the chunk exceptions, leaving the module unchanged.
  virtual void LoadProjectItem(const utils::ChunkNode& tree) = 0;
};

// How SaveProject stores the mesh items.
struct ProjectSaveOptions {
  // Each scan and the fusion result go to a mesh file of their own beside
  // the project ("<project name>.item<i>.tarvelinmesh"), referenced from the
  // container by "externalFile"/"filename" relative to the project folder.
  bool externalMeshes = false;
  // Modules whose items follow the scan list's (not owned).
  std::vector<const ProjectItemModule*> modules;
};

// The project container's "type" of the trees written by SaveProject.
inline constexpr char kProjectItemType[] = "ShapeFusion";

// Writes the project container: every item tree with a "type" child
// (kProjectItemType) and a "source" child ("ScanList", "FusionResult" or
// "ShapeFusion"), one after the other, then a tree named "end". Every file
// goes through a temporary file. False, with one "Error: ..." line on
// standard error, when a file cannot be written.
bool SaveProject(const std::filesystem::path& path, const ScanListData& data,
                 const ProjectSaveOptions& options = {});

// Reads a project container: tree after tree until one named "end"; each
// must carry "type" and "source"; a tree with "externalFile" is replaced by
// the tree in the file its "filename" names (relative to the project's
// folder unless absolute), then each goes to LoadProjectItem. False, with the
// message on standard error, for a file that cannot be opened, a stream that
// ends or breaks before "end" ("ERROR: Could not get next file in project
// container."), an external file that cannot be read ("ERROR: Could not load
// file " + name), an unsupported version ("ERROR: File version is not
// supported. Please update software.") or any other failure ("ERROR: Loading
// of project failed."). data is changed only when the whole project loaded.
// Trees of other modules (root names the scan list does not read) go to
// otherItems when given, in file order, else they are ignored.
bool LoadProject(const std::filesystem::path& path, ScanListData& data,
                 std::vector<utils::ChunkNode::Ptr>* otherItems = nullptr);

// Writes scan geoIndex (≥ 0), or the fusion result for -1, as a single-object
// mesh file. An index outside the scan list prints "ERROR: Invalid geoIndex
// << " and the index; -1 without a fusion result fails too.
bool SaveGeoZentomesh(const ScanListData& data, const std::filesystem::path& path, std::int64_t geoIndex);

}  // namespace surf
