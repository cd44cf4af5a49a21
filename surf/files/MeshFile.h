#pragma once

#include <filesystem>
#include <string>

#include "foundation/utils/ChunkNode.h"
#include "surf/mesh/GeoItem.h"

namespace surf {

// Where a stored geo belongs in the scan list.
enum class GeoSource { kNone, kScanList, kFusionResult };

// The "source" payload: "ScanList", "FusionResult"; "" for kNone.
const char* GeoSourceName(GeoSource source);

// The single-object mesh tree: root "zentomesh" with "source" (left out for
// kNone), the "geo" tree of v3d::WriteGeo and one "texture" tree for each
// distinct texture the geo's meshes use, in the order of first use. A mesh
// refers to its texture by a "textureGuid" child.
utils::ChunkNode::Ptr WriteMeshTree(const GeoItem& item, GeoSource source);

// Reads a "zentomesh" tree into a new item: the geo (version checked), its
// textures, each mesh bound to the texture whose guid its "textureGuid"
// names (a guid that matches no texture leaves the mesh untextured), and the
// source ("FusionResult" gives kFusionResult, "ScanList" kScanList, anything
// else or none kNone). Throws the chunk exceptions of utils for missing or
// malformed chunks and unsupported versions, and InvalidChunkFormatException
// for a root of another name.
GeoItem ReadMeshTree(const utils::ChunkNode& root, GeoSource* source = nullptr);

// Writes the tree to a ".tarvelinmesh" (or ".zentomesh") file through a
// temporary file. False, with one "Error: ..." line on standard error, when
// it cannot be written.
bool SaveMeshFile(const std::filesystem::path& path, const GeoItem& item, GeoSource source);

// Reads a single-object mesh file. False, with one "Error: ..." line on
// standard error, for a file that cannot be opened or is not a valid mesh
// file; item is then unchanged.
bool LoadMeshFile(const std::filesystem::path& path, GeoItem& item, GeoSource* source = nullptr);

}  // namespace surf
