#include "cam/CalibrateTsai.h"

#include <Eigen/Dense>
#include <cmath>
#include <iostream>
#include <memory>
#include <sstream>

#include "cam/CameraModelFunctions.h"
#include "cam/OptiCameraModel.h"
#include "foundation/math/OptiMizer.h"

namespace cam {
namespace {

constexpr double kCoplanarVariation = 0.01;  // mm²

void PrintError(const char* context, const std::string& message) {
  std::cerr << "Error: " << context << " - " << message << '\n';
}

// Least squares by the normal equations, x = (MᵀM)⁻¹·Mᵀb. The columns of M are
// equilibrated first (the same solution, a far better conditioned MᵀM).
bool SolveSystem(const Eigen::MatrixXd& M, const Eigen::VectorXd& b, Eigen::VectorXd& x) {
  if (M.cols() > M.rows()) {
    std::cerr << "solve_system: matrix M has more columns than rows\n";
    return false;
  }
  const Eigen::VectorXd norms = M.colwise().norm().transpose();
  if (!norms.allFinite() || !b.allFinite() || (norms.array() == 0.0).any()) {
    std::cerr << "solve_system: determinant of matrix M_transpose_M is too small\n";
    return false;
  }
  const Eigen::MatrixXd Ms = M * norms.cwiseInverse().asDiagonal();
  const Eigen::MatrixXd MtM = Ms.transpose() * Ms;
  const Eigen::LDLT<Eigen::MatrixXd> ldlt(MtM);
  if (ldlt.info() != Eigen::Success || !(ldlt.rcond() > 1e-13)) {
    std::cerr << "solve_system: determinant of matrix M_transpose_M is too small\n";
    return false;
  }
  x = ldlt.solve(Ms.transpose() * b).cwiseQuotient(norms);
  if (!x.allFinite()) {
    std::cerr << "solve_system: error during matrix inversion\n";
    return false;
  }
  return true;
}

// The rotation nearest to R (Frobenius norm).
Eigen::Matrix3d NearestRotation(const Eigen::Matrix3d& R) {
  const Eigen::JacobiSVD<Eigen::Matrix3d> svd(R, Eigen::ComputeFullU | Eigen::ComputeFullV);
  Eigen::Matrix3d D = Eigen::Matrix3d::Identity();
  D(2, 2) = (svd.matrixU() * svd.matrixV().transpose()).determinant() < 0.0 ? -1.0 : 1.0;
  return svd.matrixU() * D * svd.matrixV().transpose();
}

math::Frame<double> ToFrame(const Eigen::Matrix3d& R, const Eigen::Vector3d& T) {
  math::Frame<double> f;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) f(r, c) = R(r, c);
    f(r, 3) = T(r);
  }
  return f;
}

// Smallest covariance eigenvalue (mm²) of the points, and the frame that maps
// them onto the plane z = 0 (plane_T_world).
double FitPlane(const std::vector<math::Vec3d>& points, math::Frame<double>& plane_T_world) {
  Eigen::Vector3d centroid = Eigen::Vector3d::Zero();
  for (const auto& p : points) centroid += Eigen::Vector3d(p[0], p[1], p[2]);
  centroid /= static_cast<double>(points.size());
  Eigen::Matrix3d cov = Eigen::Matrix3d::Zero();
  for (const auto& p : points) {
    const Eigen::Vector3d d = Eigen::Vector3d(p[0], p[1], p[2]) - centroid;
    cov += d * d.transpose();
  }
  cov /= static_cast<double>(points.size());
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eig(cov);  // increasing eigenvalues
  const Eigen::Vector3d e1 = eig.eigenvectors().col(2), e2 = eig.eigenvectors().col(1);
  const Eigen::Vector3d n = e1.cross(e2).normalized();
  const Eigen::Vector3d z = Eigen::Vector3d::UnitZ();
  Eigen::Matrix3d R = Eigen::Matrix3d::Identity();
  const Eigen::Vector3d axis = n.cross(z);
  if (axis.norm() > 1e-9) {
    const double angle = std::atan2(axis.norm(), n.dot(z));
    R = Eigen::AngleAxisd(angle, axis.normalized()).toRotationMatrix();
  }
  plane_T_world = ToFrame(R, -R * centroid);
  return eig.eigenvalues()(0);
}

