#include "foundation/img/Ellipse.h"

#include <cmath>

namespace img {

math::Vec2d Ellipse::PointAt(double t) const {
  const double c = std::cos(theta), s = std::sin(theta);
  const double x = rx * std::cos(t), y = ry * std::sin(t);
  return {cx + c * x - s * y, cy + s * x + c * y};
}

math::Vec2d Ellipse::NormalAt(double t) const {
  // The gradient of the implicit form (x/rx)² + (y/ry)² in the ellipse's
  // own axes, turned into the image.
  const double c = std::cos(theta), s = std::sin(theta);
  const double gx = std::cos(t) / rx, gy = std::sin(t) / ry;
  math::Vec2d n{c * gx - s * gy, s * gx + c * gy};
  n.Normalize();
  return n;
}

math::Mat33d ToConic(const Ellipse& e) {
  // Q(p) = (d·a/rx)² + (d·b/ry)² − 1 with d = p − c, a and b the axes.
  const double c = std::cos(e.theta), s = std::sin(e.theta);
  const double ia = 1.0 / (e.rx * e.rx), ib = 1.0 / (e.ry * e.ry);
  const double a = c * c * ia + s * s * ib;
  const double b = c * s * (ia - ib);  // half the xy coefficient
  const double d = s * s * ia + c * c * ib;
  math::Mat33d m;
  m(0, 0) = a;
  m(0, 1) = m(1, 0) = b;
  m(1, 1) = d;
  m(0, 2) = m(2, 0) = -(a * e.cx + b * e.cy);
  m(1, 2) = m(2, 1) = -(b * e.cx + d * e.cy);
  m(2, 2) = a * e.cx * e.cx + 2.0 * b * e.cx * e.cy + d * e.cy * e.cy - 1.0;
  return m;
}

bool FromConic(const math::Mat33d& conic, Ellipse& e) {
  const double a = conic(0, 0), b = 0.5 * (conic(0, 1) + conic(1, 0)), d = conic(1, 1);
  const double g = 0.5 * (conic(0, 2) + conic(2, 0)), h = 0.5 * (conic(1, 2) + conic(2, 1));
  const double det2 = a * d - b * b;
  if (!(det2 > 0.0) || !std::isfinite(det2)) return false;
  // Centre: the gradient of the quadratic form vanishes.
  const double cx = (b * h - d * g) / det2;
  const double cy = (b * g - a * h) / det2;
  // Value at the centre; the form is (p − c)ᵀ·M·(p − c) + f0.
  const double f0 = conic(2, 2) + g * cx + h * cy;
  if (!(f0 * a < 0.0)) return false;  // empty or a single point
  // Eigen-decomposition of the 2×2 part M.
  const double mean = 0.5 * (a + d);
  const double diff = 0.5 * (a - d);
  const double root = std::sqrt(diff * diff + b * b);
  const double l1 = mean + root, l2 = mean - root;  // l1 ≥ l2, same sign as a
  // Eigenvector of l1: angle phi with tan(2·phi) = 2b / (a − d).
  const double phi = 0.5 * std::atan2(2.0 * b, a - d);
  const double r1 = std::sqrt(-f0 / l1), r2 = std::sqrt(-f0 / l2);
  if (!std::isfinite(r1) || !std::isfinite(r2) || !std::isfinite(cx) || !std::isfinite(cy))
    return false;
  e.cx = cx;
  e.cy = cy;
  e.rx = r1;  // along phi
  e.ry = r2;
  e.theta = phi;
  return true;
}

math::Mat33d PullBackConic(const math::Mat33d& conicB, const math::Mat33d& aToB) {
  return math::Transpose(aToB) * conicB * aToB;
}

bool ProjectedCircleCentre(const math::Mat33d& conic, const math::Vec<3, double>& vanishingLine,
                           math::Vec2d& centre) {
  math::Mat33d inverse;
  if (!math::Invert(conic, inverse)) return false;
  const math::Vec<3, double> pole = inverse * vanishingLine;
  if (pole[2] == 0.0 || !std::isfinite(pole[2])) return false;
  centre = {pole[0] / pole[2], pole[1] / pole[2]};
  return std::isfinite(centre[0]) && std::isfinite(centre[1]);
}

bool VanishingLine(const math::Mat33d& planeToImage, math::Vec<3, double>& line) {
  math::Mat33d inverse;
  if (!math::Invert(planeToImage, inverse)) return false;
  // H⁻ᵀ·(0, 0, 1) is the last row of H⁻¹.
  line = {inverse(2, 0), inverse(2, 1), inverse(2, 2)};
  return true;
}

}  // namespace img
