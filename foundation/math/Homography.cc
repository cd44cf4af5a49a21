#include "foundation/math/Homography.h"

#include <Eigen/Dense>
#include <cmath>

namespace math {
namespace {

bool IsFinite(const Mat33d& m) {
  for (const auto& row : m.e) {
    for (double x : row) {
      if (!std::isfinite(x)) return false;
    }
  }
  return true;
}

// Translation and scale that move the points to their centroid with a mean
// distance of √2.
bool NormalisingTransform(std::span<const Vec2d> points, Mat33d& t) {
  Vec2d centre;
  for (const Vec2d& p : points) centre += p;
  centre /= double(points.size());
  double mean = 0.0;
  for (const Vec2d& p : points) mean += (p - centre).Length();
  mean /= double(points.size());
  if (!(mean > 0.0) || !std::isfinite(mean)) return false;
  const double s = std::sqrt(2.0) / mean;
  t = Mat33d{};
  t(0, 0) = s;
  t(1, 1) = s;
  t(0, 2) = -s * centre[0];
  t(1, 2) = -s * centre[1];
  t(2, 2) = 1.0;
  return true;
}

double FrobeniusNorm(const Mat33d& m) {
  double sum = 0.0;
  for (const auto& row : m.e) {
    for (double x : row) sum += x * x;
  }
  return std::sqrt(sum);
}

// Collinear triples make the map singular even when its system solves.
bool IsRegular(const Mat33d& m) {
  const double f = FrobeniusNorm(m);
  return std::abs(Determinant(m)) > 1e-12 * f * f * f;
}

// h(2, 2) = 1 where it is not (near) zero, else unit norm.
void Normalise(Mat33d& h) {
  const double f = FrobeniusNorm(h);
  const double scale = std::abs(h(2, 2)) > 1e-9 * f ? h(2, 2) : f;
  if (scale != 0.0) h = h * (1.0 / scale);
}

}  // namespace

Mat33d Identity33() {
  Mat33d m;
  m(0, 0) = m(1, 1) = m(2, 2) = 1.0;
  return m;
}

double Determinant(const Mat33d& m) {
  return m(0, 0) * (m(1, 1) * m(2, 2) - m(1, 2) * m(2, 1)) -
         m(0, 1) * (m(1, 0) * m(2, 2) - m(1, 2) * m(2, 0)) +
         m(0, 2) * (m(1, 0) * m(2, 1) - m(1, 1) * m(2, 0));
}

bool Invert(const Mat33d& m, Mat33d& inverse) {
  const double det = Determinant(m);
  if (det == 0.0 || !std::isfinite(det)) return false;
  Mat33d r;
  r(0, 0) = (m(1, 1) * m(2, 2) - m(1, 2) * m(2, 1)) / det;
  r(0, 1) = (m(0, 2) * m(2, 1) - m(0, 1) * m(2, 2)) / det;
  r(0, 2) = (m(0, 1) * m(1, 2) - m(0, 2) * m(1, 1)) / det;
  r(1, 0) = (m(1, 2) * m(2, 0) - m(1, 0) * m(2, 2)) / det;
  r(1, 1) = (m(0, 0) * m(2, 2) - m(0, 2) * m(2, 0)) / det;
  r(1, 2) = (m(0, 2) * m(1, 0) - m(0, 0) * m(1, 2)) / det;
  r(2, 0) = (m(1, 0) * m(2, 1) - m(1, 1) * m(2, 0)) / det;
  r(2, 1) = (m(0, 1) * m(2, 0) - m(0, 0) * m(2, 1)) / det;
  r(2, 2) = (m(0, 0) * m(1, 1) - m(0, 1) * m(1, 0)) / det;
  if (!IsFinite(r)) return false;
  inverse = r;
  return true;
}

Mat33d Transpose(const Mat33d& m) {
  Mat33d t;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) t(r, c) = m(c, r);
  }
  return t;
}

bool ApplyHomography(const Mat33d& h, const Vec2d& p, Vec2d& q) {
  const double w = h(2, 0) * p[0] + h(2, 1) * p[1] + h(2, 2);
  if (w == 0.0 || !std::isfinite(w)) return false;
  q = {(h(0, 0) * p[0] + h(0, 1) * p[1] + h(0, 2)) / w,
       (h(1, 0) * p[0] + h(1, 1) * p[1] + h(1, 2)) / w};
  return std::isfinite(q[0]) && std::isfinite(q[1]);
}

