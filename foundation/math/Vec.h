#pragma once

#include <cmath>
#include <cstddef>
#include <ostream>
#include <type_traits>

namespace math {

// N components of scalar type T, stored in order; a plain value. A
// default-constructed vector is zero.
template <std::size_t N, typename T>
struct Vec {
  T v[N]{};

  constexpr Vec() = default;
  template <typename... Args>
    requires(sizeof...(Args) == N && N > 1 && (std::is_arithmetic_v<Args> && ...))
  constexpr Vec(Args... args) : v{static_cast<T>(args)...} {}  // NOLINT(google-explicit-constructor)
  // Conversion between scalar types of the same size.
  template <typename U>
    requires(!std::is_same_v<T, U>)
  constexpr explicit Vec(const Vec<N, U>& other) {
    for (std::size_t i = 0; i < N; ++i) v[i] = static_cast<T>(other.v[i]);
  }

  constexpr T& operator[](std::size_t i) { return v[i]; }
  constexpr const T& operator[](std::size_t i) const { return v[i]; }
  constexpr T* data() { return v; }
  constexpr const T* data() const { return v; }
  static constexpr std::size_t size() { return N; }

  constexpr Vec& operator+=(const Vec& o) {
    for (std::size_t i = 0; i < N; ++i) v[i] += o.v[i];
    return *this;
  }
  constexpr Vec& operator-=(const Vec& o) {
    for (std::size_t i = 0; i < N; ++i) v[i] -= o.v[i];
    return *this;
  }
  constexpr Vec& operator*=(T s) {
    for (std::size_t i = 0; i < N; ++i) v[i] *= s;
    return *this;
  }
  constexpr Vec& operator/=(T s) {
    for (std::size_t i = 0; i < N; ++i) v[i] /= s;
    return *this;
  }

  constexpr T LengthSquared() const {
    T sum = 0;
    for (std::size_t i = 0; i < N; ++i) sum += v[i] * v[i];
    return sum;
  }
  T Length() const { return static_cast<T>(std::sqrt(LengthSquared())); }
  // In place; a zero vector stays zero.
  void Normalize() {
    const T length = Length();
    if (length > T(0)) *this /= length;
  }
  Vec GetNormalized() const {
    Vec copy = *this;
    copy.Normalize();
    return copy;
  }

  friend constexpr bool operator==(const Vec&, const Vec&) = default;
};

template <std::size_t N, typename T>
constexpr Vec<N, T> operator+(Vec<N, T> a, const Vec<N, T>& b) {
  return a += b;
}
template <std::size_t N, typename T>
constexpr Vec<N, T> operator-(Vec<N, T> a, const Vec<N, T>& b) {
  return a -= b;
}
template <std::size_t N, typename T>
constexpr Vec<N, T> operator-(Vec<N, T> a) {
  for (std::size_t i = 0; i < N; ++i) a.v[i] = -a.v[i];
  return a;
}
template <std::size_t N, typename T>
constexpr Vec<N, T> operator*(Vec<N, T> a, T s) {
  return a *= s;
}
template <std::size_t N, typename T>
constexpr Vec<N, T> operator*(T s, Vec<N, T> a) {
  return a *= s;
}
template <std::size_t N, typename T>
constexpr Vec<N, T> operator/(Vec<N, T> a, T s) {
  return a /= s;
}
// Division by an integer count (means of point sets) for floating vectors.
template <std::size_t N, typename T>
  requires std::is_floating_point_v<T>
constexpr Vec<N, T> operator/(Vec<N, T> a, int s) {
  return a /= static_cast<T>(s);
}

template <std::size_t N, typename T>
constexpr T Dot(const Vec<N, T>& a, const Vec<N, T>& b) {
  T sum = 0;
  for (std::size_t i = 0; i < N; ++i) sum += a.v[i] * b.v[i];
  return sum;
}

// Cross product. For N = 4 the first three components are crossed and the
// fourth component of the result is 0 (directions in homogeneous form).
template <std::size_t N, typename T>
  requires(N == 3 || N == 4)
constexpr Vec<N, T> operator^(const Vec<N, T>& a, const Vec<N, T>& b) {
  Vec<N, T> c;
  c.v[0] = a.v[1] * b.v[2] - a.v[2] * b.v[1];
  c.v[1] = a.v[2] * b.v[0] - a.v[0] * b.v[2];
  c.v[2] = a.v[0] * b.v[1] - a.v[1] * b.v[0];
  return c;
}

template <std::size_t N, typename T>
std::ostream& operator<<(std::ostream& out, const Vec<N, T>& a) {
  out << '(';
  for (std::size_t i = 0; i < N; ++i) out << (i ? ", " : "") << a.v[i];
  return out << ')';
}

// Strict weak order by the first component, then the second: the key order
// of maps from grid indices to data.
template <std::size_t N, typename T>
struct LexicalLess {
  constexpr bool operator()(const Vec<N, T>& a, const Vec<N, T>& b) const {
    for (std::size_t i = 0; i < N; ++i) {
      if (a.v[i] < b.v[i]) return true;
      if (b.v[i] < a.v[i]) return false;
    }
    return false;
  }
};

using Vec2i = Vec<2, int>;
using Vec2f = Vec<2, float>;
using Vec2d = Vec<2, double>;
using Vec3f = Vec<3, float>;
using Vec3d = Vec<3, double>;
using Vec4f = Vec<4, float>;
using Vec4d = Vec<4, double>;
using Vec6d = Vec<6, double>;

}  // namespace math
