#pragma once

#include <algorithm>
#include <cmath>
#include <iostream>
#include <stdexcept>

#include "foundation/math/Vec.h"

namespace math {

// A 4×4 homogeneous rigid transform stored column by column: column 0 `n`
// (the frame's x axis in the parent system), 1 `o` (y axis), 2 `a` (z axis,
// the viewing direction of a camera), 3 `p` (origin). Element k is row k % 4,
// column k / 4; the bottom row is always (0, 0, 0, 1).
//
// A frame named a_T_b (aTb) maps coordinates of system b into system a:
// p_a = R·p_b + t. A default-constructed frame is the identity.
template <typename T>
class Frame {
 public:
  constexpr Frame() {
    for (int i = 0; i < 16; ++i) m[i] = (i % 5 == 0) ? T(1) : T(0);
  }
  template <typename U>
    requires(!std::is_same_v<T, U>)
  explicit Frame(const Frame<U>& other) {
    for (int i = 0; i < 16; ++i) m[i] = static_cast<T>(other.m[i]);
  }

  T& operator()(int row, int col) { return m[col * 4 + row]; }
  const T& operator()(int row, int col) const { return m[col * 4 + row]; }
  T* data() { return m; }
  const T* data() const { return m; }

  Vec<4, T> Column(int col) const { return {m[col * 4], m[col * 4 + 1], m[col * 4 + 2], m[col * 4 + 3]}; }
  void SetColumn(int col, const Vec<4, T>& c) {
    for (int r = 0; r < 4; ++r) m[col * 4 + r] = c[r];
  }
  Vec<4, T> n() const { return Column(0); }
  Vec<4, T> o() const { return Column(1); }
  Vec<4, T> a() const { return Column(2); }
  Vec<4, T> p() const { return Column(3); }
  void SetN(const Vec<4, T>& c) { SetColumn(0, c); }
  void SetO(const Vec<4, T>& c) { SetColumn(1, c); }
  void SetA(const Vec<4, T>& c) { SetColumn(2, c); }
  void SetP(const Vec<4, T>& c) { SetColumn(3, c); }
  Vec<3, T> GetTrans() const { return {m[12], m[13], m[14]}; }
  void SetTrans(const Vec<3, T>& t) {
    m[12] = t[0];
    m[13] = t[1];
    m[14] = t[2];
  }
  void SetTrans(T x, T y, T z) { SetTrans(Vec<3, T>(x, y, z)); }

  // Composition: (A·B) maps with B first, then A.
  Frame operator*(const Frame& b) const {
    Frame c;
    for (int col = 0; col < 4; ++col) {
      for (int row = 0; row < 4; ++row) {
        T sum = 0;
        for (int k = 0; k < 4; ++k) sum += (*this)(row, k) * b(k, col);
        c(row, col) = sum;
      }
    }
    return c;
  }
  Frame& operator*=(const Frame& b) { return *this = *this * b; }

  // R·p + t for a 3D point.
  template <typename U>
  Vec<3, U> MultP(const Vec<3, U>& q) const {
    Vec<3, U> r;
    for (int row = 0; row < 3; ++row) {
      r[row] = static_cast<U>(m[row] * q[0] + m[4 + row] * q[1] + m[8 + row] * q[2] + m[12 + row]);
    }
    return r;
  }
  template <typename U>
  Vec<3, U> operator*(const Vec<3, U>& q) const {
    return MultP(q);
  }
  // R·d for a direction (no translation).
  template <typename U>
  Vec<3, U> MultV(const Vec<3, U>& d) const {
    Vec<3, U> r;
    for (int row = 0; row < 3; ++row) {
      r[row] = static_cast<U>(m[row] * d[0] + m[4 + row] * d[1] + m[8 + row] * d[2]);
    }
    return r;
  }
  // The full 4×4 product with a homogeneous vector.
  Vec<4, T> operator*(const Vec<4, T>& q) const {
    Vec<4, T> r;
    for (int row = 0; row < 4; ++row) {
      r[row] = m[row] * q[0] + m[4 + row] * q[1] + m[8 + row] * q[2] + m[12 + row] * q[3];
    }
    return r;
  }

