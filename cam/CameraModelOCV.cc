#include "cam/CameraModelOCV.h"

#include <cmath>
#include <iostream>

#include "cam/SimpleXML.h"

namespace cam {

math::Vec2d CameraModelOCV::UndistortNormalized(const CameraModelOCVIntrinsics& c, double x0, double y0) {
  if (!c.HasDistortion()) return {x0, y0};
  double x = x0, y = y0;
  for (int it = 0; it < 20; ++it) {
    const double r2 = x * x + y * y;
    const double radial = 1.0 + c.k1 * r2 + c.k2 * r2 * r2 + c.k3 * r2 * r2 * r2;
    const double dx = 2.0 * c.p1 * x * y + c.p2 * (r2 + 2.0 * x * x);
    const double dy = c.p1 * (r2 + 2.0 * y * y) + 2.0 * c.p2 * x * y;
    x = (x0 - dx) / radial;
    y = (y0 - dy) / radial;
  }
  return {x, y};
}

bool CameraModelOCV::CameraPointToPixel(math::Vec2d& pixel, const math::Vec3d& p) const {
  const CameraModelOCVIntrinsics& c = m_intrinsics;
  if (p[2] == 0.0 || !IsValid()) return false;
  const double x = p[0] / p[2], y = p[1] / p[2];
  const double r2 = x * x + y * y;
  const double radial = 1.0 + c.k1 * r2 + c.k2 * r2 * r2 + c.k3 * r2 * r2 * r2;
  const double xd = x * radial + 2.0 * c.p1 * x * y + c.p2 * (r2 + 2.0 * x * x);
  const double yd = y * radial + c.p1 * (r2 + 2.0 * y * y) + 2.0 * c.p2 * x * y;
  pixel = math::Vec2d(c.f * c.sx * xd + c.cx, c.f * yd + c.cy);
  return std::isfinite(pixel[0]) && std::isfinite(pixel[1]);
}

bool CameraModelOCV::PixelToCameraRay(math::Vec3d& ray, const math::Vec2d& pixel) const {
  const CameraModelOCVIntrinsics& c = m_intrinsics;
  if (!IsValid() || c.sx == 0.0) return false;
  if (m_map) {
    const double mx = pixel[0] * kMapSize / m_resX;
    const double my = pixel[1] * kMapSize / m_resY;
    // Written so that NaN fails too.
    if (!(mx >= 0.0 && my >= 0.0 && mx < kMapSize - 1 && my < kMapSize - 1)) return false;
    const auto j = static_cast<std::uint32_t>(mx);
    const auto i = static_cast<std::uint32_t>(my);
    const double fx = mx - j, fy = my - i;
    const UndistortionMap& map = *m_map;
    const math::Vec2d top = map(j, i) * (1.0 - fx) + map(j + 1, i) * fx;
    const math::Vec2d bottom = map(j, i + 1) * (1.0 - fx) + map(j + 1, i + 1) * fx;
    const math::Vec2d xy = top * (1.0 - fy) + bottom * fy;
    ray = math::Vec3d(xy[0], xy[1], 1.0);
    return true;
  }
  const math::Vec2d xy = UndistortNormalized(c, (pixel[0] - c.cx) / (c.f * c.sx), (pixel[1] - c.cy) / c.f);
  ray = math::Vec3d(xy[0], xy[1], 1.0);
  return true;
}

void CameraModelOCV::SetIntrinsics(const CameraModelOCVIntrinsics& intrinsics, std::uint32_t resX,
                                   std::uint32_t resY) {
  if (resX != m_resX || resY != m_resY) SetResolution(resX, resY);
  m_intrinsics = intrinsics;
  BuildUndistortionMap();
}

void CameraModelOCV::SetIntrinsicsWithoutMap(const CameraModelOCVIntrinsics& intrinsics) {
  m_intrinsics = intrinsics;
  m_map.reset();
}

void CameraModelOCV::BuildUndistortionMap() {
  const CameraModelOCVIntrinsics& c = m_intrinsics;
  if (!c.HasDistortion() || m_resX < 1 || m_resY < 1 || !IsValid() || c.sx == 0.0) {
    m_map.reset();
    return;
  }
  auto map = std::make_shared<UndistortionMap>(kMapSize, kMapSize);
  const double fx = c.f * c.sx, fy = c.f;
  for (std::uint32_t i = 0; i < kMapSize; ++i) {
    const double v = double(i) * m_resY / kMapSize;
    math::Vec2d* row = map->Row(i);
    for (std::uint32_t j = 0; j < kMapSize; ++j) {
      const double u = double(j) * m_resX / kMapSize;
      row[j] = UndistortNormalized(c, (u - c.cx) / fx, (v - c.cy) / fy);
    }
  }
  m_map = std::move(map);
}

void CameraModelOCV::ScaleToResolution(std::uint32_t newResX, std::uint32_t newResY) {
  if (newResX == 0 || newResY == 0 || m_resX == 0 || m_resY == 0) return;
  if (newResX == m_resX && newResY == m_resY) return;
  const double rx = double(newResX) / double(m_resX);
  const double ry = double(newResY) / double(m_resY);
  CameraModelOCVIntrinsics c = m_intrinsics;
  c.cx *= rx;
  c.cy *= ry;
  c.f *= ry;
  c.sx *= rx / ry;
  SetIntrinsics(c, newResX, newResY);
}

bool CameraModelOCV::ReadFromXML(const std::string& text) {
  if (!CameraModel::ReadFromXML(text)) {
    std::cerr << "Error: cam::CameraModelOCV::ReadFromXML - Could not read parameters of base class.\n";
    return false;
  }
  SimpleXML reader(text);
  std::uint32_t resX = m_resX, resY = m_resY;
  reader.Read("resX", resX);
  reader.Read("resY", resY);
  CameraModelOCVIntrinsics c;
  reader.Read("cx", c.cx);
  reader.Read("cy", c.cy);
  reader.Read("f", c.f);
  reader.Read("sx", c.sx);
  reader.Read("k1", c.k1);
  reader.Read("k2", c.k2);
  reader.Read("k3", c.k3);
  reader.Read("p1", c.p1);
  reader.Read("p2", c.p2);
  SetIntrinsics(c, resX, resY);
  if (reader.HasErrors()) {
    std::cerr << "Error: cam::CameraModelOCV::ReadFromXML - " << reader.GetErrorSummary() << '\n';
    return false;
  }
  return true;
}

bool CameraModelOCV::WriteToXML(std::string& text) const {
  SimpleXML::Write(text, "camera_model", std::string("CameraModelOCV"));
  const CameraModelOCVIntrinsics& c = m_intrinsics;
  SimpleXML::Write(text, "cx", c.cx);
  SimpleXML::Write(text, "cy", c.cy);
  SimpleXML::Write(text, "f", c.f);
  SimpleXML::Write(text, "sx", c.sx);
  SimpleXML::Write(text, "k1", c.k1);
  SimpleXML::Write(text, "k2", c.k2);
  SimpleXML::Write(text, "k3", c.k3);
  SimpleXML::Write(text, "p1", c.p1);
  SimpleXML::Write(text, "p2", c.p2);
  return CameraModel::WriteToXML(text);
}

}  // namespace cam
