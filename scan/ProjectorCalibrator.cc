#include "scan/ProjectorCalibrator.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <numbers>

#include "cam/CalibrateTsai.h"
#include "cam/CameraModelFunctions.h"
#include "foundation/math/Line.h"
#include "scan/StereoPhaseToDepthConverter.h"
#include "surf/mesh/DepthMap.h"

namespace scan {
namespace {

constexpr std::size_t kMaxPoints = 20000;
constexpr double kMedianToSigma = 1.1774;  // median residual length of isotropic Gaussian noise / σ

std::ostream& operator<<(std::ostream& out, const math::Plane<double>& p) {
  const math::Vec3d q = p.Point3(), n = p.Normal3();
  return out << "point (" << q[0] << ", " << q[1] << ", " << q[2] << "), normal (" << n[0] << ", "
             << n[1] << ", " << n[2] << ")";
}

bool Usable(const ProjectorView& v) {
  return v.camera && v.x && v.y && v.quality && v.x->width == v.quality->width &&
         v.y->width == v.quality->width && v.x->height == v.quality->height &&
         v.y->height == v.quality->height;
}

// The world ray of a camera pixel.
bool WorldRay(const cam::CameraModel& camera, double x, double y, math::Line<3, double>& line) {
  math::Vec3d ray;
  if (!camera.PixelToCameraRay(ray, {x, y})) return false;
  line.point = camera.GetFrame_wTc().GetTrans();
  line.direction = camera.GetFrame_wTc().MultV(ray);
  return true;
}

// The point where the ray meets panel i within its node area (half a
// spacing around), in front of the camera.
bool HitPanel(const math::Line<3, double>& ray, const CamCalib::CalibGrid& grid,
              const math::Plane<double>& plane, math::Vec3d& hit) {
  if (!plane.GetIntersectPoint3d(ray, hit) || math::Dot(hit - ray.point, ray.direction) <= 0.0)
    return false;
  const math::Vec3d q = grid.world_T_plate.GetInverse() * hit;
  return q[0] >= -0.5 * grid.spacingX && q[0] <= (grid.countX - 0.5) * grid.spacingX &&
         q[1] >= -0.5 * grid.spacingY && q[1] <= (grid.countY - 0.5) * grid.spacingY;
}

// Keeps every k-th pair so that at most kMaxPoints remain.
void Thin(std::vector<math::Vec3d>& p3, std::vector<math::Vec2d>& p2) {
  if (p3.size() <= kMaxPoints) return;
  const double step = double(p3.size()) / kMaxPoints;
  std::vector<math::Vec3d> a;
  std::vector<math::Vec2d> b;
  for (std::size_t i = 0; i < kMaxPoints; ++i) {
    const auto k = std::size_t(i * step);
    a.push_back(p3[k]);
    b.push_back(p2[k]);
  }
  p3.swap(a);
  p2.swap(b);
}

// Drops the pairs whose residual under the model exceeds factor × the
// robust σ (from the median residual length); the number dropped.
std::size_t RemoveOutliers(const cam::CameraModel& model, std::vector<math::Vec3d>& p3,
                           std::vector<math::Vec2d>& p2, double factor) {
  std::vector<std::pair<math::Vec2d, math::Vec2d>> residuals;
  double rms = 0.0;
  if (p3.empty() || !cam::GetCalibrationError(model, p3, p2, residuals, rms)) return 0;
  std::vector<double> lengths;
  for (const auto& r : residuals) lengths.push_back(r.second.Length());
  std::vector<double> sorted = lengths;
  std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(sorted.size() / 2),
                   sorted.end());
  const double limit = factor * sorted[sorted.size() / 2] / kMedianToSigma;
  std::vector<math::Vec3d> a;
  std::vector<math::Vec2d> b;
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    if (lengths[i] <= limit) a.push_back(p3[i]), b.push_back(p2[i]);
  }
  const std::size_t removed = p3.size() - a.size();
  p3.swap(a);
  p2.swap(b);
  return removed;
}

}  // namespace

