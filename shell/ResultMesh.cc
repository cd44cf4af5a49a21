#include "shell/ResultMesh.h"

#include <algorithm>
#include <cmath>

#include "shell/ScanSetup.h"
#include "shell/SettingPath.h"
#include "surf/mesh/DepthMapFilter.h"
#include "surf/mesh/MeshTools.h"
#include "surf/mesh/PlaneInMesh.h"

namespace shell {
namespace {

template <class T>
T Read(Settings& settings, const char* titlePath) {
  return settings.GetSetting<T>(SettingPath(titlePath)).Value();
}

// Float holds every integer below 2^24 exactly: the vertex numbers that ride
// through RemovePlane as per-vertex "qualities" to carry the texture
// coordinates along.
constexpr std::size_t kMaxTrackedVertices = std::size_t(1) << 24;

void CutAwayPlane(ResultMesh& mesh, std::vector<float>& normals, const math::Planef& plane, float distanceScale) {
  if (plane.IsEmpty()) return;
  const bool track = !mesh.textureCoordinates.empty();
  std::vector<float> numbers;
  if (track) {
    numbers.resize(mesh.vertices.size() / 3);
    for (std::size_t i = 0; i < numbers.size(); ++i) numbers[i] = static_cast<float>(i);
  }
  surf::RemovePlane(mesh.vertices, normals, mesh.indices, nullptr, track ? &numbers : nullptr, plane, distanceScale,
                    true);
  if (!track) return;
  std::vector<float> kept(2 * numbers.size());
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    const auto from = static_cast<std::size_t>(numbers[i]);
    kept[2 * i] = mesh.textureCoordinates[2 * from];
    kept[2 * i + 1] = mesh.textureCoordinates[2 * from + 1];
  }
  mesh.textureCoordinates = std::move(kept);
}

}  // namespace

void DropBorderAndGrazingPixels(surf::DepthMap& map, double maxViewingAngleDeg) {
  const auto& depth = map.GetDepthImage();
  const std::uint32_t w = depth.width, h = depth.height;
  const double maxSlope = std::tan(maxViewingAngleDeg * 3.14159265358979323846 / 180.0);
  std::vector<std::uint8_t> drop(std::size_t(w) * h, 0);
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      const float d = depth(x, y);
      if (!(d > 0.0f)) continue;
      std::uint8_t& dropped = drop[std::size_t(y) * w + x];
      if (x == 0 || y == 0 || x + 1 == w || y + 1 == h) {
        dropped = 1;
        continue;
      }
      const float l = depth(x - 1, y), r = depth(x + 1, y), u = depth(x, y - 1), b = depth(x, y + 1);
      if (!(l > 0.0f && r > 0.0f && u > 0.0f && b > 0.0f)) {
        dropped = 1;
        continue;
      }
      const math::Vec2d pixel = map.GetPixelSizeAtDepth(d);
      const double sx = std::abs(r - l) / (2.0 * pixel[0]), sy = std::abs(b - u) / (2.0 * pixel[1]);
      if (std::max(sx, sy) > maxSlope) dropped = 1;
    }
  }
  for (std::size_t i = 0; i < drop.size(); ++i) {
    if (!drop[i]) continue;
    map.GetDepthImage().data[i] = 0.0f;
    map.GetQualityImage().data[i] = 0;
  }
  map.ResetMeanDepth();
}

ResultMeshParameters ResultMeshParameters::Read(Settings& settings) {
  ResultMeshParameters p;
  const double calibScale = shell::Read<double>(settings, "Calibration/CalibScale");
  const double minDepth = shell::Read<double>(settings, "StructuredLight/ResultFiltering/MinDepth");
  const double maxDepth = shell::Read<double>(settings, "StructuredLight/ResultFiltering/MaxDepth");
  p.smoothIterations = shell::Read<int>(settings, "StructuredLight/ResultFiltering/SmoothAverage");
  p.minDepth = minDepth > 0.0 ? minDepth : std::numeric_limits<double>::lowest();
  p.maxDepth = maxDepth > 0.0 ? maxDepth : std::numeric_limits<double>::max();
  p.qualityLimit = QualityLimit(shell::Read<double>(settings, "StructuredLight/ResultFiltering/QualityCheck"));
  p.minFragmentRatio = shell::Read<double>(settings, "StructuredLight/ResultFiltering/OutlierRemoval");
  p.maxDepthJump =
      static_cast<float>(shell::Read<double>(settings, "Tesselation/DepthThresholdFactor") * (calibScale * 0.25));
  p.removeCalibPlanes = shell::Read<bool>(settings, "StructuredLight/ResultFiltering/RemoveCalibPlanesAndBeyond");
  p.planeDistanceScale = static_cast<float>(calibScale * 0.25 * 0.1);
  return p;
}

