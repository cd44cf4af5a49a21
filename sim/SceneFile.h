#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/math/Vec.h"
#include "sim/Procedural.h"
#include "sim/Scene.h"
#include "sim/TriMesh.h"

namespace sim {

// The scene file of the virtual rig: a JSON object (all lengths mm, angles
// degrees, albedo a number or [r, g, b] in 0…1):
//
//   {
//     "version": 1,
//     "objects": [
//       {"type": "vase", "radius": 40, "height": 120, "ribs": 16, "rib_depth": 1.5,
//        "position": [0, 0, 0], "rotation_deg": [0, 0, 0], "resolution": 0.5,
//        "albedo": 0.8, "texture": {"checker": [16, 8], "albedo2": 0.3}},
//       {"type": "sphere", "radius": 50},
//       {"type": "torus", "major_radius": 40, "minor_radius": 15},
//       {"type": "box", "size": [80, 60, 40], "chamfer": 5},
//       {"type": "blob", "radius": 40, "bumps": 16, "bump_height": 0.16, "bump_widths": [0.15, 0.3],
//        "seed": 1},
//       {"type": "mesh", "file": "part.ply", "scale": 1}
//     ],
//     "panels": [{"size": [400, 300], "position": [0, 150, 0], "rotation_deg": [90, 0, 0],
//                 "albedo": 0.5}],
//     "turntable": {"centre": [0, 0, 0], "axis": [0, 0, 1], "angle_deg": 0},
//     "ambient_light": 0.05, "noise_sigma": 2, "latency_ms": 40, "frame_rate_hz": 30
//   }
//
// Every key is optional except "type" (and "file" for meshes); absent keys
// take the defaults of the structures below. Unknown keys are errors, so
// that a misspelt key is not silently ignored. An object's pose is
// translation(position)·Rz·Ry·Rx with the angles of rotation_deg; objects
// stand on the turntable, panels do not. Texture "file" and mesh "file"
// are relative to the scene file's folder. A texture is either an image
// file, whose values are multiplied by the albedo, or a checker
// ("checker": [cells along s, cells along t]) whose cells alternate between
// the albedo (cell (0, 0)) and "albedo2". Procedural objects carry texture
// coordinates from their surface parameters; a loaded mesh needs its own.

struct TextureDescription {
  std::filesystem::path file;  // empty for a checker
  int cellsS = 8, cellsT = 8;
  Albedo albedo2{0.2f, 0.2f, 0.2f};
};

struct ObjectDescription {
  ObjectKind kind = ObjectKind::kSphere;
  std::string name;  // defaults to the type
  SphereSpec sphere;
  TorusSpec torus;
  VaseSpec vase;
  BoxSpec box;
  BlobSpec blob;
  std::filesystem::path file;  // mesh objects
  double scale = 1;            // mesh objects: file units to mm
  math::Vec3d position;
  math::Vec3d rotationDeg;
  double resolution = 0.5;  // mm
  Albedo albedo{0.8f, 0.8f, 0.8f};
  bool hasTexture = false;
  TextureDescription texture;
};

struct PanelDescription {
  std::string name = "panel";
  PanelSpec spec;
  math::Vec3d position;
  math::Vec3d rotationDeg;
  Albedo albedo{0.5f, 0.5f, 0.5f};
  bool hasTexture = false;
  TextureDescription texture;
};

// Read here and stored for the virtual cameras.
struct RigSettings {
  double ambientLight = 0.05;  // light every point receives, as a fraction of full projector white
  double noiseSigma = 2;       // camera noise, grey levels (of 255)
  double latencyMs = 40;       // from showing a pattern to its first camera frame
  double frameRateHz = 30;     // camera frame rate
};

struct SceneDescription {
  std::vector<ObjectDescription> objects;
  std::vector<PanelDescription> panels;
  math::Vec3d turntableCentre;
  math::Vec3d turntableAxis{0, 0, 1};
  double turntableAngleDeg = 0;
  RigSettings settings;
  std::filesystem::path baseDirectory;  // folder of the file, for relative paths
};

// A scene file that cannot be read, parsed or built. The message names the
// file and the offending entry, e.g.
// "rig.json: objects[1].radius: must be a number > 0, got -3".
class SceneFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throw SceneFileError.
SceneDescription ReadSceneFile(const std::filesystem::path& path);
// sourceName prefixes the messages; relative paths resolve against baseDirectory.
SceneDescription ParseSceneDescription(std::string_view text, const std::string& sourceName,
                                       const std::filesystem::path& baseDirectory = {});

// The description as a scene file (all fields written), so that
// ParseSceneDescription(WriteSceneDescription(d)) gives d back.
std::string WriteSceneDescription(const SceneDescription& description);

// Reads a mesh file into a mesh in file units; throws on failure (any
// std::exception; its message is passed on).
using MeshLoader = std::function<TriMesh(const std::filesystem::path& path)>;

// The scene of a description: procedural objects tessellated, textures and
// meshes loaded, the turntable set. Throws SceneFileError (prefixed with
// sourceName) when an object cannot be built, a file cannot be read, or the
// description has mesh objects and no loader.
Scene BuildScene(const SceneDescription& description, const MeshLoader& loadMesh = {},
                 const std::string& sourceName = "scene");

}  // namespace sim
