#include "scan/SinglePhaseToDepthConverter.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "cam/CameraModelFunctions.h"
#include "scan/ClosestPoints.h"

namespace scan {
namespace {

std::uint8_t QualityByte(float quality) {
  const float q = std::trunc(quality * 255.0f);
  return q >= 255.0f ? 255 : (q > 0.0f ? static_cast<std::uint8_t>(q) : 0);
}

// The image directions (pixels) in which the projector column (ex) and row
// (ey) grow, near the centre of the camera image. False when the geometry
// cannot be formed.
bool ProjectorDirectionsInCamera(math::Vec2d& ex, math::Vec2d& ey, const cam::CameraModel& camera,
                                 const cam::CameraModel& projector, std::uint32_t width, std::uint32_t height) {
  math::Line3d cameraLine, projectorLine;
  if (!cam::PixelToWorldLine(cameraLine, {width / 2.0, height / 2.0}, camera) ||
      !cam::PixelToWorldLine(projectorLine, {0.5, 0.5}, projector)) {
    return false;
  }
  math::Vec3d a, b;
  bool ok = false;
  ClosestPointsOfLines(cameraLine, projectorLine, a, b, &ok);
  if (!ok) return false;
  const double s = ((a + b) * 0.5 - projectorLine.point).Length();
  math::Vec2d c[3];
  const math::Vec2d samples[3] = {{0.5, 0.5}, {0.501, 0.5}, {0.5, 0.501}};
  for (int k = 0; k < 3; ++k) {
    math::Vec3d direction;
    if (!cam::PixelToWorldDirection(direction, samples[k], projector)) return false;
    const math::Vec3d point = projectorLine.point + direction.GetNormalized() * s;
    if (!cam::WorldPointToPixel(c[k], point, camera)) return false;
  }
  ex = c[1] - c[0];
  ey = c[2] - c[0];
  return true;
}

// Lowers to 1 the quality of interior pixels whose phase neighbours are
// invalid or whose phase gradient points against e.
void CheckGradients(img::UniImage<std::uint8_t>& quality, const img::UniImage<float>& phase, const math::Vec2d& e) {
  const std::uint32_t w = quality.width, h = quality.height;
  for (std::uint32_t y = 1; y + 1 < h; ++y) {
    const float* row = phase.data + std::size_t(y) * w;
    const float* rowAbove = row - w;
    const float* rowBelow = row + w;
    std::uint8_t* q = quality.Row(y);
    for (std::uint32_t x = 1; x + 1 < w; ++x) {
      const float right = row[x + 1], left = row[x - 1], lower = rowBelow[x], upper = rowAbove[x];
      const bool bad = right < 0.0f || left < 0.0f || lower < 0.0f || upper < 0.0f ||
                       double(right - left) * e[0] + double(lower - upper) * e[1] < 0.0;
      if (bad && q[x] > 1) q[x] = 1;
    }
  }
}

struct Pose {
  math::Frame<double> wTc;
  math::Frame<double> cTw;
  math::Vec3d centre;
};

Pose PoseOf(const cam::CameraModel& model) {
  return {model.GetFrame_wTc(), model.GetFrame_cTw(), model.GetFrame_wTc().GetTrans()};
}

// Moves p along the camera line onto the projector's light plane of the
// measured coordinate (axis 0: column, 1: row), iterating while the
// projected coordinate's change shrinks and exceeds 0.0001.
void RefineOntoLightPlane(math::Vec3d& p, const math::Line3d& cameraLine, const cam::CameraModel& projector,
                          const Pose& projectorPose, int axis, double measured) {
  constexpr int kMaxIterations = 100;
  double previous = 10000.0;
  for (int iteration = 0; iteration < kMaxIterations; ++iteration) {
    math::Vec2d uv;
    if (!projector.CameraPointToPixel(uv, projectorPose.cTw.MultP(p))) return;
    const double change = std::abs(uv[axis] - measured);
    uv[axis] = measured;
    math::Vec2d uv2 = uv;
    uv2[1 - axis] += 0.0001;
    math::Vec3d r1, r2;
    if (!projector.PixelToCameraRay(r1, uv) || !projector.PixelToCameraRay(r2, uv2)) return;
    const math::Vec3d normal = projectorPose.wTc.MultV(r1 ^ r2);
    const double denominator = Dot(cameraLine.direction, normal);
    if (denominator == 0.0) return;
    const double t = Dot(projectorPose.centre - cameraLine.point, normal) / denominator;
    p = cameraLine.PointAt(t);
    if (!(change < previous && change > 0.0001)) return;
    previous = change;
  }
}

}  // namespace

bool SinglePhaseToDepthConverter::Convert(std::unique_ptr<surf::DepthMap>& result,
                                          const img::UniImage<float>& phaseX, const img::UniImage<float>& phaseY,
                                          const img::UniImage<float>& quality, const cam::CameraModel& cameraModel,
                                          const cam::CameraModel& projectorModel,
                                          const std::array<bool, 3>& options, float* median) const {
  result.reset();
  if (median) *median = 0.0f;
  if (phaseX.size <= 0 || phaseY.size != phaseX.size || quality.size != phaseX.size || !projectorModel.IsValid()) {
    return false;
  }
  const std::uint32_t w = phaseX.width, h = phaseX.height;
  const std::size_t n = std::size_t(phaseX.size);
  auto depth = std::make_unique<img::UniImage<float>>(w, h);
  auto qualityBytes = std::make_unique<img::UniImage<std::uint8_t>>(w, h);
  for (std::size_t i = 0; i < n; ++i) qualityBytes->data[i] = QualityByte(quality.data[i]);

  const bool xMeasured = options[kPhaseXMeasured], yMeasured = options[kPhaseYMeasured];
  math::Vec2d ex, ey;
  if (options[kCheckGradients] && (xMeasured || yMeasured) &&
      ProjectorDirectionsInCamera(ex, ey, cameraModel, projectorModel, w, h)) {
    if (yMeasured) CheckGradients(*qualityBytes, phaseY, ey);
    if (xMeasured) CheckGradients(*qualityBytes, phaseX, ex);
  }

  const Pose cameraPose = PoseOf(cameraModel), projectorPose = PoseOf(projectorModel);
  const bool both = xMeasured && yMeasured;
  const int axis = xMeasured ? 0 : 1;
  std::vector<float> ratios;
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      const std::size_t i = std::size_t(y) * w + x;
      depth->data[i] = 0.0f;
      const float px = phaseX.data[i], py = phaseY.data[i];
      if (!(px >= 0.0f && py >= 0.0f) || qualityBytes->data[i] == 0) continue;
      math::Vec3d cameraRay, projectorRay;
      if (!cameraModel.PixelToCameraRay(cameraRay, {double(x), double(y)}) ||
          !projectorModel.PixelToCameraRay(projectorRay, {double(px), double(py)})) {
        continue;
      }
      const math::Line3d cameraLine{cameraPose.centre, cameraPose.wTc.MultV(cameraRay)};
      const math::Line3d projectorLine{projectorPose.centre, projectorPose.wTc.MultV(projectorRay)};
      math::Vec3d p = cameraPose.centre, onProjector;
      bool ok = false;
      const double gap = ClosestPointsOfLines(cameraLine, projectorLine, p, onProjector, &ok);
      if (!ok) continue;
      if (!both) RefineOntoLightPlane(p, cameraLine, projectorModel, projectorPose, axis, axis == 0 ? px : py);
      const float d = float(cameraPose.cTw.MultP(p)[2]);
      depth->data[i] = d;
      if (both && median && d != 0.0f) ratios.push_back(float(gap / d));
    }
  }
  if (median && !ratios.empty()) {
    std::nth_element(ratios.begin(), ratios.begin() + std::ptrdiff_t(ratios.size() / 2), ratios.end());
    *median = ratios[ratios.size() / 2];
  }
  result = std::make_unique<surf::DepthMap>(std::move(depth), std::move(qualityBytes), cameraModel.CloneModel());
  return true;
}

}  // namespace scan
