#pragma once

// Synthetic calibration scenes with known truth, for tests and accuracy
// measurements: grids of target points on a plate or on two perpendicular
// panels, cameras looking at them, and noisy image points.

#include <cmath>
#include <random>
#include <vector>

#include "cam/CameraModelFunctions.h"
#include "foundation/math/Frame.h"

namespace cam::synthetic {

// Points of an nx × ny grid with the given spacing on the plane z = 0,
// centred on the origin (millimetres).
inline std::vector<math::Vec3d> PlateGrid(int nx, int ny, double spacing) {
  std::vector<math::Vec3d> points;
  for (int j = 0; j < ny; ++j) {
    for (int i = 0; i < nx; ++i) points.emplace_back((i - (nx - 1) / 2.0) * spacing, (j - (ny - 1) / 2.0) * spacing, 0.0);
  }
  return points;
}

// Two perpendicular panels meeting along the world y axis (an inner corner):
// panel 1 in the plane z = 0 with x ∈ [margin, margin + (n−1)·spacing],
// panel 2 in the plane x = 0 with z in the same range; y spans the same
// range centred on 0. Seen from the region x > 0, z > 0.
inline std::vector<math::Vec3d> CornerGrid(int n, double spacing, double margin) {
  std::vector<math::Vec3d> points;
  for (int j = 0; j < n; ++j) {
    const double y = (j - (n - 1) / 2.0) * spacing;
    for (int i = 0; i < n; ++i) points.emplace_back(margin + i * spacing, y, 0.0);
    for (int i = 0; i < n; ++i) points.emplace_back(0.0, y, margin + i * spacing);
  }
  return points;
}

// Camera pose wTc at eye looking at target: z forward, y towards worldDown,
// x = y × z, then rolled by roll radians about the viewing direction.
inline math::Frame<double> LookAt(const math::Vec3d& eye, const math::Vec3d& target, const math::Vec3d& worldDown,
                                  double roll) {
  const math::Vec3d a = (target - eye).GetNormalized();
  const math::Vec3d n = (worldDown ^ a).GetNormalized();
  const math::Vec3d o = a ^ n;
  math::Frame<double> f;
  f.SetN({n[0], n[1], n[2], 0.0});
  f.SetO({o[0], o[1], o[2], 0.0});
  f.SetA({a[0], a[1], a[2], 0.0});
  f.SetTrans(eye);
  return f * math::FRotZ(roll);
}

// Projects the world points that lie in front of the camera and inside the
// image, adding Gaussian noise of sigma pixels per axis.
struct Observations {
  std::vector<math::Vec3d> points3d;
  std::vector<math::Vec2d> points2d;
};
inline Observations Observe(const CameraModel& model, const std::vector<math::Vec3d>& points, double sigma,
                            std::mt19937& rng, const math::Frame<double>& world_T_target = {}) {
  std::normal_distribution<double> noise(0.0, sigma > 0.0 ? sigma : 1.0);
  Observations obs;
  for (const auto& p : points) {
    const math::Vec3d w = world_T_target.MultP(p);
    math::Vec2d pixel;
    if (WorldPointToDepth(w, model) <= 0.0 || !WorldPointToPixel(pixel, w, model)) continue;
    if (pixel[0] < 0.0 || pixel[1] < 0.0 || pixel[0] >= model.GetResX() || pixel[1] >= model.GetResY()) continue;
    if (sigma > 0.0) pixel += math::Vec2d(noise(rng), noise(rng));
    obs.points3d.push_back(p);
    obs.points2d.push_back(pixel);
  }
  return obs;
}

// Rotation angle (radians) and translation distance between two frames.
inline void PoseDifference(const math::Frame<double>& a, const math::Frame<double>& b, double& angle,
                           double& distance) {
  const math::Frame<double> d = a.GetInverse() * b;
  const double c = std::clamp((d(0, 0) + d(1, 1) + d(2, 2) - 1.0) / 2.0, -1.0, 1.0);
  // acos is inaccurate near 0; use the skew part for small angles.
  const double s = 0.5 * std::sqrt((d(2, 1) - d(1, 2)) * (d(2, 1) - d(1, 2)) + (d(0, 2) - d(2, 0)) * (d(0, 2) - d(2, 0)) +
                                   (d(1, 0) - d(0, 1)) * (d(1, 0) - d(0, 1)));
  angle = std::atan2(s, c);
  distance = (a.GetTrans() - b.GetTrans()).Length();
}

}  // namespace cam::synthetic

