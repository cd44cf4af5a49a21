#pragma once

#include <cstddef>

#include "foundation/math/Frame.h"
#include "foundation/math/Vec.h"

namespace math {

// A small dense matrix of R rows and C columns, row-major; zero by default.
// Mat<3,4,double> holds projection matrices.
template <std::size_t R, std::size_t C, typename T>
struct Mat {
  T e[R][C]{};

  T& operator()(std::size_t r, std::size_t c) { return e[r][c]; }
  const T& operator()(std::size_t r, std::size_t c) const { return e[r][c]; }

  Mat operator+(const Mat& b) const {
    Mat s;
    for (std::size_t r = 0; r < R; ++r) {
      for (std::size_t c = 0; c < C; ++c) s.e[r][c] = e[r][c] + b.e[r][c];
    }
    return s;
  }
  Mat operator*(T s) const {
    Mat m = *this;
    for (auto& row : m.e) {
      for (T& x : row) x *= s;
    }
    return m;
  }
  template <std::size_t K>
  Mat<R, K, T> operator*(const Mat<C, K, T>& b) const {
    Mat<R, K, T> p;
    for (std::size_t r = 0; r < R; ++r) {
      for (std::size_t k = 0; k < K; ++k) {
        T sum = 0;
        for (std::size_t c = 0; c < C; ++c) sum += e[r][c] * b.e[c][k];
        p.e[r][k] = sum;
      }
    }
    return p;
  }
  Vec<R, T> operator*(const Vec<C, T>& x) const {
    Vec<R, T> y;
    for (std::size_t r = 0; r < R; ++r) {
      for (std::size_t c = 0; c < C; ++c) y[r] += e[r][c] * x[c];
    }
    return y;
  }
  // A 3×4 (or any ×4) matrix times a rigid transform.
  Mat operator*(const Frame<T>& f) const
    requires(C == 4)
  {
    Mat p;
    for (std::size_t r = 0; r < R; ++r) {
      for (int k = 0; k < 4; ++k) {
        T sum = 0;
        for (int c = 0; c < 4; ++c) sum += e[r][c] * f(c, k);
        p.e[r][k] = sum;
      }
    }
    return p;
  }

  friend bool operator==(const Mat&, const Mat&) = default;
};

using Mat34d = Mat<3, 4, double>;

}  // namespace math