ResultMeshParameters ResultMeshParameters::ForBackgroundScan() const {
  ResultMeshParameters p = *this;
  p.smoothIterations = 2;
  p.minDepth = std::numeric_limits<double>::lowest();
  p.maxDepth = std::numeric_limits<double>::max();
  p.qualityLimit = 25;
  p.minFragmentRatio = 0.001;
  return p;
}

std::vector<float> ComputeTextureCoordinates(const std::vector<float>& vertices, const cam::CameraModel& camera) {
  const std::size_t n = vertices.size() / 3;
  std::vector<float> uv(2 * n, 0.0f);
  const double w = camera.GetResX(), h = camera.GetResY();
  if (w == 0.0 || h == 0.0) return uv;
  const math::Frame<double>& cTw = camera.GetFrame_cTw();
  for (std::size_t i = 0; i < n; ++i) {
    const math::Vec3d world{vertices[3 * i], vertices[3 * i + 1], vertices[3 * i + 2]};
    math::Vec2d pixel;
    if (!camera.CameraPointToPixel(pixel, cTw.MultP(world))) continue;
    uv[2 * i] = static_cast<float>((pixel[0] + 0.5) / w);
    uv[2 * i + 1] = static_cast<float>((pixel[1] + 0.5) / h);
  }
  return uv;
}

bool BuildResultMesh(const ResultSurface& surface, const ResultMeshParameters& p, const BackgroundRemoval& background,
                     const std::optional<BackgroundPlanes>& planes, ResultMesh& mesh,
                     std::shared_ptr<surf::DepthMap>* filtered) {
  mesh = ResultMesh{};
  if (!surface.depthMap) return false;
  const surf::DepthMap& source = *surface.depthMap;
  const surf::DepthMap* backgroundMap = background.depthMap;
  if (backgroundMap &&
      (backgroundMap->GetWidth() != source.GetWidth() || backgroundMap->GetHeight() != source.GetHeight()))
    backgroundMap = nullptr;
  std::shared_ptr<surf::DepthMap> depth =
      surf::CreateFilteredDepthMap(std::make_unique<surf::DepthMap>(source), backgroundMap, 0, p.smoothIterations,
                                   p.qualityLimit, background.epsilon, p.minFragmentRatio, p.maxDepthJump, p.minDepth,
                                   p.maxDepth);
  if (p.maxViewingAngleDeg > 0.0) DropBorderAndGrazingPixels(*depth, p.maxViewingAngleDeg);
  if (filtered) *filtered = depth;

  std::vector<float> ownCoordinates;
  depth->ComputeTriangleMesh(mesh.vertices, mesh.indices, ownCoordinates, false, p.maxDepthJump);
  if (!mesh.vertices.empty() && surface.textureCameraModel && surface.texture) {
    mesh.textureCoordinates = ComputeTextureCoordinates(mesh.vertices, *surface.textureCameraModel);
    mesh.texture = surface.texture;
  }

  if (p.removeCalibPlanes && planes && !mesh.vertices.empty()) {
    if (mesh.vertices.size() / 3 >= kMaxTrackedVertices) mesh.textureCoordinates.clear(), mesh.texture = nullptr;
    std::vector<float> normals;
    surf::CalcNormals(normals, mesh.vertices, mesh.indices);
    CutAwayPlane(mesh, normals, planes->left, p.planeDistanceScale);
    CutAwayPlane(mesh, normals, planes->right, p.planeDistanceScale);
  }
  if (mesh.vertices.empty() || mesh.indices.empty()) {
    mesh = ResultMesh{};
    return false;
  }
  return true;
}

}  // namespace shell
