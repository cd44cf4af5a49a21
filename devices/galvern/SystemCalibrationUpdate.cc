#include "devices/galvern/SystemCalibrationUpdate.h"

#include <algorithm>
#include <cmath>
#include <system_error>

#include "cam/CameraModelFunctions.h"
#include "cam/CameraModelOCV.h"
#include "cam/CameraModelOptimizer.h"
#include "cam/CameraModelTsai.h"
#include "foundation/img/ImageIO.h"
#include "scan/ClosestPoints.h"
#include "scan/SinglePhaseToDepthConverter.h"
#include "scan/StereoPhaseToDepthConverter.h"

namespace galvern {
namespace {

constexpr const char* kPrefix = "UpdateSystemCalibration - ";

bool HasBothOrientations(const scan::SLScanEvaluationResult& r) {
  return r.CorrespondencesX() && r.CorrespondencesY() && r.Quality();
}

// Distance (camera-1 pixels) of p1 from the epipolar line of camera-0 pixel
// p0: the line through the projections of two points of p0's ray near where
// the rays pass closest (the local direction of a distorted epipolar curve).
bool EpipolarError(double& error, const math::Vec2d& p0, const math::Vec2d& p1,
                   const cam::CameraModel& model0, const cam::CameraModel& model1) {
  math::Line3d ray0, ray1;
  if (!cam::PixelToWorldLine(ray0, p0, model0) || !cam::PixelToWorldLine(ray1, p1, model1))
    return false;
  math::Vec3d a, b;
  bool ok = false;
  scan::ClosestPointsOfLines(ray0, ray1, a, b, &ok);
  if (!ok) return false;
  const double range = (a - ray0.point).Length();
  const math::Vec3d further = a + ray0.direction.GetNormalized() * (0.01 * range);
  math::Vec2d qa, qb;
  if (!cam::WorldPointToPixel(qa, a, model1) || !cam::WorldPointToPixel(qb, further, model1))
    return false;
  const math::Vec2d along = qb - qa, off = p1 - qa;
  const double length = along.Length();
  if (!(length > 0.0)) return false;
  error = std::abs(along[0] * off[1] - along[1] * off[0]) / length;
  return std::isfinite(error);
}

std::shared_ptr<cam::CameraModel> FitPose(const cam::CameraModel& model1,
                                          const std::vector<math::Vec3d>& points3d,
                                          const std::vector<math::Vec2d>& points2d) {
  const std::vector<std::string> active{cam::ActiveParams().AddExtrinsics().GetString()};
  cam::CameraModelOptimizer optimizer;
  optimizer.SetOutlierRemoval(true, 5.0);
  optimizer.AddObservations(0, 0, points3d, points2d);
  std::shared_ptr<cam::CameraModel> fitted = model1.CloneModel();
  if (auto tsai = std::dynamic_pointer_cast<cam::CameraModelTsai>(fitted)) {
    optimizer.OptimizeCameraModels(std::vector{tsai}, active);
  } else if (auto ocv = std::dynamic_pointer_cast<cam::CameraModelOCV>(fitted)) {
    optimizer.OptimizeCameraModels(std::vector{ocv}, active);
  } else {
    return nullptr;
  }
  return optimizer.LastRunSucceeded() ? fitted : nullptr;
}

void WriteErrorImage(const img::UniImage<float>& errors, const std::filesystem::path& folder,
                     std::ostream& out) {
  img::UniImage<std::uint8_t> image(errors.width, errors.height);
  for (std::size_t i = 0; i < std::size_t(errors.size); ++i)
    image.data[i] = std::uint8_t(std::min(255.0, double(errors.data[i]) * 100.0));
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  const std::filesystem::path file = folder / "EpipolarErrorImage.bmp";
  if (!img::SaveBMP(image, file))
    out << kPrefix << "could not write the error image " << file.string() << '\n';
}

}  // namespace

bool MeasureEpipolarErrors(const scan::SLScanEvaluationResult& first,
                           const cam::CameraModel& model0,
                           const scan::SLScanEvaluationResult& second,
                           const cam::CameraModel& model1, const EpipolarOptions& options,
                           EpipolarErrors& errors) {
  errors = EpipolarErrors{};
  if (!HasBothOrientations(first) || !HasBothOrientations(second)) return false;
  const auto& q0 = *first.Quality();
  const auto& q1 = *second.Quality();
  std::unique_ptr<surf::DepthMap> depth;
  scan::StereoPhaseToDepthConverter::MatchImages found;
  if (!scan::StereoPhaseToDepthConverter().Convert(
          depth, model0, *first.CorrespondencesX(), *first.CorrespondencesY(), q0, model1,
          *second.CorrespondencesX(), *second.CorrespondencesY(), q1, nullptr, nullptr,
          scan::StereoPhaseToDepthConverter::kBoth, nullptr, &found))
    return false;
  errors.image.ResetSize(q0.width, q0.height);
  errors.image = 0.0f;
  double sum = 0.0;
  for (std::uint32_t y = 0; y < q0.height; ++y) {
    for (std::uint32_t x = 0; x < q0.width; ++x) {
      const double x1 = found.x(x, y), y1 = found.y(x, y);
      if (x1 < 0.0 || y1 < 0.0 || !(q0(x, y) >= options.minQuality)) continue;
      const auto cx = std::uint32_t(std::lround(x1)), cy = std::uint32_t(std::lround(y1));
      if (cx >= q1.width || cy >= q1.height || !(q1(cx, cy) >= options.minQuality)) continue;
      if (std::abs(x1 - std::floor(x1) - 0.5) > options.maxFractionOffset ||
          std::abs(y1 - std::floor(y1) - 0.5) > options.maxFractionOffset)
        continue;
      StereoMatch match{{double(x), double(y)}, {x1, y1}};
      if (!EpipolarError(match.error, match.first, match.second, model0, model1)) continue;
      errors.image(x, y) = float(match.error);
      errors.maximum = std::max(errors.maximum, match.error);
      sum += match.error;
      errors.matches.push_back(match);
    }
  }
  if (errors.matches.empty()) return false;
  errors.average = sum / double(errors.matches.size());
  return true;
}

std::shared_ptr<cam::CameraModel> ReestimateSecondCameraPose(
    const scan::SLScanEvaluationResult& first, const cam::CameraModel& model0,
    const cam::CameraModel& model1, const cam::CameraModel& projector,
    const std::vector<StereoMatch>& matches, std::size_t minPoints) {
  if (!projector.IsValid() || !HasBothOrientations(first)) return nullptr;
  std::unique_ptr<surf::DepthMap> depth;
  if (!scan::SinglePhaseToDepthConverter().Convert(depth, *first.CorrespondencesX(),
                                                   *first.CorrespondencesY(), *first.Quality(),
                                                   model0, projector, {false, true, true}) ||
      !depth)
    return nullptr;
  const auto& z = depth->GetDepthImage();
  // About 20 000 points fix six parameters far below the noise.
  const std::size_t step = std::max<std::size_t>(1, matches.size() / 20000);
  std::vector<math::Vec3d> points3d;
  std::vector<math::Vec2d> points2d;
  for (std::size_t i = 0; i < matches.size(); i += step) {
    const StereoMatch& m = matches[i];
    const float d = z(std::uint32_t(m.first[0]), std::uint32_t(m.first[1]));
    math::Vec3d p;
    if (!(d > 0.0f) || !cam::DepthPixelToWorldPoint(p, m.first, d, model0)) continue;
    points3d.push_back(p);
    points2d.push_back(m.second);
  }
  if (points3d.size() < minPoints) return nullptr;
  return FitPose(model1, points3d, points2d);
}

int UpdateSystemCalibration(scan::StructuredLightScanner& scanner,
                            const std::filesystem::path& calibrationFolder, std::ostream& out) {
  if (scanner.GetCameraCount() < 2) return -1;
  const auto model0 = scanner.GetCameraModel(0);
  const auto model1 = scanner.GetCameraModel(1);
  if (!model0 || !model1) return -1;
  const auto first = scanner.GetEvaluationResult(0);
  const auto second = scanner.GetEvaluationResult(1);
  EpipolarErrors before;
  if (!first || !second || !MeasureEpipolarErrors(*first, *model0, *second, *model1, {}, before)) {
    out << kPrefix
        << "no pixel of camera 0 was matched in camera 1 (the scan needs both stripe orientations "
        << "decoded in both cameras)\n";
    return -2;
  }
  WriteErrorImage(before.image, calibrationFolder, out);
  out << kPrefix << "Average / maximum epipolar error: " << before.average << " / "
      << before.maximum << '\n';
  const auto projector = scanner.GetProjectorModel();
  if (!projector || !projector->IsValid()) {
    out << kPrefix
        << "the projector has no calibration, so the pose between the cameras cannot be "
           "re-estimated\n";
    return -2;
  }
  const auto updated =
      ReestimateSecondCameraPose(*first, *model0, *model1, *projector, before.matches);
  EpipolarErrors after;
  if (!updated || !MeasureEpipolarErrors(*first, *model0, *second, *updated, {}, after)) {
    out << kPrefix << "too few points to re-estimate the pose between the cameras\n";
    return -2;
  }
  out << kPrefix << "Pose transform: " << model0->GetFrame_cTw() * updated->GetFrame_wTc();
  if (after.average >= before.average) return 1;
  scanner.SetCameraModel(updated, 1);
  return after.average > 1.0 ? 1 : 0;
}

}  // namespace galvern
