#include "shell/DepthConversion.h"

#include <algorithm>
#include <exception>

#include "scan/SinglePhaseToDepthConverter.h"
#include "scan/StereoPhaseToDepthConverter.h"

namespace shell {
namespace {

bool Usable(const scan::SLScanEvaluationResultPtr& result) {
  return result && result->Quality() && (result->CorrespondencesX() || result->CorrespondencesY());
}

void SetTexture(ResultSurface& surface, const ConversionInput& input, std::size_t camera) {
  if (input.highQualityTexture && input.highQualityTextureModel) {
    surface.texture = input.highQualityTexture;
    surface.textureCameraModel = input.highQualityTextureModel;
    return;
  }
  const auto& result = input.results[camera];
  if (result && result->Texture() && !result->Texture()->IsEmpty()) {
    surface.texture = result->Texture();
    surface.textureCameraModel = input.cameraModels[camera];
  }
}

ResultSurface Surface(std::unique_ptr<surf::DepthMap> depth, int camera) {
  ResultSurface surface;
  surface.depthMap = std::move(depth);
  surface.available = surface.depthMap != nullptr;
  surface.cameraIndex = camera;
  return surface;
}

ResultSurface ConvertStereo(const ConversionInput& input, const LogSink& log) {
  const auto& a = *input.results[0];
  const auto& b = *input.results[1];
  const bool bothX = a.CorrespondencesX() && b.CorrespondencesX();
  const bool bothY = a.CorrespondencesY() && b.CorrespondencesY();
  if (!bothX && !bothY) return {};
  const scan::StereoPhaseToDepthConverter converter;
  const cam::CameraModel* projector = input.projectorModel.get();
  std::unique_ptr<surf::DepthMap> depth;
  bool converted = false;
  if (bothX && bothY) {
    converted = converter.Convert(depth, *input.cameraModels[0], *a.CorrespondencesX(), *a.CorrespondencesY(),
                                  *a.Quality(), *input.cameraModels[1], *b.CorrespondencesX(), *b.CorrespondencesY(),
                                  *b.Quality(), projector, nullptr, scan::StereoPhaseToDepthConverter::kBoth);
  } else {
    // Orientation 0 compares projector columns, 1 projector rows.
    const int orientation = bothX ? scan::StereoPhaseToDepthConverter::kHorizontal
                                  : scan::StereoPhaseToDepthConverter::kVertical;
    converted = converter.Convert(depth, *input.cameraModels[0], bothX ? *a.CorrespondencesX() : *a.CorrespondencesY(),
                                  *a.Quality(), *input.cameraModels[1],
                                  bothX ? *b.CorrespondencesX() : *b.CorrespondencesY(), *b.Quality(), projector,
                                  nullptr, orientation);
  }
  if (!converted || !depth) {
    log("Error: StructuredLightUI - the two-camera conversion gave no depth map.");
    return {};
  }
  return Surface(std::move(depth), 0);
}

ResultSurface ConvertSingle(const ConversionInput& input, std::size_t camera, const LogSink& log) {
  img::UniImagePtr<float> phaseX, phaseY;
  bool measuredX = false, measuredY = false;
  if (!CompletePhaseImages(*input.results[camera], phaseX, phaseY, measuredX, measuredY)) return {};
  std::unique_ptr<surf::DepthMap> depth;
  const bool converted = scan::SinglePhaseToDepthConverter().Convert(
      depth, *phaseX, *phaseY, *input.results[camera]->Quality(), *input.cameraModels[camera], *input.projectorModel,
      {true, measuredX, measuredY});
  if (!converted || !depth) {
    log("Error: StructuredLightUI - camera " + std::to_string(camera) + " gave no depth map.");
    return {};
  }
  return Surface(std::move(depth), static_cast<int>(camera));
}

}  // namespace

bool CompletePhaseImages(const scan::SLScanEvaluationResult& result, img::UniImagePtr<float>& phaseX,
                         img::UniImagePtr<float>& phaseY, bool& measuredX, bool& measuredY) {
  const auto quality = result.Quality();
  if (!quality) return false;
  phaseX = result.CorrespondencesX();
  phaseY = result.CorrespondencesY();
  measuredX = phaseX != nullptr;
  measuredY = phaseY != nullptr;
  if (!phaseX) phaseX = scan::SLScan::GenerateDefaultUnitPhaseX(quality->width, quality->height);
  if (!phaseY) phaseY = scan::SLScan::GenerateDefaultUnitPhaseY(quality->width, quality->height);
  return true;
}

std::array<ResultSurface, kSurfaceCount> ConvertToSurfaces(const ConversionInput& input, const LogSink& log) {
  std::array<ResultSurface, kSurfaceCount> surfaces;
  const std::size_t cameras = std::min(input.results.size(), input.cameraModels.size());
  if (input.projectorReflectionFilter)
    log("StructuredLightUI: the projector reflection filter is not available; converting without it.");
  if (cameras == 2 && input.cameraModels[0] && input.cameraModels[1] && Usable(input.results[0]) &&
      Usable(input.results[1])) {
    try {
      surfaces[kSurfaceStereo] = ConvertStereo(input, log);
      if (surfaces[kSurfaceStereo].available) SetTexture(surfaces[kSurfaceStereo], input, 0);
    } catch (const std::exception& e) {
      log(std::string("Error: ") + e.what());
    }
  }
  if (!input.projectorModel || !input.projectorModel->IsValid()) {
    if (cameras > 0) log("Error: StructuredLightUI - the projector has no valid model.");
    return surfaces;
  }
  for (std::size_t c = 0; c < cameras && c < 2; ++c) {
    if (!input.cameraModels[c] || !Usable(input.results[c])) continue;
    surfaces[c] = ConvertSingle(input, c, log);
    if (surfaces[c].available) SetTexture(surfaces[c], input, c);
  }
  return surfaces;
}

}  // namespace shell
