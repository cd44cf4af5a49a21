#pragma once

#include <string>
#include <vector>

#include "CamCalib/CalibGrid.h"
#include "cam/FlatPlateCalibrationTarget.h"

namespace scan {

// Where a default calibration panel stands relative to its nominal place:
// a shift along the panel's own axes (mm) and turns about its own x and y
// axes (radians), applied at the panel's node (0, 0).
struct CalibPanelOffsets {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
  double rotX = 0.0;
  double rotY = 0.0;
};

// The station's calibration panels. The default corner (world: z up, the
// turntable centre at the origin, the scanner looking along +y): two upright
// panels meeting at 120° in the vertical line x = 0, y = 40 mm, its edge
// towards the scanner (an outer corner), each running back from it at 30°
// to the x axis, so that cameras 20° either side of the projector see the
// nearer panel at about 50° and the other nearly square on. Each panel has
// 11 × 15 nodes centred at height −20 mm, with one spacing between the
// corner line and its nearest column. Node x runs left to right and node y
// downwards as the printed side is seen (plate z into the panel). The
// marker cell lies at the panel's outer edge, half-way up: nodes (0, 6) of
// the left panel and (9, 6) of the right one. Correspondences listed
// row by row then start at the top of each panel, which a camera above the
// panels' middle sees as the mirror test of the corner calibration expects.
class HardwareSetup {
 public:
  static constexpr int kPanelNodesX = 11;
  static constexpr int kPanelNodesY = 15;

  // The two default panels, left first: node spacing scale·0.25 mm, marker
  // cell expected at (0.0, 0.5) and (1.0, 0.5) of the image (fractions of
  // width and height), poses from the nominal corner and the offsets.
  void SetDefaultZentoCalibGrids(double scale, const CalibPanelOffsets& left = {},
                                 const CalibPanelOffsets& right = {});
  const std::vector<CamCalib::CalibGrid>& GetCalibGrids() const { return m_calibGrids; }
  void SetCalibGrids(std::vector<CamCalib::CalibGrid> grids) { m_calibGrids = std::move(grids); }

 private:
  std::vector<CamCalib::CalibGrid> m_calibGrids;
};

// The corner calibration's mirror test on the image points of the two panels
// (each in node-table order): with more than three points on each panel,
// l0 the first left point and r0, r2 the first and third right points, the
// image is mirrored when the z component of (r2 − r0) × (r0 − l0) is
// negative. With fewer points nothing is judged (false).
bool IsCornerImageMirrored(const std::vector<math::Vec2d>& left,
                           const std::vector<math::Vec2d>& right);

// A grid target of black marks on white: countX × countY marks of
// `markDiameter` at node × spacing (plate points, mm), the marker cell's
// three inverted marks at (originX, originY), (originX + 1, originY),
// (originX, originY + 1) as black rings of `ringDiameter` whose hole of
// `markDiameter` shows the white.
cam::FlatPlateCalibrationTarget MakeGridTarget(const std::string& id, int countX, int countY,
                                               double spacing, double markDiameter,
                                               double ringDiameter, int originX, int originY);

// The printed face of a panel: MakeGridTarget with marks of 0.5·spacing and
// rings of 0.8·spacing.
cam::FlatPlateCalibrationTarget MakePanelTarget(const CamCalib::CalibGrid& grid,
                                                const std::string& id);

}  // namespace scan