bool ProjectorCalibrator::CalibProjector(cam::CameraModelTsai& projector,
                                         const HardwareSetup& setup,
                                         const std::vector<ProjectorView>& views,
                                         const ProjectorCalibrationOptions& options) {
  constexpr const char* kFailed = "Projector calibration failed!\n";
  m_rms = 0.0, m_numPoints = 0, m_numOutliers = 0;
  const math::Plane<double> left = setup.GetLeftBackgroundPlane(),
                            right = setup.GetRightBackgroundPlane();
  std::cout << "CalibrateProjector: leftBackPlane  = " << left << '\n';
  std::cout << "CalibrateProjector: rightBackPlane = " << right << '\n';
  if (left.IsEmpty() || right.IsEmpty() || views.empty() || options.projectorWidth == 0 ||
      options.projectorHeight == 0) {
    std::cout << kFailed;
    return false;
  }
  const math::Vec3d nl = left.Normal3().GetNormalized(), nr = right.Normal3().GetNormalized();
  const double between = std::acos(std::clamp(math::Dot(nl, nr), -1.0, 1.0));
  std::cout << "Angle between calibration panels: "
            << (std::numbers::pi - between) * 180.0 / std::numbers::pi << " degree\n";
  const auto& grids = setup.GetCalibGrids();

  std::vector<math::Vec3d> points3d;
  std::vector<math::Vec2d> points2d;
  bool sizeShown = false;
  for (const ProjectorView& v : views) {
    if (!Usable(v)) continue;
    const cam::CameraModel& camera = *v.camera;
    if (!sizeShown) {
      // The footprint of the centre pixel: its ray and its neighbour's on the nearer panel.
      const double cx = camera.GetResX() / 2.0, cy = camera.GetResY() / 2.0;
      math::Line<3, double> a, b;
      math::Vec3d pa, pb;
      if (WorldRay(camera, cx, cy, a) && WorldRay(camera, cx + 1.0, cy, b) &&
          (HitPanel(a, grids[0], left, pa)
               ? left.GetIntersectPoint3d(b, pb)
               : HitPanel(a, grids[1], right, pa) && right.GetIntersectPoint3d(b, pb))) {
        std::cout << "  Size of camera's center pixel at background plane: " << (pb - pa).Length()
                  << " mm\n";
        sizeShown = true;
      }
    }
    const int step = std::max(1, options.pixelStep);
    for (std::uint32_t y = 0; y < v.quality->height; y += std::uint32_t(step)) {
      for (std::uint32_t x = 0; x < v.quality->width; x += std::uint32_t(step)) {
        const float q = (*v.quality)(x, y), u = (*v.x)(x, y), w = (*v.y)(x, y);
        if (!(q >= options.minQuality) || !(u >= 0.0f && u <= 1.0f) || !(w >= 0.0f && w <= 1.0f))
          continue;
        math::Line<3, double> ray;
        if (!WorldRay(camera, x, y, ray)) continue;
        math::Vec3d hl, hr;
        const bool onLeft = HitPanel(ray, grids[0], left, hl),
                   onRight = HitPanel(ray, grids[1], right, hr);
        if (onLeft == onRight) continue;  // neither, or ambiguous
        points3d.push_back(onLeft ? hl : hr);
        points2d.push_back(
            {double(u) * options.projectorWidth, double(w) * options.projectorHeight});
      }
    }
  }
  Thin(points3d, points2d);
  if (!Calibrate(projector, std::move(points3d), std::move(points2d), options)) {
    std::cout << kFailed;
    return false;
  }
  return true;
}

bool ProjectorCalibrator::Calibrate(cam::CameraModelTsai& projector,
                                    std::vector<math::Vec3d> points3d,
                                    std::vector<math::Vec2d> points2d,
                                    const ProjectorCalibrationOptions& options) {
  const std::uint32_t W = options.projectorWidth, H = options.projectorHeight;
  cam::CameraModelTsai best;
  double bestRMS = std::numeric_limits<double>::infinity();
  std::vector<std::pair<math::Vec2d, math::Vec2d>> residuals;
  for (double cy = -0.5; cy < 1.6; cy += 0.5) {
    cam::TsaiSensorDescription sensor;
    sensor.cx = 0.5 * W;
    sensor.cy = cy * H;
    cam::CameraModelTsai model;
    double rms = 0.0;
    if (cam::CalibrateTsai().Calibrate(model, points3d, points2d, W, H, sensor, false) &&
        cam::GetCalibrationError(model, points3d, points2d, residuals, rms) && std::isfinite(rms)) {
      std::cout << "cy=" << cy << "\trmsError=" << rms << '\n';
      if (rms < bestRMS) bestRMS = rms, best = model;
    } else {
      std::cout << "cy=" << cy << "\tCalibration failed.\n";
    }
  }
  if (!std::isfinite(bestRMS)) return false;

  // Outliers: residuals beyond the factor of the robust σ. The start model
  // was fitted with the wrongly decoded pixels in, so its own error can
  // reach the noise's size somewhere; a threshold cutting through the good
  // points there keeps one side of their noise and bends the refined model.
  // The points are therefore judged again against each refined model, from
  // the full set, until the kept set stops changing.
  const std::size_t total = points3d.size();
  std::vector<math::Vec3d> kept3d;
  std::vector<math::Vec2d> kept2d;
  std::size_t outliers = 0;
  for (int pass = 0; pass < std::max(1, options.outlierPasses); ++pass) {
    kept3d = points3d, kept2d = points2d;
    const std::size_t removed = RemoveOutliers(best, kept3d, kept2d, options.outlierSigmaFactor);
    if (removed == 0 || (pass > 0 && removed == outliers)) break;
    outliers = removed;
    if (!cam::CalibrateTsai().Optimize(best, kept3d, kept2d)) return false;
  }
  std::cout << outliers << " outliers removed (total " << total << ")\n";
  return Store(best, kept3d, kept2d, outliers, false, projector);
}

