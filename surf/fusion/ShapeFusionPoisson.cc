// The fusion operations of the scan list: screened Poisson fusion of the
// visible scans, texture fusion onto the result, hole filtering and the
// voxel size shown for a resolution.

#include <cmath>
#include <cstdio>
#include <iostream>
#include <limits>

#include "foundation/utils/Progress.h"
#include "surf/fusion/Fusion.h"
#include "surf/mesh/MeshEditing.h"
#include "surf/mesh/MeshTools.h"
#include "surf/fusion/ShapeFusion.h"
#include "surf/fusion/TextureFusion.h"
#include "v3d/LockGuard.h"

namespace surf {
namespace {

constexpr v3d::Color4ub kFusionColor{200, 200, 180, 255};
constexpr std::uint32_t kFusionResultVisibility = 2;

bool IsTriangleMesh(const v3d::Mesh& mesh) { return mesh.GetPrimSize() == 3 && mesh.GetNumPrims() > 0; }

void Print(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

// Reports a fraction; true when the caller asks to cancel.
bool Cancelled(const utils::ProgressCallback& progress, double fraction) { return progress && progress(fraction); }

// One textured triangle mesh of a scan, in views onto the scan's arrays.
struct TextureSource {
  const v3d::Mesh* mesh;
  img::RGBImage image;
  math::Frame4d worldTscan;
};

enum class Outcome { kDone, kFailed, kCancelled };

// Texture fusion onto the fused mesh: on success the mesh becomes the
// textured one (vertices duplicated along chart seams, normals and support
// values carried over, normals recomputed).
Outcome FuseResultTexture(const std::vector<TextureSource>& sources, MeshArrays& result, std::vector<float>& values,
                          const utils::ProgressCallback& progress) {
  std::vector<TexturedScan> scans;
  scans.reserve(sources.size());
  for (const TextureSource& source : sources) {
    scans.push_back({source.mesh->GetVertexCoords(), source.mesh->GetPrims(), source.mesh->GetVertexTexCoords(),
                     &source.image, source.worldTscan});
  }
  bool cancelled = false;
  const utils::ProgressCallback watched = [&](double fraction) {
    cancelled = progress && progress(fraction);
    return cancelled;
  };
  TextureFusionResult textured;
  if (!FuseTextures(result.positions, result.indices, scans, {}, textured, watched)) {
    if (cancelled) return Outcome::kCancelled;
    Print("Texture Fusion failed.\n");
    return Outcome::kFailed;
  }
  values = textured.Remap(values);
  result.positions = std::move(textured.positions);
  result.indices = std::move(textured.indices);
  result.texCoords = std::move(textured.texCoords);
  result.texture = std::move(textured.texture);
  RecomputeNormals(result);
  return Outcome::kDone;
}

}  // namespace

bool ShapeFusion::StartFusionPoisson(const utils::ProgressCallback& progress, int resolution, float holeClosingSize,
                                     bool ground, bool reconstructionOption, float sharpness, int smoothingPasses,
                                     const std::string& resultName) {
  if (Cancelled(progress, 0.0)) return true;

  Fusion fusion(Print);
  std::vector<TextureSource> textured;
  for (const Scan& scan : m_scans) {
    if (scan.geo->GetVisibility() == 0) continue;
    const math::Frame4d worldTscan = scan.geo->GetWorldFrame();
    for (const auto& mesh : *scan.geo) {
      if (!IsTriangleMesh(*mesh)) continue;
      std::vector<math::Vec3f> positions(mesh->GetVertexCoords());
      std::vector<math::Vec3f> normals(mesh->GetVertexNormals());
      for (auto& p : positions) p = math::Vec3f(worldTscan.MultP(math::Vec3d(p)));
      for (auto& n : normals) n = math::Vec3f(worldTscan.MultV(math::Vec3d(n)));
      fusion.AddPointCloud(positions, normals);
      const v3d::Texture* texture = m_scene->GetTexture(mesh->GetTextureID());
      if (texture && mesh->HasVertexTexCoords()) {
        img::RGBImage image = TextureToImage(*texture);
        if (!image.IsEmpty()) textured.push_back({mesh.get(), std::move(image), worldTscan});
      }
    }
  }
  if (ground) fusion.PreprocessGround(math::Frame4d());

  if (Cancelled(progress, 0.05)) return true;
  Print("Fuse meshes\n");
  FusionOptions options;
  options.resolution = resolution;
  options.linearFit = reconstructionOption;
  options.sharpnessWeight = sharpness;
  options.memoryLimit = m_params.fusionMemoryLimit;
  bool ok = false;
  try {
    ok = fusion.Reconstruct(options, utils::SubProgress(progress, 0.05, 0.7).AsCallback());
  } catch (const std::exception& e) {
    std::cerr << "Error: " << e.what() << '\n';
  }
  if (!ok) {
    if (!fusion.WasCancelled()) Print("Fusion failed.\n");
    return true;
  }
  Print("Fusion result has " + std::to_string(fusion.GetPositions().size()) + " vertices and " +
        std::to_string(fusion.GetTriangles().size() / 3) + " triangles.\n");
  if (ground) fusion.PostprocessGround();

  MeshArrays result;
  result.positions = fusion.GetPositions();
  result.normals = fusion.GetNormals();
  result.indices = fusion.GetTriangles();
  std::vector<float> values = fusion.GetValues();

  if (Cancelled(progress, 0.75)) return true;
  for (int pass = 0; pass < smoothingPasses; ++pass) {
    surf::Smoothing(result, pass + 1 == smoothingPasses);
    if (Cancelled(progress, 0.8 + 0.1 * (pass + 1) / smoothingPasses)) return true;
  }

  if (Cancelled(progress, 1.0)) return true;
  if (!textured.empty() &&
      FuseResultTexture(textured, result, values, utils::SubProgress(progress, 0.9, 1.0).AsCallback()) ==
          Outcome::kCancelled) {
    return true;
  }

  GeoItem item = MakeGeoItem(result);
  for (const auto& mesh : *item.geo) {
    mesh->SetGlobalColor(kFusionColor);
    mesh->mGetVertexQualities() = values;
  }
  if (!resultName.empty() && resultName != item.geo->GetName()) item.geo->SetName(resultName);
  item.geo->SetVisibility(kFusionResultVisibility);
  {
    v3d::LockGuard lock;
    SetFusionResult(std::move(item));
    m_unfilteredFusionTriangles = result.indices;
    FilterFusionResult(holeClosingSize);
  }
  if (progress) progress(1.0);
  return false;
}

void ShapeFusion::FilterFusionResult(double holeClosingSize) {
  if (!m_fusionResult || m_unfilteredFusionTriangles.empty()) return;
  v3d::LockGuard lock;
  for (const auto& mesh : *m_fusionResult->geo) {
    if (mesh->GetPrimSize() != 3) continue;
    mesh->mGetPrims() =
        FilterFusionTriangles(m_unfilteredFusionTriangles, mesh->GetVertexQualities(), holeClosingSize);
    break;
  }
  Touch();
}

void ShapeFusion::ClearUnfilteredFusionResult() { m_unfilteredFusionTriangles.clear(); }

double ShapeFusion::CalculateFusionVoxelSize(int resolution, bool visibleOnly) const {
  std::vector<FusionBox> boxes;
  for (const Scan& scan : m_scans) {
    if (visibleOnly && scan.geo->GetVisibility() == 0) continue;
    const math::Frame4d worldTscan = scan.geo->GetWorldFrame();
    constexpr double kHuge = std::numeric_limits<double>::max();
    FusionBox box{math::Vec3d(kHuge, kHuge, kHuge), math::Vec3d(-kHuge, -kHuge, -kHuge)};
    bool any = false;
    for (const auto& mesh : *scan.geo) {
      for (const auto& p : mesh->GetVertexCoords()) {
        const math::Vec3d q = worldTscan.MultP(math::Vec3d(p));
        if (!std::isfinite(q[0]) || !std::isfinite(q[1]) || !std::isfinite(q[2])) continue;
        for (int k = 0; k < 3; ++k) {
          box.min[k] = std::min(box.min[k], q[k]);
          box.max[k] = std::max(box.max[k], q[k]);
        }
        any = true;
      }
    }
    if (any) boxes.push_back(box);
  }
  if (resolution < kMinFusionResolution || resolution > kMaxFusionResolution) return 0.0;
  return surf::CalculateFusionVoxelSize(boxes, resolution);
}

}  // namespace surf