#include <Eigen/Dense>
#include <memory>

#include "cam/CameraModelTsai.h"
#include "cam/OptiCameraModel.h"
#include "foundation/math/OptiMizer.h"

namespace cam::synthetic {

// Predicted (Cramér–Rao) standard deviations of the active parameters of a
// least-squares problem at its current estimate for image noise sigma per
// axis: sigma·√diag((JᵀJ)⁻¹), J by central differences. The problem's sets
// are left at the estimate.
inline Eigen::VectorXd PredictedStdDev(math::OptiMizer& problem, double sigma) {
  std::vector<double> x;
  problem.GetActiveParams(x);
  std::vector<double> e0;
  problem.SetActiveParams(x.data(), x.size());
  problem.ComputeErrors(e0);
  Eigen::MatrixXd J(static_cast<Eigen::Index>(e0.size()), static_cast<Eigen::Index>(x.size()));
  for (std::size_t j = 0; j < x.size(); ++j) {
    const double h = x[j] != 0.0 ? 1e-6 * std::abs(x[j]) : 1e-7;
    std::vector<double> xp = x, xm = x, ep, em;
    xp[j] += h;
    xm[j] -= h;
    problem.SetActiveParams(xp.data(), xp.size());
    problem.ComputeErrors(ep);
    problem.SetActiveParams(xm.data(), xm.size());
    problem.ComputeErrors(em);
    for (std::size_t i = 0; i < e0.size(); ++i) J(i, j) = (ep[i] - em[i]) / (2.0 * h);
  }
  problem.SetActiveParams(x.data(), x.size());
  const Eigen::MatrixXd covariance = (J.transpose() * J).inverse();
  return sigma * covariance.diagonal().cwiseSqrt();
}

// Predicted RMS errors of a Tsai calibration (all eleven parameters) at
// model: of the camera centre (mm), the rotation (radians) and f (pixels).
struct PredictedTsaiErrors {
  double centre = 0.0;
  double angle = 0.0;
  double f = 0.0;
};
inline PredictedTsaiErrors PredictTsaiErrors(const CameraModelTsai& model, const std::vector<math::Vec3d>& points3d,
                                             const std::vector<math::Vec2d>& points2d, double sigma) {
  auto copy = std::make_shared<CameraModelTsai>(model);
  const auto n = static_cast<Eigen::Index>(points3d.size());
  Eigen::MatrixXd S(3, n), R(2, n);
  for (Eigen::Index k = 0; k < n; ++k) {
    for (int r = 0; r < 3; ++r) S(r, k) = points3d[k][r];
    for (int r = 0; r < 2; ++r) R(r, k) = points2d[k][r];
  }
  auto func = std::make_shared<math::OptiErrorFunc>(S, R);
  func->AddTransform(std::make_shared<OptiTransformCameraModelIS>(copy));
  auto set = std::make_shared<OptiParameterSetCameraModelTsai>(*copy);
  set->SelectActiveParams("tx ty tz rx ry rz cx cy f sx kappa1");
  math::OptiMizerLM problem;
  problem.AddParameterSet(set);
  problem.AddErrorFunc(func);
  const Eigen::VectorXd s = PredictedStdDev(problem, sigma);
  return {s.head<3>().norm(), s.segment<3>(3).norm(), s(8)};
}

}  // namespace cam::synthetic