bool ProjectorCalibrator::Store(cam::CameraModelTsai model, std::vector<math::Vec3d>& points3d,
                                std::vector<math::Vec2d>& points2d, std::size_t outliers,
                                bool refine, cam::CameraModelTsai& projector) {
  if (refine && !cam::CalibrateTsai().Optimize(model, points3d, points2d)) return false;
  std::vector<std::pair<math::Vec2d, math::Vec2d>> residuals;
  double rms = 0.0;
  if (!cam::GetCalibrationError(model, points3d, points2d, residuals, rms)) return false;
  m_rms = rms;
  m_numPoints = points3d.size();
  m_numOutliers = outliers;
  model.ScaleToResolution(1, 1);
  projector = model;
  return true;
}

bool ProjectorCalibrator::StereoRecalibration(cam::CameraModelTsai& projector,
                                              const ProjectorView& first,
                                              const ProjectorView& second,
                                              const ProjectorCalibrationOptions& options) {
  if (!Usable(first) || !Usable(second) || !projector.IsValid() || options.projectorWidth == 0 ||
      options.projectorHeight == 0)
    return false;
  std::unique_ptr<surf::DepthMap> depth;
  try {
    if (!StereoPhaseToDepthConverter().Convert(
            depth, *first.camera, *first.x, *first.y, *first.quality, *second.camera, *second.x,
            *second.y, *second.quality, nullptr, nullptr, StereoPhaseToDepthConverter::kBoth) ||
        !depth)
      return false;
  } catch (const std::exception& e) {
    std::cerr << "Error: ProjectorCalibrator::StereoRecalibration - " << e.what() << '\n';
    return false;
  }
  const auto& z = depth->GetDepthImage();
  std::vector<math::Vec3d> points3d;
  std::vector<math::Vec2d> points2d;
  const auto step = std::uint32_t(std::max(1, options.pixelStep));
  for (std::uint32_t y = 0; y < z.height; y += step) {
    for (std::uint32_t x = 0; x < z.width; x += step) {
      const float d = z(x, y), q = (*first.quality)(x, y), u = (*first.x)(x, y),
                  w = (*first.y)(x, y);
      if (!(d > 0.0f) || !(q >= options.minQuality) || !(u >= 0.0f && u <= 1.0f) ||
          !(w >= 0.0f && w <= 1.0f))
        continue;
      math::Vec3d p;
      if (!cam::DepthPixelToWorldPoint(p, {double(x), double(y)}, d, *first.camera)) continue;
      points3d.push_back(p);
      points2d.push_back({double(u) * options.projectorWidth, double(w) * options.projectorHeight});
    }
  }
  Thin(points3d, points2d);
  cam::CameraModelTsai model = projector;
  model.ScaleToResolution(options.projectorWidth, options.projectorHeight);
  if (model.GetResX() != options.projectorWidth) return false;
  // Mismatched stereo pairs (at the marks' edges, the panels' borders) lie far off.
  const std::size_t outliers =
      RemoveOutliers(model, points3d, points2d, options.outlierSigmaFactor);
  if (points3d.size() < 100) return false;
  return Store(model, points3d, points2d, outliers, true, projector);
}

}  // namespace scan