bool AllFinite(const std::vector<math::Vec3d>& points3d, const std::vector<math::Vec2d>& points2d) {
  for (const auto& p : points3d) {
    if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2])) return false;
  }
  for (const auto& p : points2d) {
    if (!std::isfinite(p[0]) || !std::isfinite(p[1])) return false;
  }
  return true;
}

}  // namespace

bool CalibrateTsai::Calibrate(CameraModelTsai& model, const std::vector<math::Vec3d>& points3d,
                              const std::vector<math::Vec2d>& points2d, std::uint32_t resX, std::uint32_t resY,
                              const TsaiSensorDescription& sensor, bool coplanar) {
  static constexpr const char* kContext = "cam::CalibrateTsai::Calibrate";
  if (points3d.size() != points2d.size() || points3d.size() < 5) {
    PrintError(kContext, "Not enough point correspondences");
    return false;
  }
  if (!AllFinite(points3d, points2d)) {
    PrintError(kContext, "Point correspondences contain non-finite coordinates.");
    return false;
  }
  if (!(std::isfinite(sensor.sx) && sensor.sx > 0.0)) {
    PrintError(kContext, "Invalid sensor description: sx must be positive.");
    return false;
  }
  m_points3d = points3d;
  m_points2d = points2d;
  m_params = Params();
  m_params.cx = std::isnan(sensor.cx) ? resX / 2.0 : sensor.cx;
  m_params.cy = std::isnan(sensor.cy) ? resY / 2.0 : sensor.cy;
  m_params.sx = sensor.sx;

  math::Frame<double> cTw;
  bool ok = false;
  if (!coplanar) {
    ok = NoncoplanarCalibrationWithFullOptimization();
    if (!ok) PrintError(kContext, "noncoplanar_calibration_with_full_optimization() failed.");
    cTw = ToFrame(m_params.R, m_params.T);
  } else {
    math::Frame<double> plane_T_world;
    const double variation = FitPlane(m_points3d, plane_T_world);
    if (!(variation < kCoplanarVariation)) {
      std::ostringstream message;
      message << "Cannot calibrate in coplanar mode because 3d points are not coplanar. Variation=" << variation;
      PrintError(kContext, message.str());
      m_points3d.clear();
      m_points2d.clear();
      return false;
    }
    for (auto& p : m_points3d) {
      p = plane_T_world.MultP(p);
      p[2] = 0.0;
    }
    ok = CoplanarCalibrationWithFullOptimization();
    if (!ok) PrintError(kContext, "coplanar_calibration_with_full_optimization() failed.");
    cTw = ToFrame(m_params.R, m_params.T) * plane_T_world;
  }
  m_points3d.clear();
  m_points2d.clear();
  if (!ok) return false;
  model.SetResolution(resX, resY);
  model.SetFrame_wTc(cTw.GetInverse());
  model.SetIntrinsics(m_params.cx, m_params.cy, m_params.f, m_params.sx, m_params.kappa1);
  return true;
}

bool CalibrateTsai::Optimize(CameraModelTsai& model, const std::vector<math::Vec3d>& points3d,
                             const std::vector<math::Vec2d>& points2d) {
  static constexpr const char* kContext = "cam::CalibrateTsai::Optimize";
  if (points3d.size() != points2d.size()) {
    PrintError(kContext, "Number of 2d points (" + std::to_string(points2d.size()) +
                             ") does not fit number of 3d points (" + std::to_string(points3d.size()) + ").");
    return false;
  }
  if (points3d.size() < 5) {
    PrintError(kContext, "Not enough point correspondences");
    return false;
  }
  if (!AllFinite(points3d, points2d)) {
    PrintError(kContext, "Point correspondences contain non-finite coordinates.");
    return false;
  }
  m_points3d = points3d;
  m_points2d = points2d;
  const math::Frame<double> cTw = model.GetFrame_cTw();
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) m_params.R(r, c) = cTw(r, c);
    m_params.T(r) = cTw(r, 3);
  }
  const CameraModelTsai::Intrinsics& i = model.GetIntrinsics();
  m_params.cx = i.cx, m_params.cy = i.cy, m_params.f = i.f, m_params.sx = i.sx, m_params.kappa1 = i.kappa1;
  const bool ok = OptimizeFully("tx ty tz rx ry rz cx cy f sx kappa1");
  m_points3d.clear();
  m_points2d.clear();
  if (!ok) {
    PrintError(kContext, "ncc_full_optimization() failed.");
    return false;
  }
  model.SetFrame_wTc(ToFrame(m_params.R, m_params.T).GetInverse());
  model.SetIntrinsics(m_params.cx, m_params.cy, m_params.f, m_params.sx, m_params.kappa1);
  return true;
}

