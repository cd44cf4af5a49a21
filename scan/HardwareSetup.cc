#include "scan/HardwareSetup.h"

#include <cmath>

namespace scan {
namespace {

constexpr double kCornerY = 40.0;   // mm behind the turntable centre
constexpr double kCentreZ = -20.0;  // mm, height of the panels' middle row
// Each panel's angle to the x axis (the panels meet at 180° − 2·30°).
constexpr double kPanelAngle = 30.0 * 3.14159265358979323846 / 180.0;
constexpr double kMarkDiameter = 0.5;  // × spacing
constexpr double kRingDiameter = 0.8;  // × spacing
constexpr double kTolerance = 0.1;     // mm

// A panel pose from its node-x direction (horizontal, world) and node (0, 0).
math::Frame<double> PanelPose(const math::Vec3d& xAxis, const math::Vec3d& origin) {
  const math::Vec3d yAxis{0.0, 0.0, -1.0};
  const math::Vec3d zAxis = xAxis ^ yAxis;
  math::Frame<double> pose;
  pose.SetN({xAxis[0], xAxis[1], xAxis[2], 0.0});
  pose.SetO({yAxis[0], yAxis[1], yAxis[2], 0.0});
  pose.SetA({zAxis[0], zAxis[1], zAxis[2], 0.0});
  pose.SetTrans(origin);
  return pose;
}

math::Frame<double> Offset(const CalibPanelOffsets& o) {
  return math::FTrans(o.x, o.y, o.z) * math::FRotX(o.rotX) * math::FRotY(o.rotY);
}

}  // namespace

void HardwareSetup::SetDefaultZentoCalibGrids(double scale, const CalibPanelOffsets& left,
                                              const CalibPanelOffsets& right) {
  const double s = scale * 0.25;
  const double c = std::cos(kPanelAngle), sn = std::sin(kPanelAngle);
  const math::Vec3d corner{0.0, kCornerY, kCentreZ + 0.5 * (kPanelNodesY - 1) * s};
  // Node x of the left panel runs from its back edge to the corner line,
  // that of the right panel from the corner line back.
  const math::Vec3d leftX{c, -sn, 0.0}, rightX{c, sn, 0.0};
  CamCalib::CalibGrid l, r;
  for (CamCalib::CalibGrid* g : {&l, &r}) {
    g->countX = kPanelNodesX;
    g->countY = kPanelNodesY;
    g->spacingX = g->spacingY = s;
    g->originY = kPanelNodesY / 2 - 1;
    g->markerY = 0.5;
  }
  l.originX = 0;
  l.markerX = 0.0;
  l.world_T_plate = PanelPose(leftX, corner - leftX * ((kPanelNodesX - 1) * s + s)) * Offset(left);
  r.originX = kPanelNodesX - 2;
  r.markerX = 1.0;
  r.world_T_plate = PanelPose(rightX, corner + rightX * s) * Offset(right);
  m_calibGrids = {l, r};
}

bool IsCornerImageMirrored(const std::vector<math::Vec2d>& left,
                           const std::vector<math::Vec2d>& right) {
  if (left.size() <= 3 || right.size() <= 3) return false;
  const math::Vec2d a = right[2] - right[0], b = right[0] - left[0];
  return a[0] * b[1] - a[1] * b[0] < 0.0;
}

cam::FlatPlateCalibrationTarget MakeGridTarget(const std::string& id, int countX, int countY,
                                               double spacing, double markDiameter,
                                               double ringDiameter, int originX, int originY) {
  cam::FlatPlateCalibrationTarget target;
  target.id = id;
  target.countX = countX;
  target.countY = countY;
  target.spacing = spacing;
  target.background = cam::TargetColor::kWhite;
  for (int y = 0; y < countY; ++y) {
    for (int x = 0; x < countX; ++x) {
      const bool ring = (x == originX && y == originY) || (x == originX + 1 && y == originY) ||
                        (x == originX && y == originY + 1);
      cam::FlatPlateMarker m;
      m.center = {x * spacing, y * spacing, 0.0};
      m.color = cam::TargetColor::kBlack;
      m.tolerance = kTolerance;
      m.innerDiameter = ring ? markDiameter : 0.0;
      m.outerDiameter = ring ? ringDiameter : markDiameter;
      target.markers[{x, y}] = m;
    }
  }
  return target;
}

cam::FlatPlateCalibrationTarget MakePanelTarget(const CamCalib::CalibGrid& grid,
                                                const std::string& id) {
  return MakeGridTarget(id, grid.countX, grid.countY, grid.spacingX, kMarkDiameter * grid.spacingX,
                        kRingDiameter * grid.spacingX, grid.originX, grid.originY);
}

}  // namespace scan
