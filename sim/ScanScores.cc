#include "sim/ScanScores.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "cam/CameraModelFunctions.h"
#include "sim/RigScanResult.h"
#include "sim/VirtualRig.h"

namespace sim {
namespace {

bool Decoded(const scan::SLScanEvaluationResult& result, std::size_t i) {
  const auto quality = result.Quality();
  auto inside = [&](const img::UniImagePtr<float>& c) { return !c || (c->data[i] >= 0.0f && c->data[i] < 1.0f); };
  return quality && quality->data[i] > 0.0f && inside(result.CorrespondencesX()) && inside(result.CorrespondencesY());
}

template <typename Image>
void RequireSize(const Image& image, const img::UniImage<std::uint8_t>& views, const char* method) {
  if (image.width != views.width || image.height != views.height)
    throw std::invalid_argument(std::string("sim::") + method + " - the image and the camera differ in size.");
}

// The true depth at a sub-pixel position (pixel centres at integer
// coordinates): bilinear over the four surrounding pixel centres, the
// nearest one where they are not all on the surface or spread over more
// than kDepthEdge (a depth edge: a silhouette against what lies behind it;
// a surface at 80° to the view changes by about 1 mm per pixel on the rigs);
// 0 off the surface or the image.
constexpr double kDepthEdge = 5.0;  // mm

double TrueDepthAt(const img::FloatImage& truth, const math::Vec2d& pixel) {
  const double fx = std::floor(pixel[0]), fy = std::floor(pixel[1]);
  const auto x0 = std::int64_t(fx), y0 = std::int64_t(fy);
  const double ax = pixel[0] - fx, ay = pixel[1] - fy;
  const auto at = [&](std::int64_t x, std::int64_t y) -> double {
    if (x < 0 || y < 0 || x >= std::int64_t(truth.width) || y >= std::int64_t(truth.height))
      return 0.0;
    return truth(std::uint32_t(x), std::uint32_t(y));
  };
  const double v[4] = {at(x0, y0), at(x0 + 1, y0), at(x0, y0 + 1), at(x0 + 1, y0 + 1)};
  const double lo = *std::min_element(v, v + 4), hi = *std::max_element(v, v + 4);
  if (lo > 0.0 && hi - lo <= kDepthEdge)
    return (1 - ay) * ((1 - ax) * v[0] + ax * v[1]) + ay * ((1 - ax) * v[2] + ax * v[3]);
  return at(std::int64_t(std::lround(pixel[0])), std::int64_t(std::lround(pixel[1])));
}

DepthScore Summarise(std::vector<double>& errors, DepthScore score) {
  double sum = 0.0, sumSquares = 0.0;
  for (double& e : errors) {
    sum += e;
    sumSquares += e * e;
    e = std::abs(e);
    score.max = std::max(score.max, e);
  }
  const double n = double(std::max<std::size_t>(errors.size(), 1));
  score.validPixels = errors.size();
  score.rms = std::sqrt(sumSquares / n);
  score.mean = sum / n;
  score.p99 = Percentile(std::move(errors), 0.99);
  return score;
}

}  // namespace

std::size_t CountLitPixels(const VirtualRig& rig) {
  std::size_t lit = 0;
  for (std::size_t c = 0; c < rig.GetCameraCount(); ++c) {
    const auto& views = rig.GetCamera(c)->GetPixelViews();
    lit += std::size_t(std::count(views.data, views.data + views.size, std::uint8_t(PixelView::kLit)));
  }
  return lit;
}

math::Frame4d TrueRelativePose(const RigScan& a, const RigScan& b) {
  return b.world_T_object * a.world_T_object.GetInverse();
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0.0;
  const auto k = std::size_t(std::clamp(std::ceil(p * double(values.size())) - 1.0, 0.0, double(values.size() - 1)));
  std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(k), values.end());
  return values[k];
}

DecodingScore ScoreDecoding(const scan::SLScanEvaluationResult& result, const VirtualCamera& camera) {
  const auto& views = camera.GetPixelViews();
  if (result.Quality()) RequireSize(*result.Quality(), views, "ScoreDecoding");
  std::size_t decoded = 0, lit = 0, litDecoded = 0;
  for (std::int32_t i = 0; i < views.size; ++i) {
    const bool d = Decoded(result, std::size_t(i));
    const bool l = views.data[i] == std::uint8_t(PixelView::kLit);
    decoded += d;
    lit += l;
    litDecoded += d && l;
  }
  DecodingScore score;
  score.camera = camera.GetName();
  score.width = views.width;
  score.height = views.height;
  score.decodedFraction = double(decoded) / double(std::max<std::int32_t>(views.size, 1));
  score.visiblePixels = lit;
  score.decodedFractionOfVisible = lit ? double(litDecoded) / double(lit) : 0.0;
  score.undecodedVisibleFraction = lit ? double(lit - litDecoded) / double(lit) : 0.0;
  return score;
}

DepthScore ScoreDepth(const surf::DepthMap& depth, const VirtualCamera& camera,
                      const cam::CameraModel* depthCamera) {
  const auto& truth = camera.GetGroundTruth().depth;
  const auto& d = depth.GetDepthImage();
  RequireSize(d, camera.GetPixelViews(), "ScoreDepth");
  if (depthCamera) return ScoreDepthInWorld(d, *depthCamera, truth, camera.GetModel());
  std::vector<double> errors;
  DepthScore score;
  for (std::int32_t i = 0; i < d.size; ++i) {
    if (!(d.data[i] > 0.0f)) continue;
    if (!(truth.data[i] > 0.0f)) {
      ++score.pointsWithoutSurface;
      continue;
    }
    errors.push_back(double(d.data[i]) - double(truth.data[i]));
  }
  return Summarise(errors, score);
}

DepthScore ScoreDepthInWorld(const img::FloatImage& depth, const cam::CameraModel& depthCamera,
                             const img::FloatImage& truth, const cam::CameraModel& trueCamera) {
  if (depth.width != truth.width || depth.height != truth.height)
    throw std::invalid_argument(
        "sim::ScoreDepthInWorld - the depth map and the truth differ in size.");
  std::vector<double> errors;
  DepthScore score;
  const math::Frame<double> true_cTw = trueCamera.GetFrame_cTw();
  for (std::uint32_t y = 0; y < depth.height; ++y) {
    for (std::uint32_t x = 0; x < depth.width; ++x) {
      const float z = depth(x, y);
      if (!(z > 0.0f)) continue;
      math::Vec3d world;
      math::Vec2d pixel;
      if (!cam::DepthPixelToWorldPoint(world, {double(x), double(y)}, z, depthCamera)) continue;
      const math::Vec3d point = true_cTw.MultP(world);  // true camera frame
      const double surface =
          trueCamera.CameraPointToPixel(pixel, point) ? TrueDepthAt(truth, pixel) : 0.0;
      if (!(surface > 0.0)) {
        ++score.pointsWithoutSurface;
        continue;
      }
      errors.push_back(point[2] - surface);
    }
  }
  return Summarise(errors, score);
}

}  // namespace sim
