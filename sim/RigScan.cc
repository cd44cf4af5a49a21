#include "sim/RigScan.h"

#include <algorithm>
#include <cmath>

#include "foundation/utils/Timer.h"
#include "scan/SLCodedLightScan.h"
#include "scan/SinglePhaseToDepthConverter.h"
#include "scan/StereoPhaseToDepthConverter.h"
#include "scan/StructuredLightScanner.h"
#include "surf/mesh/DepthMapFilter.h"
#include "surf/mesh/MeshTools.h"

namespace sim {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Progress ranges of the stages of one scan.
constexpr double kCastEnd = 0.1, kCaptureEnd = 0.85, kEvaluateEnd = 0.95;

std::size_t LitPixels(const VirtualRig& rig) {
  std::size_t lit = 0;
  for (std::size_t c = 0; c < rig.GetCameraCount(); ++c) {
    const auto& views = rig.GetCamera(c)->GetPixelViews();
    lit += std::size_t(std::count(views.data, views.data + views.size, std::uint8_t(PixelView::kLit)));
  }
  return lit;
}

void DropBorderAndGrazingPixels(surf::DepthMap& map, double maxViewingAngleDeg) {
  const auto& depth = map.GetDepthImage();
  const std::uint32_t w = depth.width, h = depth.height;
  const double maxSlope = std::tan(maxViewingAngleDeg * kPi / 180.0);
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

// The mesh of a depth map with normals and, when a texture is given,
// colours (the texture at each vertex's pixel), texture coordinates and the
// texture itself.
surf::MeshArrays MeshOf(const surf::DepthMap& depth, const img::UniImagePtr<img::RGB8>& texture, float maxDepthJump) {
  std::vector<float> vertices, tex, normals;
  std::vector<std::uint32_t> indices;
  depth.ComputeTriangleMesh(vertices, indices, tex, false, maxDepthJump);
  surf::CalcNormals(normals, vertices, indices);
  surf::MeshArrays mesh;
  const std::size_t n = vertices.size() / 3;
  const bool textured = texture && !texture->IsEmpty();
  mesh.positions.reserve(n);
  mesh.normals.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    mesh.positions.push_back({vertices[3 * i], vertices[3 * i + 1], vertices[3 * i + 2]});
    mesh.normals.push_back({normals[3 * i], normals[3 * i + 1], normals[3 * i + 2]});
    if (!textured) continue;
    const float s = tex[2 * i], t = tex[2 * i + 1];
    const auto x = std::min(texture->width - 1, std::uint32_t(std::max(0.0f, s * float(texture->width))));
    const auto y = std::min(texture->height - 1, std::uint32_t(std::max(0.0f, t * float(texture->height))));
    const img::RGB8 c = (*texture)(x, y);
    mesh.colors.push_back(v3d::Color4ub{c.r, c.g, c.b, 255});
    mesh.texCoords.push_back({s, t});
  }
  if (textured) mesh.texture = *texture;
  mesh.indices = std::move(indices);
  return mesh;
}

RigScan Failed(RigScan scan, std::string error) {
  scan.status = RigScanStatus::kFailed;
  scan.error = std::move(error);
  return scan;
}

RigScan Cancelled(RigScan scan) {
  scan.status = RigScanStatus::kCancelled;
  return scan;
}

// The first camera's depth map: against the second camera's x
// correspondences when there are two cameras, else against the projector.
std::unique_ptr<surf::DepthMap> Triangulate(const VirtualRig& rig, const scan::StructuredLightScanner& scanner,
                                            std::string& triangulation) {
  const auto first = scanner.GetEvaluationResult(0);
  const auto& quality = *first->Quality();
  const auto px = first->CorrespondencesX(), py = first->CorrespondencesY();
  std::unique_ptr<surf::DepthMap> depth;
  if (rig.GetCameraCount() >= 2 && px) {
    triangulation = "stereo";
    const auto second = scanner.GetEvaluationResult(1);
    if (!second->CorrespondencesX() ||
        !scan::StereoPhaseToDepthConverter().Convert(depth, *rig.GetCameraModel(0), *px, quality,
                                                     *rig.GetCameraModel(1), *second->CorrespondencesX(),
                                                     *second->Quality(), rig.GetProjectorModel().get()))
      return nullptr;
    return depth;
  }
  triangulation = "camera-projector";
  img::UniImage<float> none(quality.width, quality.height);
  none = -1.0f;
  if (!scan::SinglePhaseToDepthConverter().Convert(depth, px ? *px : none, py ? *py : none, quality,
                                                   *rig.GetCameraModel(0), *rig.GetProjectorModel(),
                                                   {true, bool(px), bool(py)}))
    return nullptr;
  return depth;
}

}  // namespace

scan::SLScanPtr MakeDefaultScanDefinition(const VirtualRig& rig, bool texture) {
  const auto& projector = rig.GetProjector()->GetOptions();
  auto coded = std::make_shared<scan::SLCodedLightScan>(projector.width, projector.height, 4, 16, 0, 5.0f);
  coded->PrepareScanForOrientation(1);
  coded->PrepareScanForOrientation(0);
  if (texture) coded->PrepareTextureScan(0);
  for (const auto& pattern : coded->AllPatterns()) {
    pattern->SetBrightness(255);
    pattern->SetProjectorGamma(projector.displayGamma);
  }
  return coded;
}

