#include "cam/CameraModelTsai.h"

#include <cmath>
#include <iostream>

#include "cam/SimpleXML.h"

namespace cam {

void CameraModelTsai::DistortSensorPoint(double kappa1, double xu, double yu, double& xd, double& yd) {
  if (kappa1 == 0.0 || (xu == 0.0 && yu == 0.0)) {
    xd = xu;
    yd = yu;
    return;
  }
  // Cardano for Rd³ + c·Rd − c·Ru = 0 with c = 1/kappa1.
  const double ru = std::hypot(xu, yu);
  const double c = 1.0 / kappa1;
  const double q = c / 3.0;
  const double r = c * ru / 2.0;
  const double d = q * q * q + r * r;
  double rd = 0.0;
  if (d >= 0.0) {
    const double sqrtD = std::sqrt(d);
    rd = std::cbrt(r + sqrtD) + std::cbrt(r - sqrtD);
    if (rd < 0.0) rd = std::sqrt(std::abs(-1.0 / (3.0 * kappa1)));
  } else {
    const double sqrtMinusD = std::sqrt(-d);
    const double rho = std::cbrt(std::hypot(r, sqrtMinusD));
    const double theta = std::atan2(sqrtMinusD, r) / 3.0;
    rd = 1.7320508075688772 * rho * std::sin(theta) - rho * std::cos(theta);
  }
  xd = xu * rd / ru;
  yd = yu * rd / ru;
}

bool CameraModelTsai::CameraPointToPixel(math::Vec2d& pixel, const math::Vec3d& p) const {
  const Intrinsics& i = m_intrinsics;
  if (p[2] == 0.0 || !IsValid()) return false;
  double xd = 0.0, yd = 0.0;
  DistortSensorPoint(i.kappa1, i.f * p[0] / p[2], i.f * p[1] / p[2], xd, yd);
  pixel = math::Vec2d(i.sx * xd + i.cx, yd + i.cy);
  return std::isfinite(pixel[0]) && std::isfinite(pixel[1]);
}

bool CameraModelTsai::PixelToCameraRay(math::Vec3d& ray, const math::Vec2d& pixel) const {
  const Intrinsics& i = m_intrinsics;
  if (!IsValid() || i.sx == 0.0) return false;
  const double xd = (pixel[0] - i.cx) / i.sx;
  const double yd = pixel[1] - i.cy;
  const double s = 1.0 + i.kappa1 * (xd * xd + yd * yd);
  ray = math::Vec3d(s * xd, s * yd, i.f);
  return true;
}

bool CameraModelTsai::DistortPixel(math::Vec2d& out, const math::Vec2d& in) const {
  const Intrinsics& i = m_intrinsics;
  if (!IsValid() || i.sx == 0.0) return false;
  double xd = 0.0, yd = 0.0;
  DistortSensorPoint(i.kappa1, (in[0] - i.cx) / i.sx, in[1] - i.cy, xd, yd);
  out = math::Vec2d(i.sx * xd + i.cx, yd + i.cy);
  return true;
}

bool CameraModelTsai::UndistortPixel(math::Vec2d& out, const math::Vec2d& in) const {
  const Intrinsics& i = m_intrinsics;
  if (!IsValid() || i.sx == 0.0) return false;
  const double xd = (in[0] - i.cx) / i.sx;
  const double yd = in[1] - i.cy;
  const double s = 1.0 + i.kappa1 * (xd * xd + yd * yd);
  out = math::Vec2d(s * xd * i.sx + i.cx, s * yd + i.cy);
  return true;
}

void CameraModelTsai::SetIntrinsics(double cx, double cy, double f, double sx, double kappa1) {
  m_intrinsics = Intrinsics{cx, cy, f, sx, kappa1};
}

void CameraModelTsai::ScaleToResolution(std::uint32_t newResX, std::uint32_t newResY) {
  if (newResX == 0 || newResY == 0 || m_resX == 0 || m_resY == 0) return;
  if (newResX == m_resX && newResY == m_resY) return;
  const double rx = double(newResX) / double(m_resX);
  const double ry = double(newResY) / double(m_resY);
  Intrinsics& i = m_intrinsics;
  i.cx *= rx;
  i.cy *= ry;
  i.f *= ry;
  i.sx *= rx / ry;
  i.kappa1 /= ry * ry;
  SetResolution(newResX, newResY);
}

bool CameraModelTsai::ReadFromXML(const std::string& text) {
  if (!CameraModel::ReadFromXML(text)) {
    std::cerr << "Error: cam::CameraModelTsai::ReadFromXML - Could not read parameters of base class.\n";
    return false;
  }
  SimpleXML reader(text);
  std::uint32_t resX = m_resX, resY = m_resY;
  reader.Read("resX", resX);
  reader.Read("resY", resY);
  SetResolution(resX, resY);
  Intrinsics& i = m_intrinsics;
  reader.Read("cx", i.cx);
  reader.Read("cy", i.cy);
  reader.Read("f", i.f);
  reader.Read("sx", i.sx);
  reader.Read("kappa1", i.kappa1);
  if (reader.HasErrors()) {
    std::cerr << "Error: cam::CameraModelTsai::Intrinsics::ReadFromXML - " << reader.GetErrorSummary() << '\n';
    return false;
  }
  return true;
}

bool CameraModelTsai::WriteToXML(std::string& text) const {
  SimpleXML::Write(text, "camera_model", std::string("CameraModelTsai"));
  const Intrinsics& i = m_intrinsics;
  SimpleXML::Write(text, "cx", i.cx);
  SimpleXML::Write(text, "cy", i.cy);
  SimpleXML::Write(text, "f", i.f);
  SimpleXML::Write(text, "sx", i.sx);
  SimpleXML::Write(text, "kappa1", i.kappa1);
  return CameraModel::WriteToXML(text);
}

}  // namespace cam
