#include "sim/ScanScores.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

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

DepthScore ScoreDepth(const surf::DepthMap& depth, const VirtualCamera& camera) {
  const auto& truth = camera.GetGroundTruth().depth;
  const auto& d = depth.GetDepthImage();
  RequireSize(d, camera.GetPixelViews(), "ScoreDepth");
  std::vector<double> errors;
  DepthScore score;
  double sum = 0.0, sumSquares = 0.0;
  for (std::int32_t i = 0; i < d.size; ++i) {
    if (!(d.data[i] > 0.0f)) continue;
    if (!(truth.data[i] > 0.0f)) {
      ++score.pointsWithoutSurface;
      continue;
    }
    const double e = double(d.data[i]) - double(truth.data[i]);
    errors.push_back(std::abs(e));
    sum += e;
    sumSquares += e * e;
    score.max = std::max(score.max, std::abs(e));
  }
  const double n = double(std::max<std::size_t>(errors.size(), 1));
  score.validPixels = errors.size();
  score.rms = std::sqrt(sumSquares / n);
  score.mean = sum / n;
  score.p99 = Percentile(std::move(errors), 0.99);
  return score;
}

}  // namespace sim