RigScan ScanRig(VirtualRig& rig, double turntableAngle, const RigScanOptions& options,
                const utils::ProgressCallback& progress) {
  utils::Timer total, stage;
  RigScan result;
  if (!std::isfinite(turntableAngle)) return Failed(std::move(result), "the turntable angle must be finite");
  if (options.objectId < 0 || std::size_t(options.objectId) >= rig.GetScene().GetNumObjects())
    return Failed(std::move(result), "the scene has no object " + std::to_string(options.objectId));
  const utils::SubProgress castProgress(progress, 0.0, kCastEnd), captureProgress(progress, kCastEnd, kCaptureEnd),
      evaluateProgress(progress, kCaptureEnd, kEvaluateEnd), depthProgress(progress, kEvaluateEnd, 1.0);

  if (rig.GetScene().GetTurntable().angle != turntableAngle) rig.SetTurntableAngle(turntableAngle);
  result.turntableAngle = turntableAngle;
  result.turntableMotion = rig.GetScene().GetTurntable().GetMotion();
  result.world_T_object = rig.GetScene().GetObjectPose(options.objectId);
  result.seconds.cast = stage.ElapsedSeconds();
  if (const std::size_t lit = LitPixels(rig); lit < options.minVisiblePixels)
    return Failed(std::move(result), "the object is outside every camera's view or the projector's light (" +
                                         std::to_string(lit) + " lit pixels)");
  if (castProgress(1.0)) return Cancelled(std::move(result));

  const scan::SLScanPtr definition =
      options.definition ? options.definition : MakeDefaultScanDefinition(rig, options.texture);
  result.patternCount = std::uint32_t(definition->PatternCount());
  scan::StructuredLightScanner scanner(scan::StructuredLightScanner::InitParams{});
  for (std::size_t c = 0; c < rig.GetCameraCount(); ++c) {
    const std::size_t index = scanner.AddCamera(rig.GetCamera(c)->GetName(), false);
    scanner.SetImageCapture(rig.GetCamera(c), index);
    scanner.SetCameraModel(rig.GetCameraModel(c), index);
  }
  scanner.SetProjector("VirtualProjector", rig.GetProjector());
  scanner.SetProjectorModel(rig.GetProjectorModel());
  scanner.SetAcquisitionParameters(options.acquisition);
  scanner.SetSLScan(definition);

  stage.Restart();
  bool cancelled = false;
  scanner.CapturePatternSequence([&](double f) { return cancelled = cancelled || captureProgress(f); });
  if (cancelled || scanner.GetCompletedPatternCount() < definition->PatternCount()) return Cancelled(std::move(result));
  result.seconds.capture = stage.ElapsedSeconds();

  stage.Restart();
  if (!scanner.EvaluatePatternSequence([&](double f) { return cancelled = cancelled || evaluateProgress(f); }) ||
      cancelled)
    return Cancelled(std::move(result));
  result.seconds.evaluate = stage.ElapsedSeconds();

  stage.Restart();
  for (std::size_t c = 0; c < rig.GetCameraCount(); ++c) {
    const auto evaluation = scanner.GetEvaluationResult(c);
    if (!evaluation || !evaluation->Quality())
      return Failed(std::move(result), "camera " + rig.GetCamera(c)->GetName() + " decoded nothing");
    result.decoding.push_back(ScoreDecoding(*evaluation, *rig.GetCamera(c)));
  }
  std::unique_ptr<surf::DepthMap> depth = Triangulate(rig, scanner, result.triangulation);
  if (!depth) return Failed(std::move(result), "the decoded correspondences could not be triangulated");
  depth = surf::CreateFilteredDepthMap(std::move(depth), nullptr, 0, options.smoothIterations, options.qualityThreshold, 0.0,
                                       options.minFragmentRatio, options.maxDepthJump);
  DropBorderAndGrazingPixels(*depth, options.maxViewingAngleDeg);
  result.depthScore = ScoreDepth(*depth, *rig.GetCamera(0));
  result.seconds.depth = stage.ElapsedSeconds();
  if (depthProgress(0.5)) return Cancelled(std::move(result));

  stage.Restart();
  const auto first = scanner.GetEvaluationResult(0);
  result.mesh = MeshOf(*depth, options.texture ? first->Texture() : nullptr, options.maxDepthJump);
  result.quality = first->Quality();
  result.depth = std::move(depth);
  result.seconds.mesh = stage.ElapsedSeconds();
  result.seconds.total = total.ElapsedSeconds();
  if (depthProgress(1.0)) return Cancelled(std::move(result));
  result.status = RigScanStatus::kSuccess;
  return result;
}

TurntableSet ScanTurntableSet(VirtualRig& rig, int views, double startAngle, double stepAngle,
                              const RigScanOptions& options, const utils::ProgressCallback& progress) {
  TurntableSet set;
  if (views < 1 || !std::isfinite(startAngle) || !std::isfinite(stepAngle)) {
    set.error = "a turntable set needs at least one view and finite angles";
    return set;
  }
  for (int k = 0; k < views; ++k) {
    const utils::SubProgress sub(progress, double(k) / views, double(k + 1) / views);
    RigScan scan = ScanRig(rig, startAngle + k * stepAngle, options, sub.AsCallback());
    set.status = scan.status;
    if (scan.status == RigScanStatus::kFailed) set.error = "view " + std::to_string(k) + ": " + scan.error;
    if (scan.status != RigScanStatus::kSuccess) return set;
    set.scans.push_back(std::move(scan));
  }
  return set;
}

math::Frame4d TrueRelativePose(const RigScan& a, const RigScan& b) {
  return b.world_T_object * a.world_T_object.GetInverse();
}

}  // namespace sim
