#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "scan/HardwareSetupIO.h"
#include "sim/SceneFile.h"
#include "sim/VirtualRig.h"

namespace sim {

// The folder of the shipped data ("share"): $TARVELIN_SHARE when set, else
// the source tree's share folder.
std::filesystem::path ShareDirectory();

// "default" and "stereo" name the shipped rigs under share/rigs; anything
// else is a rig folder.
std::filesystem::path ResolveRigFolder(const std::string& rig);

// Replaces the description's objects by one object: "vase", "sphere",
// "torus", "box", "blob" (procedural, default sizes) or the path of a mesh
// file (STL, OBJ, PLY or own mesh format, mm). False with a one-line reason
// when the name is neither.
bool SetSingleObject(const std::string& object, SceneDescription& description, std::string& error);

// Reads a triangle mesh file through the mesh-file readers; throws
// std::runtime_error when it holds no triangle mesh.
TriMesh LoadObjectMesh(const std::filesystem::path& path);

// Builds the description's scene (mesh files through LoadObjectMesh, named
// in messages after the rig folder's scene file) and the rig over it; null
// with a one-line reason when the scene or the rig cannot be built.
std::unique_ptr<VirtualRig> MakeVirtualRig(const scan::HardwareSetupIO& setup, const SceneDescription& description,
                                           const std::filesystem::path& folder, const VirtualRig::Options& options,
                                           std::string& error);

// Cameras that deliver 240 frames per second 4 ms after the projector
// switches (exposure unchanged): the same images as the scene's cameras,
// but a pattern sequence is captured as fast as the frames can be rendered.
// For turntable sets in tests and benchmarks.
void UseFastCameras(SceneDescription& description);

}  // namespace sim
