#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "cam/CameraModel.h"
#include "foundation/img/UniImage.h"
#include "foundation/math/Plane.h"
#include "shell/Settings.h"
#include "surf/mesh/DepthMap.h"

namespace shell {

// One converted surface of a scan: the depth map of a camera (surface 0 and
// 1: each camera against the projector; surface 2: the two cameras
// together, a depth map of camera 0) and the texture that colours it with
// the model of the camera that took the texture.
struct ResultSurface {
  std::shared_ptr<surf::DepthMap> depthMap;
  bool available = false;
  int cameraIndex = -1;
  img::UniImagePtr<img::RGB8> texture;
  std::shared_ptr<cam::CameraModel> textureCameraModel;
};

// How a surface's depth map is filtered and meshed (values of
// "StructuredLight/ResultFiltering/…", "Tesselation/DepthThresholdFactor"
// and "Calibration/CalibScale"; lengths mm).
struct ResultMeshParameters {
  int smoothIterations = 1;
  double minDepth = std::numeric_limits<double>::lowest();
  double maxDepth = std::numeric_limits<double>::max();
  std::uint8_t qualityLimit = 0;  // quality bytes at or below it are dropped
  double minFragmentRatio = 0.01;
  float maxDepthJump = 7.5f;  // DepthThresholdFactor · CalibScale · 0.25
  bool removeCalibPlanes = false;
  float planeDistanceScale = 1.5f;  // CalibScale · 0.25 · 0.1
  // Above 0: pixels on the border of the valid region (mixed pixels at
  // silhouettes and shadow edges) and surfaces seen more obliquely than this
  // (degrees between the viewing direction and the normal, from the depth
  // slope) are dropped after filtering; their pixels span a large depth range.
  double maxViewingAngleDeg = 0.0;

  static ResultMeshParameters Read(Settings& settings);
  // A scan of the background: smoothing 2, unbounded depth, quality limit
  // 25, minimum fragment ratio 0.001; the rest as given.
  ResultMeshParameters ForBackgroundScan() const;
};

// The planes of the two calibration panels of the hardware setup (world):
// point on the panel, unit normal towards the scanner.
struct BackgroundPlanes {
  math::Planef left;
  math::Planef right;
};

// A mesh of a surface in world coordinates (mm): 3 floats per vertex, 3
// indices per triangle, 2 texture coordinates per vertex when it has a
// texture (else none).
struct ResultMesh {
  std::vector<float> vertices;
  std::vector<std::uint32_t> indices;
  std::vector<float> textureCoordinates;
  img::UniImagePtr<img::RGB8> texture;
};

// The texture coordinates of world vertices (3 floats each) in the image of
// a camera: (x + 0.5)/width, (y + 0.5)/height of the pixel a vertex projects
// to (pixel centres at integer coordinates, v down the image, as the depth
// map's own mesh has them). A vertex that does not project gets (0, 0).
std::vector<float> ComputeTextureCoordinates(const std::vector<float>& vertices, const cam::CameraModel& camera);

// The background removal a surface gets: the stored background of the same
// surface and the distance in front of it (mm) within which depths count as
// background.
struct BackgroundRemoval {
  const surf::DepthMap* depthMap = nullptr;
  double epsilon = 0.0;
};

// Drops the border pixels of the valid region and the pixels whose depth
// slope exceeds tan(maxViewingAngleDeg) (depth and quality set to 0).
void DropBorderAndGrazingPixels(surf::DepthMap& map, double maxViewingAngleDeg);

// Filters a surface's depth map (hole size 0; quality, background,
// fragments, smoothing and depth range of the parameters; border and
// grazing pixels when maxViewingAngleDeg is set), meshes it with
// the maximum depth jump, gives it texture coordinates in the texture
// camera's image when it has one, and, with removeCalibPlanes and planes,
// cuts away what lies on or behind the left and then the right panel.
// False when no vertex or triangle remains (mesh then empty). filtered, when
// given, receives the filtered depth map. A background of another size than
// the surface is not used.
bool BuildResultMesh(const ResultSurface& surface, const ResultMeshParameters& parameters,
                     const BackgroundRemoval& background, const std::optional<BackgroundPlanes>& planes,
                     ResultMesh& mesh, std::shared_ptr<surf::DepthMap>* filtered = nullptr);

}  // namespace shell