  // Replaces the frame by its inverse: rotation transposed, translation −Rᵀ·t.
  Frame& Inv() {
    *this = GetInverse();
    return *this;
  }
  Frame GetInverse() const {
    Frame r;
    for (int row = 0; row < 3; ++row) {
      for (int col = 0; col < 3; ++col) r(row, col) = (*this)(col, row);
    }
    for (int row = 0; row < 3; ++row) {
      r(row, 3) = -(r(row, 0) * m[12] + r(row, 1) * m[13] + r(row, 2) * m[14]);
    }
    return r;
  }

  // Rotation part about the x, y or z axis by angle (radians); translation kept.
  void SetRotX(T angle) { SetRotation(Elementary(0, angle)); }
  void SetRotY(T angle) { SetRotation(Elementary(1, angle)); }
  void SetRotZ(T angle) { SetRotation(Elementary(2, angle)); }

  // True when the rotation part is orthonormal within tolerance.
  bool IsOrthoNorm(T tolerance) const {
    for (int i = 0; i < 3; ++i) {
      for (int j = i; j < 3; ++j) {
        T dot = 0;
        for (int r = 0; r < 3; ++r) dot += (*this)(r, i) * (*this)(r, j);
        if (std::abs(dot - (i == j ? T(1) : T(0))) > tolerance) return false;
      }
    }
    return true;
  }

  // Repairs the rotation part. The a axis keeps its direction exactly and o
  // keeps its plane with a; nothing changes when already orthonormal (1e-9).
  void OrthoNormalize() {
    if (IsOrthoNorm(T(1e-9))) return;
    Vec<4, T> oo = o().GetNormalized();
    Vec<4, T> aa = a().GetNormalized();
    oo[3] = aa[3] = T(0);
    Vec<4, T> nn = (oo ^ aa).GetNormalized();
    oo = aa ^ nn;
    SetN(nn);
    SetO(oo);
    SetA(aa);
  }

  // The rotation part as a unit axis and an angle in [0, π] radians; the
  // identity gives angle 0 and a zero axis.
  void GetRotVector(Vec<4, T>& axis, T& angle) const;

  const T* begin() const { return m; }
  const T* end() const { return m + 16; }

  friend bool operator==(const Frame&, const Frame&) = default;

  T m[16];

 private:
  static Frame Elementary(int axis, T angle) {
    Frame r;
    const T c = std::cos(angle), s = std::sin(angle);
    const int i = (axis + 1) % 3, j = (axis + 2) % 3;
    r(i, i) = c;
    r(j, i) = s;
    r(i, j) = -s;
    r(j, j) = c;
    return r;
  }
  void SetRotation(const Frame& r) {
    for (int col = 0; col < 3; ++col) {
      for (int row = 0; row < 3; ++row) (*this)(row, col) = r(row, col);
    }
  }