void CalibrateTsai::ComputeXdYd(std::vector<double>& xd, std::vector<double>& yd) const {
  xd.resize(m_points2d.size());
  yd.resize(m_points2d.size());
  for (std::size_t i = 0; i < m_points2d.size(); ++i) {
    xd[i] = (m_points2d[i][0] - m_params.cx) / m_params.sx;
    yd[i] = m_points2d[i][1] - m_params.cy;
  }
}

bool CalibrateTsai::TyIsPositive(const std::vector<double>& xd, const std::vector<double>& yd,
                                 const Params& p) const {
  std::size_t far = 0;
  double farR2 = -1.0;
  for (std::size_t i = 0; i < xd.size(); ++i) {
    const double r2 = xd[i] * xd[i] + yd[i] * yd[i];
    if (r2 > farR2) farR2 = r2, far = i;
  }
  const Eigen::Vector3d w(m_points3d[far][0], m_points3d[far][1], m_points3d[far][2]);
  const double x = p.R.row(0).dot(w) + p.T(0);
  const double y = p.R.row(1).dot(w) + p.T(1);
  return std::signbit(x) == std::signbit(xd[far]) && std::signbit(y) == std::signbit(yd[far]);
}

bool CalibrateTsai::NoncoplanarCalibrationWithFullOptimization() {
  // Coplanar data make the linear system below singular.
  math::Frame<double> unused;
  if (!(FitPlane(m_points3d, unused) >= kCoplanarVariation)) {
    std::cerr << "ncc compute U: error - non-coplanar calibration tried with data which may possibly be coplanar\n\n";
    return false;
  }
  std::vector<double> xd, yd;
  ComputeXdYd(xd, yd);
  const std::size_t n = m_points3d.size();

  // U = (sx·r1, sx·r2, sx·r3, sx·Tx, r4, r5, r6) / Ty from the radial alignment constraint.
  Eigen::MatrixXd M(n, 7);
  Eigen::VectorXd b(n), U;
  for (std::size_t i = 0; i < n; ++i) {
    const math::Vec3d& w = m_points3d[i];
    M.row(i) << yd[i] * w[0], yd[i] * w[1], yd[i] * w[2], yd[i], -xd[i] * w[0], -xd[i] * w[1], -xd[i] * w[2];
    b(i) = xd[i];
  }
  if (!SolveSystem(M, b, U)) {
    std::cerr << "ncc compute U: error - non-coplanar calibration tried with data which may possibly be coplanar\n\n";
    return false;
  }

  // |Ty|, then its sign; the relative scale factor; the rotation.
  const double absTy = 1.0 / std::sqrt(U(4) * U(4) + U(5) * U(5) + U(6) * U(6));
  const double sxRel = absTy * std::sqrt(U(0) * U(0) + U(1) * U(1) + U(2) * U(2));
  Params& p = m_params;
  const auto fromU = [&](double ty) {
    p.R.row(0) = Eigen::Vector3d(U(0), U(1), U(2)) * ty / sxRel;
    p.R.row(1) = Eigen::Vector3d(U(4), U(5), U(6)) * ty;
    p.T(0) = U(3) * ty / sxRel;
    p.T(1) = ty;
  };
  fromU(absTy);
  if (!TyIsPositive(xd, yd, p)) fromU(-absTy);
  p.R.row(2) = p.R.row(0).cross(p.R.row(1));
  p.R = NearestRotation(p.R);
  p.sx *= sxRel;

  if (!ComputeApproximateFAndTz("ncc")) return false;
  if (p.f < 0.0) {
    std::cerr << "error - possible handedness problem with data\n";
    return false;
  }
  if (!OptimizeParams("tz f kappa1")) return false;
  return OptimizeFully("tx ty tz rx ry rz cx cy f sx kappa1");
}

