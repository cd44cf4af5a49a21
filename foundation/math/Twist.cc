#include "foundation/math/Twist.h"

#include <cmath>
#include <numbers>

namespace math {
namespace {

struct Mat3 {
  double e[3][3]{};
};

Mat3 RotationOf(const Frame<double>& f) {
  Mat3 r;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) r.e[i][j] = f(i, j);
  }
  return r;
}

// Solves A·x = b by Cramer's rule (A is well conditioned for |w| < 2π).
Vec3d Solve(const Mat3& a, const Vec3d& b) {
  auto det3 = [](const Mat3& m) {
    return m.e[0][0] * (m.e[1][1] * m.e[2][2] - m.e[1][2] * m.e[2][1]) -
           m.e[0][1] * (m.e[1][0] * m.e[2][2] - m.e[1][2] * m.e[2][0]) +
           m.e[0][2] * (m.e[1][0] * m.e[2][1] - m.e[1][1] * m.e[2][0]);
  };
  const double det = det3(a);
  Vec3d x;
  for (int k = 0; k < 3; ++k) {
    Mat3 ak = a;
    for (int i = 0; i < 3; ++i) ak.e[i][k] = b[i];
    x[k] = det3(ak) / det;
  }
  return x;
}

// Rotation vector of an angle close to π, from the symmetric part of R:
// (R + Rᵀ)/2 − cos φ·I = (1 − cos φ)·ŵŵᵀ.
Vec3d RotationNearPi(const Mat3& r, double phi) {
  const double c = std::cos(phi);
  int k = 0;
  for (int i = 1; i < 3; ++i) {
    if (r.e[i][i] > r.e[k][k]) k = i;
  }
  Vec3d axis;
  axis[k] = std::sqrt(std::max(0.0, (r.e[k][k] - c) / (1 - c)));
  for (int i = 0; i < 3; ++i) {
    if (i != k) axis[i] = (r.e[i][k] + r.e[k][i]) / (2 * (1 - c) * axis[k]);
  }
  // The antisymmetric part fixes the sign where sin φ is not negligible.
  const Vec3d anti(r.e[2][1] - r.e[1][2], r.e[0][2] - r.e[2][0], r.e[1][0] - r.e[0][1]);
  if (Dot(anti, axis) < 0) axis = -axis;
  return axis.GetNormalized() * phi;
}

}  // namespace

Frame<double> Twist::Exp() const {
  Frame<double> f;
  const double theta = m_w.Length();
  if (theta == 0.0) {
    f.SetTrans(m_v);
    return f;
  }
  const Vec3d w = m_w / theta;
  const Vec3d v = m_v / theta;
  const double c = std::cos(theta), s = std::sin(theta);
  const double skew[3][3] = {{0, -w[2], w[1]}, {w[2], 0, -w[0]}, {-w[1], w[0], 0}};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      f(i, j) = (i == j ? c : 0.0) + (1 - c) * w[i] * w[j] + s * skew[i][j];
    }
  }
  const Vec3d wxv = w ^ v;
  const Vec3d rwxv = f.MultV(wxv);
  const double wv = Dot(w, v);
  f.SetTrans(wxv - rwxv + w * (wv * theta));
  return f;
}

Twist Twist::Log(const Frame<double>& frame) {
  const Mat3 r = RotationOf(frame);
  const double trace = r.e[0][0] + r.e[1][1] + r.e[2][2];
  const Vec3d anti(r.e[2][1] - r.e[1][2], r.e[0][2] - r.e[2][0], r.e[1][0] - r.e[0][1]);
  Vec3d w;
  if (trace < 3.0 || anti.LengthSquared() > 0.0) {
    // atan2 keeps full precision for small angles where acos would not.
    const double sinPhi = anti.Length() / 2;
    const double cosPhi = std::clamp((trace - 1) / 2, -1.0, 1.0);
    const double phi = std::atan2(sinPhi, cosPhi);
    if (phi > std::numbers::pi - 1e-4) {
      w = RotationNearPi(r, phi);
    } else if (sinPhi > 0) {
      w = anti * (phi / (2 * sinPhi));
    }
  }
  const Vec3d t = frame.GetTrans();
  const double theta = w.Length();
  if (theta == 0.0) return Twist(t, w);

  // t = A·v with A = ((I − R)[ŵ]× + θ·ŵŵᵀ) / θ, from the translation of Exp.
  const Vec3d u = w / theta;
  const double skew[3][3] = {{0, -u[2], u[1]}, {u[2], 0, -u[0]}, {-u[1], u[0], 0}};
  Mat3 a;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      double sum = 0;
      for (int k = 0; k < 3; ++k) sum += ((i == k ? 1.0 : 0.0) - r.e[i][k]) * skew[k][j];
      a.e[i][j] = (sum + theta * u[i] * u[j]) / theta;
    }
  }
  return Twist(Solve(a, t), w);
}

}  // namespace math
