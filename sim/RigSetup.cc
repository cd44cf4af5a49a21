#include "sim/RigSetup.h"

#include <cstdlib>
#include <map>
#include <stdexcept>

#include "surf/mesh/GeoItem.h"
#include "surf/files/MeshFormats.h"

#ifndef TARVELIN_SHARE_DIR
#define TARVELIN_SHARE_DIR "share"
#endif

namespace sim {

namespace fs = std::filesystem;

fs::path ShareDirectory() {
  if (const char* env = std::getenv("TARVELIN_SHARE"); env && *env) return env;
  return TARVELIN_SHARE_DIR;
}

fs::path ResolveRigFolder(const std::string& rig) {
  return (rig == "default" || rig == "stereo") ? ShareDirectory() / "rigs" / rig : fs::path(rig);
}

bool SetSingleObject(const std::string& object, SceneDescription& description, std::string& error) {
  static const std::map<std::string, ObjectKind> kKinds = {{"vase", ObjectKind::kVase},
                                                           {"sphere", ObjectKind::kSphere},
                                                           {"torus", ObjectKind::kTorus},
                                                           {"box", ObjectKind::kBox},
                                                           {"blob", ObjectKind::kBlob}};
  ObjectDescription o;
  if (auto it = kKinds.find(object); it != kKinds.end()) {
    o.kind = it->second;
    o.name = object;
  } else {
    std::error_code ec;
    if (!fs::is_regular_file(object, ec)) {
      error = object + ": no such object file (objects: vase, sphere, torus, box, blob or a mesh file)";
      return false;
    }
    o.kind = ObjectKind::kMesh;
    o.name = fs::path(object).stem().string();
    o.file = fs::absolute(object);
  }
  description.objects = {o};
  return true;
}

TriMesh LoadObjectMesh(const fs::path& path) {
  surf::GeoItem item;
  if (!surf::LoadMesh(path, item) || !item.geo || item.geo->GetNumMeshes() == 0)
    throw std::runtime_error(path.string() + ": cannot read a triangle mesh");
  return FromV3dMesh(*item.geo->GetMesh(0));
}

std::unique_ptr<VirtualRig> MakeVirtualRig(const scan::HardwareSetupIO& setup, const SceneDescription& description,
                                           const fs::path& folder, const VirtualRig::Options& options,
                                           std::string& error) {
  try {
    Scene scene = BuildScene(description, LoadObjectMesh, (folder / kRigSceneFile).string());
    return std::make_unique<VirtualRig>(setup, description, std::move(scene), options);
  } catch (const std::exception& e) {
    error = e.what();
    return nullptr;
  }
}

void UseFastCameras(SceneDescription& description) {
  description.settings.frameRateHz = 240.0;
  description.settings.latencyMs = 4.0;
}

}  // namespace sim
