#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "cam/CameraModel.h"
#include "scan/SLScan.h"
#include "shell/Log.h"
#include "shell/ResultMesh.h"

namespace shell {

// Surface identifiers of a scan's results.
inline constexpr int kSurfaceCamera0 = 0;
inline constexpr int kSurfaceCamera1 = 1;
inline constexpr int kSurfaceStereo = 2;
inline constexpr int kSurfaceCount = 3;

// What the depth conversion of one scan works on: per camera its
// evaluation result (null when it decoded nothing) and model (null when
// uncalibrated), the projector model (normalised coordinates) and the
// texture that colours the surfaces.
struct ConversionInput {
  std::vector<scan::SLScanEvaluationResultPtr> results;
  std::vector<std::shared_ptr<cam::CameraModel>> cameraModels;
  std::shared_ptr<cam::CameraModel> projectorModel;
  // The high-quality texture and its camera's model, when the scanner took
  // one: it colours every surface. Otherwise each camera's own texture.
  img::UniImagePtr<img::RGB8> highQualityTexture;
  std::shared_ptr<cam::CameraModel> highQualityTextureModel;
  // "Triangulation/ProjectorReflectionFilter". The camera–projector
  // converter here has no reflection filter: the flag is only logged.
  bool projectorReflectionFilter = false;
};

// The projector column and row images of a result, for the camera–projector
// converter: the decoded ones, and for a direction that was not measured
// the default unit phase of the scan definition (SLScan::
// GenerateDefaultUnitPhaseX/Y) at the quality image's size. measuredX and
// measuredY tell which were decoded. False without a quality image.
bool CompletePhaseImages(const scan::SLScanEvaluationResult& result, img::UniImagePtr<float>& phaseX,
                         img::UniImagePtr<float>& phaseY, bool& measuredX, bool& measuredY);

// Converts the results into surfaces: with two cameras that both have a
// model, the two-camera surface (StereoPhaseToDepthConverter on the phases
// both cameras decoded: both orientations as key pairs, else the one
// measured); then, for every camera with a model, that camera against the
// projector (SinglePhaseToDepthConverter with the gradient check on and
// the measured directions). A converter that fails leaves its surface
// unavailable; its reason is logged as one "Error: ..." line.
std::array<ResultSurface, kSurfaceCount> ConvertToSurfaces(const ConversionInput& input, const LogSink& log);

}  // namespace shell
