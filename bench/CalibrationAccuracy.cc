// Accuracy of camera calibration on synthetic targets with known truth:
// prints, per scene and image noise level (Gaussian, pixels per axis), the
// errors of f, the principal point and the pose (rotation angle, distance of
// the camera centre; for plates the worst plate pose), the reprojection RMS,
// and for single calibrations the predicted (Cramér–Rao) standard deviations.
// Projector rows are in projector pixels (normalised units × 1080). Not a
// speed benchmark.
//
// Scenes: a 1920 × 1200 camera with f = 2500 px, principal point (1003.7,
// 571.2), kappa1 = -3e-9 (about 4 px at the corners), 430-600 mm from an
// inner corner of two perpendicular 360 × 360 mm panels with 25 × 25 points
// each; a projector (normalised unit square, sx = 0.5625, principal point
// cy = -0.5 ... 1.5) at the same corner; a 240 × 150 mm plate with 17 × 11
// points in eight poses 650-800 mm away, for Tsai and OCV models.
//
//   build/release/bench/CalibrationAccuracy [seed]

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <streambuf>

#include "bench/MuteStdout.h"
#include "cam/CalibrateTsai.h"
#include "cam/CameraModelOptimizer.h"
#include "cam/SyntheticTargets.h"

namespace {

using namespace cam;
using cam::synthetic::Observations;

constexpr double kDeg = 180.0 / 3.14159265358979323846;

using bench::MuteStdout;

void PrintRow(const char* scene, double sigma, double fTrue, double f, double dcx, double dcy, double angle,
              double dist, double rmsComponent, double rmsPoint, const char* extra = "") {
  std::printf("%-28s %5.2f  %9.5f %8.4f %8.4f  %9.6f %9.5f  %10.3g %10.3g  %s\n", scene, sigma,
              100.0 * std::abs(f - fTrue) / fTrue, std::abs(dcx), std::abs(dcy), angle * kDeg, dist, rmsComponent,
              rmsPoint, extra);
}

CameraModelTsai TrueTsaiCamera(const math::Frame<double>& wTc) {
  CameraModelTsai cam;
  cam.SetResolution(1920, 1200);
  cam.SetIntrinsics(1003.7, 571.2, 2500.0, 1.0, -3e-9);
  cam.SetFrame_wTc(wTc);
  return cam;
}

void CornerTsai(double sigma, unsigned seed) {
  std::mt19937 rng(seed);
  const CameraModelTsai truth = TrueTsaiCamera(
      synthetic::LookAt({430.0, -30.0, 460.0}, {150.0, 10.0, 140.0}, {0.0, 1.0, 0.0}, 0.05));
  const Observations obs = synthetic::Observe(truth, synthetic::CornerGrid(25, 15.0, 15.0), sigma, rng);
  CameraModelTsai model;
  CalibrateTsai calib;
  if (!calib.Calibrate(model, obs.points3d, obs.points2d, 1920, 1200, {}, false)) {
    std::printf("corner Tsai: calibration failed\n");
    return;
  }
  double angle = 0, dist = 0, rms = 0;
  synthetic::PoseDifference(truth.GetFrame_wTc(), model.GetFrame_wTc(), angle, dist);
  std::vector<std::pair<math::Vec2d, math::Vec2d>> residuals;
  GetCalibrationError(model, obs.points3d, obs.points2d, residuals, rms);
  const auto& t = truth.GetIntrinsics();
  const auto& m = model.GetIntrinsics();
  const auto pred = synthetic::PredictTsaiErrors(truth, obs.points3d, obs.points2d, std::max(sigma, 1e-12));
  char extra[200];
  std::snprintf(extra, sizeof extra, "n=%zu sx-1=%.1e; predicted 1-sigma: f %.4f%% pose %.5f deg %.4f mm",
                obs.points3d.size(), m.sx - 1.0, 100.0 * pred.f / t.f * (sigma > 0), pred.angle * kDeg * (sigma > 0),
                pred.centre * (sigma > 0));
  PrintRow("corner, Tsai non-coplanar", sigma, t.f, m.f, m.cx - t.cx, m.cy - t.cy, angle, dist, rms / std::sqrt(2.0),
           rms, extra);
}

void CameraOptimizerStart(CameraModelTsai& model, const CameraModelTsai& truth) {
  model.SetResolution(truth.GetResX(), truth.GetResY());
  model.SetIntrinsics(truth.GetResX() / 2.0, truth.GetResY() / 2.0, truth.GetIntrinsics().f * 1.05, 1.0, 0.0);
}
void CameraOptimizerStart(CameraModelOCV& model, const CameraModelOCV& truth) {
  CameraModelOCVIntrinsics c;
  c.cx = truth.GetResX() / 2.0;
  c.cy = truth.GetResY() / 2.0;
  c.f = truth.GetIntrinsics().f * 1.05;
  model.SetIntrinsics(c, truth.GetResX(), truth.GetResY());
}


// A projector as an inverse camera in normalised coordinates (unit square,
// principal point far below the image), calibrated like the corner camera with
// the principal-point start values cy = -0.5 ... 1.5, keeping the best RMS.
void CornerProjector(double cyTrue, double sigmaPixels, unsigned seed) {
  std::mt19937 rng(seed);
  CameraModelTsai truth;
  truth.SetResolution(1, 1);
  truth.SetIntrinsics(0.52, cyTrue, 1.9, 1080.0 / 1920.0, 0.002);
  truth.SetFrame_wTc(synthetic::LookAt({470.0, 60.0, 420.0}, {150.0, 10.0, 140.0}, {0.0, 1.0, 0.0}, -0.03));
  // Move the principal point: the projector looks off-axis at the target.
  truth.SetFrame_wTc(truth.GetFrame_wTc() * math::FRotX(std::atan((0.5 - cyTrue) / 1.9)));
  const double sigma = sigmaPixels / 1080.0;
  const Observations obs = synthetic::Observe(truth, synthetic::CornerGrid(25, 15.0, 15.0), sigma, rng);
  CameraModelTsai best;
  double bestRms = -1.0;
  CalibrateTsai calib;
  for (double cy = -0.5; cy < 1.6; cy += 0.5) {
    CameraModelTsai model;
    TsaiSensorDescription sensor;
    sensor.cx = 0.5;
    sensor.cy = cy;
    sensor.sx = 1.0;
    if (!calib.Calibrate(model, obs.points3d, obs.points2d, 1, 1, sensor, false)) continue;
    double rms = 0;
    std::vector<std::pair<math::Vec2d, math::Vec2d>> residuals;
    GetCalibrationError(model, obs.points3d, obs.points2d, residuals, rms);
    if (bestRms < 0 || rms < bestRms) bestRms = rms, best = model;
  }
  if (bestRms < 0) {
    std::printf("projector: calibration failed\n");
    return;
  }
  double angle = 0, dist = 0;
  synthetic::PoseDifference(truth.GetFrame_wTc(), best.GetFrame_wTc(), angle, dist);
  const auto& t = truth.GetIntrinsics();
  const auto& m = best.GetIntrinsics();
  const auto pred = synthetic::PredictTsaiErrors(truth, obs.points3d, obs.points2d, std::max(sigma, 1e-12));
  char scene[64], extra[200];
  std::snprintf(scene, sizeof scene, "projector cy=%.1f (x1080)", cyTrue);
  std::snprintf(extra, sizeof extra, "n=%zu dsx/sx=%.1e; predicted 1-sigma: f %.4f%% pose %.5f deg %.4f mm",
                obs.points3d.size(), m.sx / t.sx - 1.0, 100.0 * pred.f / t.f * (sigma > 0),
                pred.angle * kDeg * (sigma > 0), pred.centre * (sigma > 0));
  PrintRow(scene, sigmaPixels, t.f, m.f, (m.cx - t.cx) * 1080, (m.cy - t.cy) * 1080, angle, dist,
           bestRms / std::sqrt(2.0) * 1080, bestRms * 1080, extra);
}

// A plate in several poses; per-pose coplanar Tsai for the start, then the
// joint optimisation of intrinsics and plate poses (camera at the world
// origin, fixed).
template <typename Model>
void PlateMultiPose(const char* scene, const Model& truth, const std::string& intrinsics, double sigma,
                    unsigned seed) {
  std::mt19937 rng(seed);
  const std::vector<math::Vec3d> plate = synthetic::PlateGrid(17, 11, 15.0);
  const double tilts[8][3] = {{0.25, -0.2, 650}, {0.5, 0.0, 700}, {-0.5, 0.0, 700}, {0.0, 0.5, 720},
                              {0.0, -0.5, 680}, {0.35, 0.35, 760}, {-0.35, 0.35, 640}, {0.3, -0.4, 800}};
  std::vector<math::Frame<double>> truePoses;
  std::vector<Observations> views;
  for (const auto& t : tilts) {
    const math::Frame<double> pose =
        math::FTrans(0.03 * t[2] * t[1], -0.03 * t[2] * t[0], t[2]) * math::FRotX(t[0]) * math::FRotY(t[1]) *
        math::FRotZ(0.1 * t[0]);
    truePoses.push_back(pose);
    views.push_back(synthetic::Observe(truth, plate, sigma, rng, pose));
  }
  // Start: intrinsics rough (f ± 5 %, principal point at the image centre),
  // plate poses from one coplanar calibration per view.
  auto model = std::make_shared<Model>();
  CameraOptimizerStart(*model, truth);
  CameraModelOptimizer optimizer;
  std::vector<std::shared_ptr<math::Frame<double>>> poses;
  CalibrateTsai calib;
  for (std::size_t v = 0; v < views.size(); ++v) {
    CameraModelTsai single;
    TsaiSensorDescription sensor;
    if (!calib.Calibrate(single, views[v].points3d, views[v].points2d, truth.GetResX(), truth.GetResY(), sensor, true)) {
      std::printf("%s: coplanar start failed\n", scene);
      return;
    }
    poses.push_back(std::make_shared<math::Frame<double>>(single.GetFrame_cTw()));  // world = camera
    const std::size_t system = optimizer.AddCoordinateSystem(poses.back(), "tx ty tz rx ry rz");
    optimizer.AddObservations(0, system, views[v].points3d, views[v].points2d);
  }
  double rmsComponent = 0.0;
  {
    MuteStdout mute;
    rmsComponent = optimizer.OptimizeCameraModels(std::vector<std::shared_ptr<Model>>{model}, {intrinsics});
  }
  double worstAngle = 0.0, worstDist = 0.0;
  for (std::size_t v = 0; v < poses.size(); ++v) {
    double angle = 0, dist = 0;
    synthetic::PoseDifference(truePoses[v], *poses[v], angle, dist);
    worstAngle = std::max(worstAngle, angle);
    worstDist = std::max(worstDist, dist);
  }
  const auto& t = truth.GetIntrinsics();
  const auto& m = model->GetIntrinsics();
  char extra[160];
  std::snprintf(extra, sizeof extra, "views=%zu outliers=%zu (pose: worst view)", views.size(),
                optimizer.GetNumOutliersRemoved());
  PrintRow(scene, sigma, t.f, m.f, m.cx - t.cx, m.cy - t.cy, worstAngle, worstDist, rmsComponent,
           rmsComponent * std::sqrt(2.0), extra);
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned seed = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 1u;
  std::printf("%-28s %5s  %9s %8s %8s  %9s %9s  %10s %10s\n", "scene", "noise", "|df|/f %", "|dcx|", "|dcy|",
              "pose deg", "pose mm", "rms/axis", "rms/point");
  for (double sigma : {0.0, 0.1}) CornerTsai(sigma, seed);
  for (double cy : {-0.5, 1.2, 1.5}) {
    for (double sigma : {0.0, 0.1}) CornerProjector(cy, sigma, seed);
  }
  const CameraModelTsai tsai = TrueTsaiCamera({});
  for (double sigma : {0.0, 0.1}) PlateMultiPose("plate x8, Tsai", tsai, "cx cy f kappa1", sigma, seed);
  CameraModelOCV ocv;
  CameraModelOCVIntrinsics c;
  c.cx = 1003.7, c.cy = 571.2, c.f = 2500.0, c.k1 = -0.08, c.k2 = 0.05, c.p1 = 4e-4, c.p2 = -3e-4;
  ocv.SetIntrinsics(c, 1920, 1200);
  for (double sigma : {0.0, 0.1}) PlateMultiPose("plate x8, OCV", ocv, "cx cy f k1 k2 k3 p1 p2", sigma, seed);
  return 0;
}