bool CalibrateTsai::CoplanarCalibrationWithFullOptimization() {
  for (const auto& w : m_points3d) {
    if (w[2] != 0.0) {
      std::cerr << "error - coplanar calibration tried with data outside of Z plane\n\n";
      return false;
    }
  }
  std::vector<double> xd, yd;
  ComputeXdYd(xd, yd);
  const std::size_t n = m_points3d.size();

  // U = (r1, r2, Tx, r4, r5) / Ty from the radial alignment constraint.
  Eigen::MatrixXd M(n, 5);
  Eigen::VectorXd b(n), U;
  for (std::size_t i = 0; i < n; ++i) {
    const math::Vec3d& w = m_points3d[i];
    M.row(i) << yd[i] * w[0], yd[i] * w[1], yd[i], -xd[i] * w[0], -xd[i] * w[1];
    b(i) = xd[i];
  }
  if (!SolveSystem(M, b, U)) {
    std::cerr << "cc compute U: unable to solve system  Ma=b\n";
    return false;
  }

  // Ty² = (Sr − √(Sr² − 4·det²)) / (2·det²), written in the form that stays
  // finite when a row or column of [[U1 U2] [U4 U5]] vanishes (det → 0).
  const double sr = U(0) * U(0) + U(1) * U(1) + U(3) * U(3) + U(4) * U(4);
  const double det = U(0) * U(4) - U(3) * U(1);
  const double ty2 = 2.0 / (sr + std::sqrt(std::max(0.0, sr * sr - 4.0 * det * det)));
  const double absTy = std::sqrt(ty2);
  Params& p = m_params;
  const auto fromU = [&](double ty) {
    p.R.row(0) = Eigen::Vector3d(U(0) * ty, U(1) * ty, 0.0);
    p.R.row(1) = Eigen::Vector3d(U(3) * ty, U(4) * ty, 0.0);
    p.T(0) = U(2) * ty;
    p.T(1) = ty;
  };
  fromU(absTy);
  if (!TyIsPositive(xd, yd, p)) fromU(-absTy);

  // Complete the first two rows to unit length; r3·r6 = −(r1·r4 + r2·r5).
  Eigen::Matrix3d& R = p.R;
  R(0, 2) = std::sqrt(std::max(0.0, 1.0 - R(0, 0) * R(0, 0) - R(0, 1) * R(0, 1)));
  R(1, 2) = std::sqrt(std::max(0.0, 1.0 - R(1, 0) * R(1, 0) - R(1, 1) * R(1, 1)));
  if (R(0, 0) * R(1, 0) + R(0, 1) * R(1, 1) > 0.0) R(1, 2) = -R(1, 2);
  R.row(2) = R.row(0).cross(R.row(1));
  R = NearestRotation(R);

  if (!ComputeApproximateFAndTz("cc")) return false;
  if (p.f < 0.0) {
    // The other solution: the plane seen from its other side.
    R(0, 2) = -R(0, 2);
    R(1, 2) = -R(1, 2);
    R(2, 0) = -R(2, 0);
    R(2, 1) = -R(2, 1);
    if (!ComputeApproximateFAndTz("cc")) return false;
    if (p.f < 0.0) {
      std::cerr << "error - possible handedness problem with data\n";
      return false;
    }
  }
  if (m_suppressDistortion) {
    p.kappa1 = 0.0;
    if (!OptimizeParams("tz f")) return false;
    return OptimizeFully("tx ty tz rx ry rz cx cy f");
  }
  if (!OptimizeParams("tz f kappa1")) return false;
  return OptimizeFully("tx ty tz rx ry rz cx cy f kappa1");
}

