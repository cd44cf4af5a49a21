#pragma once

#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include <Eigen/Core>

#include "cam/CameraModelTsai.h"

namespace cam {

// What Tsai's method needs to know about the sensor besides the
// correspondences. Pixel coordinates are used directly (pixel size 1).
struct TsaiSensorDescription {
  // Start values of the principal point (pixels); NaN: the image centre
  // (resX/2, resY/2). Tsai's linear stages assume the principal point, the
  // final optimisation estimates it, so a projector whose principal point
  // lies far outside its image needs a start value near the truth.
  double cx = std::numeric_limits<double>::quiet_NaN();
  double cy = std::numeric_limits<double>::quiet_NaN();
  // Horizontal pixel size relative to the vertical one: the start value in
  // non-coplanar mode (where sx is estimated), fixed in coplanar mode.
  double sx = 1.0;
};

// Camera calibration from 3D–2D correspondences with Tsai's two-stage method
// (R. Y. Tsai, "A versatile camera calibration technique for high-accuracy
// 3D machine vision metrology using off-the-shelf TV cameras and lenses",
// IEEE J. Robotics and Automation 3(4), 1987): the radial alignment
// constraint gives the rotation and the x, y translation linearly, a linear
// system gives approximate f and Tz, and Levenberg–Marquardt (math::OptiMizerLM)
// refines f, Tz and kappa1 and finally all parameters by the reprojection
// error in pixels.
//
// Failures print "Error: cam::CalibrateTsai::<method> - <message>" (plus the
// stages' own messages) to stderr, return false and leave the model
// unchanged.
class CalibrateTsai {
 public:
  CalibrateTsai() = default;
  CalibrateTsai(const CalibrateTsai&) = delete;
  CalibrateTsai& operator=(const CalibrateTsai&) = delete;
  virtual ~CalibrateTsai() = default;

  // Computes the complete model (pose wTc, cx, cy, f, sx, kappa1) from at least
  // 5 correspondences (non-coplanar mode needs 7: the linear stage has 7
  // unknowns). 3D points in millimetres (world), 2D points in pixels.
  // Coplanar mode: the 3D points must lie on one plane (smallest covariance
  // eigenvalue below 0.01 mm²), in any position; sx stays at the sensor
  // value. Non-coplanar mode refuses points with such a small variation.
  virtual bool Calibrate(CameraModelTsai& model, const std::vector<math::Vec3d>& points3d,
                         const std::vector<math::Vec2d>& points2d, std::uint32_t resX, std::uint32_t resY,
                         const TsaiSensorDescription& sensor, bool coplanar);

  // Refines all parameters of model (a valid start) by the non-coplanar full
  // optimisation.
  virtual bool Optimize(CameraModelTsai& model, const std::vector<math::Vec3d>& points3d,
                        const std::vector<math::Vec2d>& points2d);

  // Coplanar mode: no distortion estimate (kappa1 stays 0); f, Tz and the
  // full set without kappa1 are still optimised.
  void SetSuppressDistortion(bool suppress) { m_suppressDistortion = suppress; }
  bool GetSuppressDistortion() const { return m_suppressDistortion; }

 private:
  // Tsai's parameters: world → camera rotation and translation, intrinsics.
  struct Params {
    Eigen::Matrix3d R = Eigen::Matrix3d::Identity();
    Eigen::Vector3d T = Eigen::Vector3d::Zero();
    double f = 0.0, kappa1 = 0.0, cx = 0.0, cy = 0.0, sx = 1.0;
  };

  bool NoncoplanarCalibrationWithFullOptimization();
  bool CoplanarCalibrationWithFullOptimization();
  // Distorted sensor coordinates (Xd, Yd) of the working 2D points.
  void ComputeXdYd(std::vector<double>& xd, std::vector<double>& yd) const;
  // The sign of Ty from the point farthest from the principal point.
  bool TyIsPositive(const std::vector<double>& xd, const std::vector<double>& yd, const Params& p) const;
  bool ComputeApproximateFAndTz(const char* context);
  // Levenberg–Marquardt on the named parameters of the Tsai parameter set.
  bool OptimizeParams(const char* activeParams);
  // Twice OptimizeParams; the second run restarts from the first's result.
  bool OptimizeFully(const char* activeParams);

  std::vector<math::Vec3d> m_points3d;
  std::vector<math::Vec2d> m_points2d;
  Params m_params;
  bool m_suppressDistortion = false;
};

// Reprojection error of a model: for each correspondence the pair (observed
// point, projected − observed), and the RMS per point
// √(Σ|residual|²/n) (0 without points). False when the lengths differ or a
// point cannot be projected.
bool GetCalibrationError(const CameraModel& model, const std::vector<math::Vec3d>& points3d,
                         const std::vector<math::Vec2d>& points2d,
                         std::vector<std::pair<math::Vec2d, math::Vec2d>>& residuals, double& rms);

}  // namespace cam