  template <typename U>
  friend Frame<U> FRotX(U);
  template <typename U>
  friend Frame<U> FRotY(U);
  template <typename U>
  friend Frame<U> FRotZ(U);
};

template <typename T>
void Frame<T>::GetRotVector(Vec<4, T>& axis, T& angle) const {
  Frame r = *this;
  r.OrthoNormalize();
  const T t = r(0, 0) + r(1, 1) + r(2, 2);
  const T candidates[4] = {1 + t, 1 + r(0, 0) - r(1, 1) - r(2, 2), 1 - r(0, 0) + r(1, 1) - r(2, 2),
                           1 - r(0, 0) - r(1, 1) + r(2, 2)};
  int best = -1;
  T bestValue = -1;
  for (int k = 0; k < 4; ++k) {
    if (candidates[k] > bestValue) {
      best = k;
      bestValue = candidates[k];
    }
  }
  T w = 1, x = 0, y = 0, z = 0;
  if (best < 0) {
    std::cerr << "Frame::GetRotVector() internal error\n";
  } else {
    const T s = std::sqrt(bestValue) / 2;  // the largest quaternion component
    const T d = 4 * s;
    switch (best) {
      case 0:
        w = s, x = (r(2, 1) - r(1, 2)) / d, y = (r(0, 2) - r(2, 0)) / d, z = (r(1, 0) - r(0, 1)) / d;
        break;
      case 1:
        x = s, w = (r(2, 1) - r(1, 2)) / d, y = (r(0, 1) + r(1, 0)) / d, z = (r(0, 2) + r(2, 0)) / d;
        break;
      case 2:
        y = s, w = (r(0, 2) - r(2, 0)) / d, x = (r(0, 1) + r(1, 0)) / d, z = (r(1, 2) + r(2, 1)) / d;
        break;
      default:
        z = s, w = (r(1, 0) - r(0, 1)) / d, x = (r(0, 2) + r(2, 0)) / d, y = (r(1, 2) + r(2, 1)) / d;
        break;
    }
    if (w < 0) w = -w, x = -x, y = -y, z = -z;  // same rotation, angle in [0, π]
  }
  w = std::clamp(w, T(-1), T(1));
  angle = 2 * std::acos(w);
  axis = Vec<4, T>();
  if (std::abs(angle) <= T(1e-9) || (x == 0 && y == 0 && z == 0)) {
    angle = 0;
    return;
  }
  const T s = std::sin(std::acos(w));
  axis = Vec<4, T>(x / s, y / s, z / s, T(0));
}

// Pure translation.
template <typename T>
Frame<T> FTrans(T x, T y, T z) {
  Frame<T> f;
  f.SetTrans(x, y, z);
  return f;
}
template <typename T>
Frame<T> FTrans(const Vec<3, T>& t) {
  return FTrans(t[0], t[1], t[2]);
}

// Elementary rotations (angles in radians).
template <typename T>
Frame<T> FRotX(T angle) {
  return Frame<T>::Elementary(0, angle);
}
template <typename T>
Frame<T> FRotY(T angle) {
  return Frame<T>::Elementary(1, angle);
}
template <typename T>
Frame<T> FRotZ(T angle) {
  return Frame<T>::Elementary(2, angle);
}

// Rotation by angle (radians) about an axis through the origin, by Rodrigues'
// formula; the axis is normalised here, a zero axis throws
// std::invalid_argument.
template <typename T>
Frame<T> FRotAxis(const Vec<3, T>& axis, T angle) {
  const T length = axis.Length();
  if (!(length > T(0))) throw std::invalid_argument("math::FRotAxis - The axis is zero.");
  const Vec<3, T> a = axis / length;
  const T c = std::cos(angle), s = std::sin(angle), t = T(1) - c;
  Frame<T> r;
  r(0, 0) = t * a[0] * a[0] + c;
  r(0, 1) = t * a[0] * a[1] - s * a[2];
  r(0, 2) = t * a[0] * a[2] + s * a[1];
  r(1, 0) = t * a[0] * a[1] + s * a[2];
  r(1, 1) = t * a[1] * a[1] + c;
  r(1, 2) = t * a[1] * a[2] - s * a[0];
  r(2, 0) = t * a[0] * a[2] - s * a[1];
  r(2, 1) = t * a[1] * a[2] + s * a[0];
  r(2, 2) = t * a[2] * a[2] + c;
  return r;
}

template <typename T>
std::ostream& operator<<(std::ostream& out, const Frame<T>& f) {
  for (int row = 0; row < 4; ++row) {
    for (int col = 0; col < 4; ++col) out << (col ? " " : "") << f(row, col);
    out << '\n';
  }
  return out;
}

using Frame4d = Frame<double>;
using Frame4f = Frame<float>;

}  // namespace math