bool CalibrateTsai::ComputeApproximateFAndTz(const char* context) {
  // Ignoring distortion: Yd·(r7·w + Tz) = f·(r4·w + Ty), and likewise for x
  // with Xd·sx-corrected; two equations per point in (f, Tz).
  std::vector<double> xd, yd;
  ComputeXdYd(xd, yd);
  const Params& p = m_params;
  const std::size_t n = m_points3d.size();
  Eigen::MatrixXd M(2 * n, 2);
  Eigen::VectorXd b(2 * n), x;
  for (std::size_t i = 0; i < n; ++i) {
    const Eigen::Vector3d w(m_points3d[i][0], m_points3d[i][1], m_points3d[i][2]);
    const double xc = p.R.row(0).dot(w) + p.T(0);
    const double yc = p.R.row(1).dot(w) + p.T(1);
    const double zc = p.R.row(2).dot(w);
    // xd was computed with the current sx, so it is already the sensor Xd.
    M.row(2 * i) << xc, -xd[i];
    b(2 * i) = zc * xd[i];
    M.row(2 * i + 1) << yc, -yd[i];
    b(2 * i + 1) = zc * yd[i];
  }
  if (!SolveSystem(M, b, x)) {
    std::cerr << context << " compute apx: unable to solve system  Ma=b\n";
    return false;
  }
  m_params.f = x(0);
  m_params.T(2) = x(1);
  return true;
}

bool CalibrateTsai::OptimizeParams(const char* activeParams) {
  Params& p = m_params;
  auto model = std::make_shared<CameraModelTsai>();
  model->SetFrame_wTc(ToFrame(p.R, p.T).GetInverse());
  model->SetIntrinsics(p.cx, p.cy, p.f, p.sx, p.kappa1);

  const Eigen::Index n = static_cast<Eigen::Index>(m_points3d.size());
  Eigen::MatrixXd S(3, n), R(2, n);
  for (Eigen::Index k = 0; k < n; ++k) {
    for (int r = 0; r < 3; ++r) S(r, k) = m_points3d[k][r];
    for (int r = 0; r < 2; ++r) R(r, k) = m_points2d[k][r];
  }
  auto func = std::make_shared<math::OptiErrorFunc>(std::move(S), std::move(R));
  func->AddTransform(std::make_shared<OptiTransformCameraModelIS>(model));
  auto set = std::make_shared<OptiParameterSetCameraModelTsai>(*model);
  set->SelectActiveParams(activeParams);
  math::OptiMizerLM optimizer;
  optimizer.AddParameterSet(set);
  optimizer.AddErrorFunc(func);
  if (!optimizer.Optimize()) return false;

  const math::Frame<double> cTw = model->GetFrame_cTw();
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) p.R(r, c) = cTw(r, c);
    p.T(r) = cTw(r, 3);
  }
  const CameraModelTsai::Intrinsics& i = model->GetIntrinsics();
  p.cx = i.cx, p.cy = i.cy, p.f = i.f, p.sx = i.sx, p.kappa1 = i.kappa1;
  const bool finite = p.R.allFinite() && p.T.allFinite() && std::isfinite(p.f) && std::isfinite(p.kappa1) &&
                      std::isfinite(p.cx) && std::isfinite(p.cy) && std::isfinite(p.sx);
  return finite && p.f > 0.0;
}

bool CalibrateTsai::OptimizeFully(const char* activeParams) {
  // The second run starts with the pose parameters re-based at 0, where
  // lmdif's relative difference steps give an accurate Jacobian again.
  return OptimizeParams(activeParams) && OptimizeParams(activeParams);
}

bool GetCalibrationError(const CameraModel& model, const std::vector<math::Vec3d>& points3d,
                         const std::vector<math::Vec2d>& points2d,
                         std::vector<std::pair<math::Vec2d, math::Vec2d>>& residuals, double& rms) {
  static constexpr const char* kContext = "cam::GetCalibrationError";
  if (points3d.size() != points2d.size()) {
    PrintError(kContext, "Number of 2d points (" + std::to_string(points2d.size()) +
                             ") does not fit number of 3d points (" + std::to_string(points3d.size()) + ")!");
    return false;
  }
  residuals.clear();
  double sum = 0.0;
  for (std::size_t i = 0; i < points3d.size(); ++i) {
    math::Vec2d projected;
    if (!WorldPointToPixel(projected, points3d[i], model)) {
      PrintError(kContext, "Could not project 3d point " + std::to_string(i) + ".");
      return false;
    }
    const math::Vec2d residual = projected - points2d[i];
    residuals.emplace_back(points2d[i], residual);
    sum += residual.LengthSquared();
  }
  rms = points3d.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(points3d.size()));
  return true;
}

}  // namespace cam
