#pragma once

#include <memory>
#include <string>
#include <vector>

#include "CamCalib/CalibGrid.h"
#include "cam/CameraModelTsai.h"
#include "cam/FlatPlateCalibrationTarget.h"
#include "foundation/img/UniImage.h"
#include "foundation/math/Plane.h"

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

// Options of the corner calibration of a camera (the settings of the same
// names feed them).
struct CameraCalibrationOptions {
  // Only the camera's pose ("tx ty tz rx ry rz"); the intrinsics are kept.
  bool calibrateExtrinsicsOnly = false;
  // Decide between an inner and an outer corner from the data (each panel
  // calibrated alone first).
  bool autoDetectCalibCornerSetup = true;
  // The panels' poses are refined too: the left panel's " ty", the right
  // panel's " tx ty" (offsets), both panels' " rz" (rotation in plane), the
  // right panel's " rx" (angle between the panels).
  bool compensatePatternOffsets = false;
  bool compensatePatternRotInPlane = false;
  bool compensateAngleBetweenPatterns = false;
  // Intrinsics "cx cy f kappa1 sx" instead of "cx cy f kappa1" (sx = 1).
  bool compensateNonSquarePixels = false;
  // Acceptance threshold of the reprojection RMS per point, pixels.
  double maxRMS = 0.5;
};

// What one camera saw of the two panels: image points (pixels, pixel
// centres at integer coordinates) and plate points (mm, the panel's own
// coordinates), node-table order.
struct CornerCorrespondences {
  std::vector<math::Vec2d> leftImage, rightImage;
  std::vector<math::Vec3d> leftPlate, rightPlate;
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

  // Calibrates a camera from one image of both panels: detection, mirror
  // test, (with autoDetectCalibCornerSetup) the inner/outer corner decision
  // from a calibration of each panel alone, Tsai's calibration on both
  // panels, then the joint optimisation of the camera and the panel poses.
  // On success (RMS ≤ maxRMS) the model's intrinsics and pose are replaced,
  // the panel poses updated and the correspondences appended to
  // GetCornerCorrespondences(); otherwise the model and the panels stay as
  // they were and the reason is printed. The image is the camera's grey
  // image at the model's resolution.
  bool CalibrateCamera(cam::CameraModelTsai& model, const img::GreyImage& image,
                       const CameraCalibrationOptions& options);
  // The same for a camera whose panels are known to stand where their
  // descriptions say: the panel poses are not refined.
  bool CalibrateFixedCamera(cam::CameraModelTsai& model, const img::GreyImage& image,
                            const CameraCalibrationOptions& options);
  // One joint optimisation of all cameras (model i belongs to the i-th
  // stored correspondences) and both panel poses; false when the numbers
  // differ or the optimisation fails (models then unchanged).
  bool OptimizeCameras(const std::vector<std::shared_ptr<cam::CameraModelTsai>>& models,
                       const CameraCalibrationOptions& options);

  const std::vector<CornerCorrespondences>& GetCornerCorrespondences() const { return m_corners; }
  void SetCornerCorrespondences(std::vector<CornerCorrespondences> c) { m_corners = std::move(c); }
  void ClearCornerCorrespondences() { m_corners.clear(); }
  // RMS per point (pixels) of the last camera calibration, accepted or not.
  double GetLastRMS() const { return m_lastRMS; }

  // Panel 1 (2): point = the panel's origin, normal = −(its z axis), i.e.
  // towards the printed side's viewer. Without that panel: the empty plane.
  math::Plane<double> GetLeftBackgroundPlane() const;
  math::Plane<double> GetRightBackgroundPlane() const;

  // Radians: the angle between the camera's and the projector's central
  // rays, and the camera direction's angle to the projector's central
  // horizontal (vertical) plane.
  static void GetTriangulationAngles(const cam::CameraModel& camera,
                                     const cam::CameraModel& projector, double& total,
                                     double& horizontal, double& vertical);

 private:
  bool Calibrate(cam::CameraModelTsai& model, const img::GreyImage& image,
                 const CameraCalibrationOptions& options, bool fixedPanels);

  std::vector<CamCalib::CalibGrid> m_calibGrids;
  std::vector<CornerCorrespondences> m_corners;
  double m_lastRMS = 0.0;
};

// The angle (radians) between two panels seen from their printed sides:
// π + θ when the second panel's origin lies on the far side of the first
// panel (along its z axis: an outer corner), π − θ otherwise (an inner
// corner); θ the angle between their z axes.
double AngleBetweenPanels(const math::Frame<double>& first, const math::Frame<double>& second);

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
