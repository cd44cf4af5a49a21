#include <algorithm>
#include <cmath>
#include <iostream>
#include <numbers>

#include "CamCalib/Interface.h"
#include "cam/CalibrateTsai.h"
#include "cam/CameraModelOptimizer.h"
#include "scan/HardwareSetup.h"

namespace scan {
namespace {

constexpr double kParallelLimit = 0.9999999999;  // |cos| of the angle between the panels' normals
constexpr double kCornerAngleTolerance = 10.0 * std::numbers::pi / 180.0;
constexpr const char* kPose = "tx ty tz rx ry rz";

std::vector<math::Vec3d> ToWorld(const math::Frame<double>& world_T_plate,
                                 const std::vector<math::Vec3d>& plate) {
  std::vector<math::Vec3d> world;
  world.reserve(plate.size());
  for (const auto& q : plate) world.push_back(world_T_plate * q);
  return world;
}

math::Vec3d AxisZ(const math::Frame<double>& f) {
  const auto a = f.a();
  return math::Vec3d{a[0], a[1], a[2]}.GetNormalized();
}

std::string IntrinsicsList(const CameraCalibrationOptions& options) {
  return options.compensateNonSquarePixels ? "cx cy f kappa1 sx" : "cx cy f kappa1";
}

std::string CameraList(const CameraCalibrationOptions& options, bool extrinsicsOnly) {
  return extrinsicsOnly ? std::string(kPose) : IntrinsicsList(options) + " " + kPose;
}

// The pose parameters of the left and right panel the options set free.
std::pair<std::string, std::string> PanelLists(const CameraCalibrationOptions& options) {
  std::string left, right;
  if (options.compensatePatternOffsets) left += " ty", right += " tx ty";
  if (options.compensatePatternRotInPlane) left += " rz", right += " rz";
  if (options.compensateAngleBetweenPatterns) right += " rx";
  const auto trim = [](std::string s) { return s.empty() ? s : s.substr(1); };
  return {trim(left), trim(right)};
}

// A camera's RMS per point over both panels.
bool CornerRMS(const cam::CameraModel& model, const CornerCorrespondences& c,
               const std::vector<CamCalib::CalibGrid>& grids, double& rms) {
  std::vector<math::Vec3d> world = ToWorld(grids[0].world_T_plate, c.leftPlate);
  const std::vector<math::Vec3d> right = ToWorld(grids[1].world_T_plate, c.rightPlate);
  world.insert(world.end(), right.begin(), right.end());
  std::vector<math::Vec2d> image = c.leftImage;
  image.insert(image.end(), c.rightImage.begin(), c.rightImage.end());
  std::vector<std::pair<math::Vec2d, math::Vec2d>> residuals;
  return cam::GetCalibrationError(model, world, image, residuals, rms);
}

// Detects both panels in the image; false (with the detector's messages on
// stderr) when either cannot be mapped.
bool DetectCorner(const img::GreyImage& image, const std::vector<CamCalib::CalibGrid>& grids,
                  CornerCorrespondences& c) {
  CamCalib::Interface detector;
  if (!detector.Init(
          CamCalib::Parameters::ForCameraCalibration(int(image.width), int(image.height))) ||
      !detector.ExtractEllipses(image))
    return false;
  if (!detector.MapEllipses(grids[0])) return false;
  c.leftImage = detector.GetImagePoints();
  c.leftPlate = detector.GetPlatePoints();
  if (!detector.MapEllipses(grids[1])) return false;
  c.rightImage = detector.GetImagePoints();
  c.rightPlate = detector.GetPlatePoints();
  return true;
}

// Calibrates one panel alone (coplanar); false with the message of the
// failure or of an implausible result.
bool CalibratePanel(cam::CameraModelTsai& model, const std::vector<math::Vec3d>& world,
                    const std::vector<math::Vec2d>& image, std::uint32_t resX, std::uint32_t resY,
                    const char* side) {
  cam::CalibrateTsai tsai;
  if (!tsai.Calibrate(model, world, image, resX, resY, {}, true)) {
    std::cerr << "HardwareSetup::CalibrateCamera(): Calibration of " << side << " plane failed.\n";
    return false;
  }
  const double ratio = model.GetIntrinsics().f / double(resX);
  if (!(ratio >= 0.01 && ratio <= 1000.0)) {
    std::cerr << "HardwareSetup::CalibrateFixedCamera(): Calibration of " << side
              << " plane failed - implausible result.\n";
    return false;
  }
  return true;
}

}  // namespace

double AngleBetweenPanels(const math::Frame<double>& first, const math::Frame<double>& second) {
  const math::Vec3d n1 = AxisZ(first), n2 = AxisZ(second);
  const double theta = std::acos(std::clamp(math::Dot(n1, n2), -1.0, 1.0));
  const bool outer = math::Dot(second.GetTrans() - first.GetTrans(), n1) >= 0.0;
  return outer ? std::numbers::pi + theta : std::numbers::pi - theta;
}

bool HardwareSetup::CalibrateCamera(cam::CameraModelTsai& model, const img::GreyImage& image,
                                    const CameraCalibrationOptions& options) {
  return Calibrate(model, image, options, false);
}

bool HardwareSetup::CalibrateFixedCamera(cam::CameraModelTsai& model, const img::GreyImage& image,
                                         const CameraCalibrationOptions& options) {
  return Calibrate(model, image, options, true);
}

bool HardwareSetup::Calibrate(cam::CameraModelTsai& model, const img::GreyImage& image,
                              const CameraCalibrationOptions& options, bool fixedPanels) {
  constexpr const char* kFailed = "HardwareSetup::CalibrateCamera(): Calibration failed.\n";
  m_lastRMS = 0.0;
  if (m_calibGrids.size() != 2 || image.width == 0 || image.height == 0) {
    std::cerr << kFailed;
    return false;
  }
  bool extrinsicsOnly = options.calibrateExtrinsicsOnly;
  if (extrinsicsOnly && model.GetIntrinsics().f == 0.0) {
    std::cout << "CalibrateExtrinsicsOnly is True, but full calibration is necessary because "
                 "previous intrinsics are unavailable.\n";
    extrinsicsOnly = false;
  } else if (extrinsicsOnly) {
    std::cout << "WARNING: CalibrateExtrinsicsOnly is True, so calibrating extrinsics only!\n";
  }

  CornerCorrespondences c;
  if (!DetectCorner(image, m_calibGrids, c)) {
    std::cerr << kFailed;
    return false;
  }
  if (IsCornerImageMirrored(c.leftImage, c.rightImage)) {
    std::cout << "Camera image seems to be mirrored!\n";
    return false;
  }
  const std::uint32_t resX = image.width, resY = image.height;
  const std::vector<math::Vec3d> leftWorld = ToWorld(m_calibGrids[0].world_T_plate, c.leftPlate);
  const std::vector<math::Vec3d> rightWorld = ToWorld(m_calibGrids[1].world_T_plate, c.rightPlate);

  if (options.autoDetectCalibCornerSetup) {
    const math::Frame<double>&l = m_calibGrids[0].world_T_plate, &r = m_calibGrids[1].world_T_plate;
    if (std::abs(math::Dot(AxisZ(l), AxisZ(r))) >= kParallelLimit) {
      std::cerr
          << "HardwareSetup::CalibrateCamera(): Left and right calib.planes do not intersect!\n";
      return false;
    }
    cam::CameraModelTsai leftAlone, rightAlone;
    if (!CalibratePanel(leftAlone, leftWorld, c.leftImage, resX, resY, "left") ||
        !CalibratePanel(rightAlone, rightWorld, c.rightImage, resX, resY, "right"))
      return false;
    const double expected = AngleBetweenPanels(l, r);
    // Each panel in the camera frame of its own calibration.
    const double measured =
        AngleBetweenPanels(leftAlone.GetFrame_cTw() * l, rightAlone.GetFrame_cTw() * r);
    std::cout << (measured > std::numbers::pi ? "     -> Setup is 'outer/negative corner'\n"
                                              : "     -> Setup is 'inner corner'\n");
    if (std::abs(measured - expected) >= kCornerAngleTolerance)
      std::cout
          << "   -> Could not auto-detect setup reliably. Using FALL BACK to default setup.\n";
  }

  std::vector<math::Vec3d> world = leftWorld;
  world.insert(world.end(), rightWorld.begin(), rightWorld.end());
  std::vector<math::Vec2d> pixels = c.leftImage;
  pixels.insert(pixels.end(), c.rightImage.begin(), c.rightImage.end());
  auto result = std::make_shared<cam::CameraModelTsai>();
  if (!cam::CalibrateTsai().Calibrate(*result, world, pixels, resX, resY, {}, false)) {
    std::cerr << kFailed;
    return false;
  }
  if (extrinsicsOnly) {
    result->SetIntrinsics(model.GetIntrinsics());
  } else if (!options.compensateNonSquarePixels) {
    auto i = result->GetIntrinsics();
    i.sx = 1.0;
    result->SetIntrinsics(i);
  }

  auto leftPose = std::make_shared<math::Frame<double>>(m_calibGrids[0].world_T_plate);
  auto rightPose = std::make_shared<math::Frame<double>>(m_calibGrids[1].world_T_plate);
  const auto [leftList, rightList] =
      fixedPanels ? std::pair<std::string, std::string>{} : PanelLists(options);
  try {
    cam::CameraModelOptimizer optimizer;
    const std::size_t ls = optimizer.AddCoordinateSystem(leftPose, leftList);
    const std::size_t rs = optimizer.AddCoordinateSystem(rightPose, rightList);
    optimizer.AddObservations(0, ls, c.leftPlate, c.leftImage);
    optimizer.AddObservations(0, rs, c.rightPlate, c.rightImage);
    optimizer.OptimizeCameraModels(std::vector{result}, {CameraList(options, extrinsicsOnly)});
    if (!optimizer.LastRunSucceeded()) {
      std::cerr << kFailed;
      return false;
    }
  } catch (const std::exception&) {
    std::cerr << kFailed;
    return false;
  }

  std::vector<CamCalib::CalibGrid> grids = m_calibGrids;
  grids[0].world_T_plate = *leftPose;
  grids[1].world_T_plate = *rightPose;
  double rms = 0.0;
  if (!CornerRMS(*result, c, grids, rms)) {
    std::cerr << kFailed;
    return false;
  }
  m_lastRMS = rms;
  if (rms > options.maxRMS) {
    std::cerr << " - RMS error is too high: " << rms << ", max: " << options.maxRMS << '\n';
    return false;
  }
  std::cout << " - RMS error is ok: " << rms << '\n';
  model.SetResolution(resX, resY);
  model.SetIntrinsics(result->GetIntrinsics());
  model.SetFrame_wTc(result->GetFrame_wTc());
  m_calibGrids = std::move(grids);
  m_corners.push_back(std::move(c));
  return true;
}

bool HardwareSetup::OptimizeCameras(
    const std::vector<std::shared_ptr<cam::CameraModelTsai>>& models,
    const CameraCalibrationOptions& options) {
  if (models.size() != m_corners.size() || m_calibGrids.size() != 2 || models.empty()) return false;
  std::cout << "Optimizing Multi-Camera Calibration...\n";
  std::vector<std::shared_ptr<cam::CameraModelTsai>> work;
  std::vector<std::string> lists;
  for (const auto& m : models) {
    if (!m || !m->IsValid()) return false;
    work.push_back(std::make_shared<cam::CameraModelTsai>(*m));
    lists.push_back(CameraList(options, options.calibrateExtrinsicsOnly));
  }
  auto leftPose = std::make_shared<math::Frame<double>>(m_calibGrids[0].world_T_plate);
  auto rightPose = std::make_shared<math::Frame<double>>(m_calibGrids[1].world_T_plate);
  const auto [leftList, rightList] = PanelLists(options);
  try {
    cam::CameraModelOptimizer optimizer;
    const std::size_t ls = optimizer.AddCoordinateSystem(leftPose, leftList);
    const std::size_t rs = optimizer.AddCoordinateSystem(rightPose, rightList);
    for (std::size_t i = 0; i < work.size(); ++i) {
      optimizer.AddObservations(i, ls, m_corners[i].leftPlate, m_corners[i].leftImage);
      optimizer.AddObservations(i, rs, m_corners[i].rightPlate, m_corners[i].rightImage);
    }
    optimizer.OptimizeCameraModels(work, lists);
    if (!optimizer.LastRunSucceeded()) return false;
  } catch (const std::exception&) {
    return false;
  }
  for (std::size_t i = 0; i < work.size(); ++i) *models[i] = *work[i];
  m_calibGrids[0].world_T_plate = *leftPose;
  m_calibGrids[1].world_T_plate = *rightPose;
  return true;
}

namespace {

math::Plane<double> BackgroundPlane(const std::vector<CamCalib::CalibGrid>& grids, std::size_t i) {
  if (grids.size() <= i) return {};
  const math::Frame<double>& f = grids[i].world_T_plate;
  return {f.GetTrans(), AxisZ(f) * -1.0};
}

// The world direction of the ray through a pixel; the a axis when the model
// has no resolution or cannot back-project.
math::Vec3d WorldRay(const cam::CameraModel& model, const math::Vec2d& pixel) {
  math::Vec3d ray;
  if (model.GetResX() == 0 || model.GetResY() == 0 || !model.PixelToCameraRay(ray, pixel))
    return AxisZ(model.GetFrame_wTc());
  return model.GetFrame_wTc().MultV(ray).GetNormalized();
}

double Angle(const math::Vec3d& a, const math::Vec3d& b) {
  return std::atan2((a ^ b).Length(), math::Dot(a, b));
}

}  // namespace

math::Plane<double> HardwareSetup::GetLeftBackgroundPlane() const {
  return BackgroundPlane(m_calibGrids, 0);
}
math::Plane<double> HardwareSetup::GetRightBackgroundPlane() const {
  return BackgroundPlane(m_calibGrids, 1);
}

void HardwareSetup::GetTriangulationAngles(const cam::CameraModel& camera,
                                           const cam::CameraModel& projector, double& total,
                                           double& horizontal, double& vertical) {
  const double w = camera.GetResX(), h = camera.GetResY();
  const math::Vec3d c = WorldRay(camera, {w / 2.0, h / 2.0});
  const double W = projector.GetResX(), H = projector.GetResY();
  const math::Vec3d p = WorldRay(projector, {W / 2.0, H / 2.0});
  total = Angle(c, p);
  const math::Vec3d nh =
      WorldRay(projector, {0.25 * W, H / 2.0}) ^ WorldRay(projector, {0.75 * W, H / 2.0});
  horizontal = std::abs(std::numbers::pi / 2.0 - std::abs(Angle(c, nh)));
  const math::Vec3d nv =
      WorldRay(projector, {W / 2.0, 0.25 * H}) ^ WorldRay(projector, {W / 2.0, 0.75 * H});
  vertical = std::abs(std::numbers::pi / 2.0 - std::abs(Angle(c, nv)));
}

}  // namespace scan
