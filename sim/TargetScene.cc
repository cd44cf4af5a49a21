#include "sim/TargetScene.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "cam/CameraModelFunctions.h"
#include "scan/HardwareSetup.h"
#include "sim/VirtualRig.h"

namespace sim {
namespace {

Albedo InkOf(cam::TargetColor color, const PrintOptions& o) {
  switch (color) {
    case cam::TargetColor::kBlack:
      return {o.black, o.black, o.black};
    case cam::TargetColor::kGreen:
      return o.green;
    case cam::TargetColor::kBlue:
      return o.blue;
    case cam::TargetColor::kWhite:
      return {o.paper, o.paper, o.paper};
  }
  return {o.black, o.black, o.black};
}

}  // namespace

PrintedTarget::PrintedTarget(const cam::FlatPlateCalibrationTarget& target,
                             const PrintOptions& options)
    : m_background(InkOf(target.background, options)) {
  double largest = 0.0;
  m_min = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
  m_max = -m_min;
  for (const auto& [node, marker] : target.markers) {
    Mark m;
    m.centre = {marker.center[0], marker.center[1]};
    m.outer = 0.5 * marker.outerDiameter;
    m.inner = 0.5 * marker.innerDiameter;
    m.ink = InkOf(marker.color, options);
    largest = std::max(largest, m.outer);
    for (int k = 0; k < 2; ++k) {
      m_min[k] = std::min(m_min[k], m.centre[k] - m.outer);
      m_max[k] = std::max(m_max[k], m.centre[k] + m.outer);
    }
    m_marks.push_back(m);
  }
  if (m_marks.empty()) {
    m_min = m_max = {0.0, 0.0};
    return;
  }
  m_cell = std::max(2.0 * largest, 1e-3);
  m_cellsX = int((m_max[0] - m_min[0]) / m_cell) + 1;
  m_cellsY = int((m_max[1] - m_min[1]) / m_cell) + 1;
  m_buckets.assign(std::size_t(m_cellsX) * m_cellsY, {});
  // A mark goes into every cell its disc touches.
  for (std::uint32_t i = 0; i < m_marks.size(); ++i) {
    const Mark& m = m_marks[i];
    const int x0 = int((m.centre[0] - m.outer - m_min[0]) / m_cell),
              x1 = int((m.centre[0] + m.outer - m_min[0]) / m_cell);
    const int y0 = int((m.centre[1] - m.outer - m_min[1]) / m_cell),
              y1 = int((m.centre[1] + m.outer - m_min[1]) / m_cell);
    for (int y = std::max(0, y0); y <= std::min(m_cellsY - 1, y1); ++y) {
      for (int x = std::max(0, x0); x <= std::min(m_cellsX - 1, x1); ++x)
        m_buckets[std::size_t(y) * m_cellsX + x].push_back(i);
    }
  }
}

Albedo PrintedTarget::Reflectance(const math::Vec2d& q, const math::Vec2d& du,
                                  const math::Vec2d& dv) const {
  const double reach = std::abs(du[0]) + std::abs(dv[0]) + std::abs(du[1]) + std::abs(dv[1]);
  if (m_marks.empty() || q[0] < m_min[0] - reach || q[1] < m_min[1] - reach ||
      q[0] > m_max[0] + reach || q[1] > m_max[1] + reach)
    return m_background;
  const int cx = std::clamp(int((q[0] - m_min[0]) / m_cell), 0, m_cellsX - 1);
  const int cy = std::clamp(int((q[1] - m_min[1]) / m_cell), 0, m_cellsY - 1);
  Albedo albedo = m_background;
  for (std::uint32_t i : m_buckets[std::size_t(cy) * m_cellsX + cx]) {
    const Mark& m = m_marks[i];
    const double ink = DiscCoverage(m.centre, m.outer, q, du, dv) -
                       (m.inner > 0.0 ? DiscCoverage(m.centre, m.inner, q, du, dv) : 0.0);
    if (ink > 0.0) albedo += (m.ink - m_background) * float(ink);
  }
  return albedo;
}

std::vector<CamCalib::CalibGrid> DefaultCornerGrids(double scale) {
  scan::HardwareSetup setup;
  setup.SetDefaultZentoCalibGrids(scale);
  return setup.GetCalibGrids();
}

std::vector<PlacedTarget> MakeCornerTargets(double scale) {
  const std::vector<CamCalib::CalibGrid> grids = DefaultCornerGrids(scale);
  const char* names[2] = {"corner-left", "corner-right"};
  std::vector<PlacedTarget> targets;
  for (std::size_t i = 0; i < grids.size(); ++i)
    targets.push_back(
        {names[i], scan::MakePanelTarget(grids[i], names[i]), grids[i].world_T_plate});
  return targets;
}

Scene MakeTargetScene(const std::vector<PlacedTarget>& targets, const PrintOptions& options) {
  Scene scene;
  for (const PlacedTarget& placed : targets) {
    auto print = std::make_shared<PrintedTarget>(placed.target, options);
    const double margin = placed.target.spacing;
    const math::Vec2d lo = print->GetMin(), hi = print->GetMax();
    const PanelSpec spec{hi[0] - lo[0] + 2.0 * margin, hi[1] - lo[1] + 2.0 * margin};
    // Panel coordinates: centred, normal +z towards the viewer; plate
    // coordinates: y down, z into the plate.
    const math::Frame4d plate_T_panel =
        math::FTrans(0.5 * (lo[0] + hi[0]), 0.5 * (lo[1] + hi[1]), 0.0) *
        math::FRotX(std::numbers::pi);
    scene.AddPrintedPanel(spec, placed.world_T_plate * plate_T_panel, print, plate_T_panel,
                          placed.name);
  }
  return scene;
}

std::vector<MarkTruth> ComputeMarkTruth(const std::vector<PlacedTarget>& targets,
                                        const cam::CameraModel& camera, const RayCaster& caster) {
  std::vector<MarkTruth> truth;
  const math::Vec3d eye = camera.GetFrame_wTc().GetTrans();
  const double w = camera.GetResX(), h = camera.GetResY();
  for (std::size_t t = 0; t < targets.size(); ++t) {
    const PlacedTarget& placed = targets[t];
    const math::Vec3d front = -placed.world_T_plate.MultV(math::Vec3d{0.0, 0.0, 1.0});
    for (const auto& [node, marker] : placed.target.markers) {
      MarkTruth mark;
      mark.target = int(t);
      mark.node = node;
      const math::Vec3d centre = placed.world_T_plate.MultP(marker.center);
      if (cam::WorldPointToDepth(centre, camera) <= 0.0 ||
          !cam::WorldPointToPixel(mark.image, centre, camera))
        continue;
      bool visible = math::Dot(eye - centre, front) > 0.0 && !caster.Occluded(Segment{eye, centre});
      const double r = 0.5 * marker.outerDiameter;
      for (int k = 0; k < 32 && visible; ++k) {
        const double a = 2.0 * std::numbers::pi * k / 32.0;
        const math::Vec3d rim = placed.world_T_plate.MultP(
            marker.center + math::Vec3d{r * std::cos(a), r * std::sin(a), 0.0});
        math::Vec2d p;
        visible = cam::WorldPointToDepth(rim, camera) > 0.0 &&
                  cam::WorldPointToPixel(p, rim, camera) && p[0] >= 1.0 && p[1] >= 1.0 &&
                  p[0] <= w - 2.0 && p[1] <= h - 2.0 && !caster.Occluded(Segment{eye, rim});
      }
      mark.visible = visible;
      truth.push_back(mark);
    }
  }
  return truth;
}

img::GreyImage RenderLitImage(VirtualRig& rig, std::size_t camera, bool noise) {
  VirtualProjector& projector = *rig.GetProjector();
  auto white =
      std::make_shared<LightImage>(projector.GetOptions().width, projector.GetOptions().height);
  *white = math::Vec3f{1.0f, 1.0f, 1.0f};
  projector.Show(white);
  VirtualCamera& cam = *rig.GetCamera(camera);
  const double exposure = cam.GetProperty("exposure").value * 1e-3;
  const double t =
      projector.GetCurrent().since + cam.GetOptions().latencyMs * 1e-3 + exposure + 1e-6;
  const std::vector<std::uint8_t> bytes = cam.RenderFrame(t, noise);
  const auto& model = cam.GetModel();
  img::GreyImage image(model.GetResX(), model.GetResY());
  if (cam.GetOptions().color) {
    for (std::int32_t i = 0; i < image.size; ++i)
      image.data[i] = std::uint8_t((int(bytes[3 * i]) + bytes[3 * i + 1] + bytes[3 * i + 2]) / 3);
  } else {
    std::copy(bytes.begin(), bytes.end(), image.data);
  }
  return image;
}

math::Frame4d PlateFacingCamera(const cam::CameraModel& camera,
                                const cam::FlatPlateCalibrationTarget& target, double distance,
                                double tilt, double axisAngle, double roll) {
  // The plate's centre in plate coordinates.
  math::Vec2d lo{1e300, 1e300}, hi{-1e300, -1e300};
  for (const auto& [node, marker] : target.markers) {
    for (int k = 0; k < 2; ++k)
      lo[k] = std::min(lo[k], marker.center[k]), hi[k] = std::max(hi[k], marker.center[k]);
  }
  const math::Vec3d middle{0.5 * (lo[0] + hi[0]), 0.5 * (lo[1] + hi[1]), 0.0};
  // In camera coordinates the squarely facing plate has the camera's axes
  // (x right, y down, z away); it turns about an axis in the image plane.
  const math::Vec3d axis{std::cos(axisAngle), std::sin(axisAngle), 0.0};
  const math::Frame4d camera_T_plate = math::FTrans(0.0, 0.0, distance) *
                                       math::FRotAxis(axis, tilt) * math::FRotZ(roll) *
                                       math::FTrans(-middle[0], -middle[1], -middle[2]);
  return camera.GetFrame_wTc() * camera_T_plate;
}

math::Frame4d PlateCalibrationPose(const cam::CameraModel& camera,
                                   const cam::FlatPlateCalibrationTarget& target, double distance,
                                   int view) {
  constexpr double kRad = std::numbers::pi / 180.0;
  const double tilt = 20.0 + 10.0 * (view % 4), axis = 45.0 * view,
               roll = (view % 2 ? -1.0 : 1.0) * (5.0 + 5.0 * (view % 3));
  return PlateFacingCamera(camera, target, distance, tilt * kRad, axis * kRad, roll * kRad);
}

}  // namespace sim