bool HomographyFromFourPoints(const Vec2d from[4], const Vec2d to[4], Mat33d& h) {
  // Rows of A·x = b with x = (h00 h01 h02 h10 h11 h12 h20 h21), h22 = 1;
  // solved in normalised coordinates for conditioning.
  Mat33d tf, tt;
  if (!NormalisingTransform({from, 4}, tf) || !NormalisingTransform({to, 4}, tt)) return false;
  Eigen::Matrix<double, 8, 8> a;
  Eigen::Matrix<double, 8, 1> b;
  for (int i = 0; i < 4; ++i) {
    const Vec2d p = {tf(0, 0) * from[i][0] + tf(0, 2), tf(1, 1) * from[i][1] + tf(1, 2)};
    const Vec2d q = {tt(0, 0) * to[i][0] + tt(0, 2), tt(1, 1) * to[i][1] + tt(1, 2)};
    a.row(2 * i) << p[0], p[1], 1, 0, 0, 0, -q[0] * p[0], -q[0] * p[1];
    a.row(2 * i + 1) << 0, 0, 0, p[0], p[1], 1, -q[1] * p[0], -q[1] * p[1];
    b(2 * i) = q[0];
    b(2 * i + 1) = q[1];
  }
  const Eigen::FullPivLU<Eigen::Matrix<double, 8, 8>> lu(a);
  if (lu.rank() < 8) return false;
  const Eigen::Matrix<double, 8, 1> x = lu.solve(b);
  Mat33d hn;
  for (int k = 0; k < 8; ++k) hn(k / 3, k % 3) = x(k);
  hn(2, 2) = 1.0;
  Mat33d ttInverse;
  if (!Invert(tt, ttInverse)) return false;
  Mat33d result = ttInverse * hn * tf;
  if (!IsFinite(result) || !IsRegular(result)) return false;
  Normalise(result);
  for (int i = 0; i < 4; ++i) {
    Vec2d q;
    if (!ApplyHomography(result, from[i], q)) return false;
  }
  h = result;
  return true;
}

bool FitHomography(std::span<const Vec2d> from, std::span<const Vec2d> to, Mat33d& h) {
  if (from.size() != to.size() || from.size() < 4) return false;
  if (from.size() == 4) return HomographyFromFourPoints(from.data(), to.data(), h);
  Mat33d tf, tt;
  if (!NormalisingTransform(from, tf) || !NormalisingTransform(to, tt)) return false;
  const auto n = Eigen::Index(from.size());
  Eigen::MatrixXd a(2 * n, 9);
  for (Eigen::Index i = 0; i < n; ++i) {
    const Vec2d& pf = from[std::size_t(i)];
    const Vec2d& pt = to[std::size_t(i)];
    const double x = tf(0, 0) * pf[0] + tf(0, 2), y = tf(1, 1) * pf[1] + tf(1, 2);
    const double u = tt(0, 0) * pt[0] + tt(0, 2), v = tt(1, 1) * pt[1] + tt(1, 2);
    a.row(2 * i) << x, y, 1, 0, 0, 0, -u * x, -u * y, -u;
    a.row(2 * i + 1) << 0, 0, 0, x, y, 1, -v * x, -v * y, -v;
  }
  // The right singular vector of the smallest singular value, through the
  // 9×9 normal matrix (its eigenvectors are those singular vectors).
  const Eigen::Matrix<double, 9, 9> ata = a.transpose() * a;
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix<double, 9, 9>> eigen(ata);
  if (eigen.info() != Eigen::Success) return false;
  const Eigen::Matrix<double, 9, 1> x = eigen.eigenvectors().col(0);
  // A second (near) zero eigenvalue: the points do not fix the map.
  if (!(eigen.eigenvalues()(1) > 1e-10 * eigen.eigenvalues()(8))) return false;
  Mat33d hn;
  for (int k = 0; k < 9; ++k) hn(k / 3, k % 3) = x(k);
  Mat33d ttInverse;
  if (!Invert(tt, ttInverse)) return false;
  Mat33d result = ttInverse * hn * tf;
  if (!IsFinite(result) || !IsRegular(result)) return false;
  Normalise(result);
  h = result;
  return true;
}

}  // namespace math
