#pragma once

#include <memory>
#include <string>

#include "cam/CameraModel.h"

namespace cam {

// Pinhole camera with one radial distortion coefficient after Tsai, the
// distortion defined on the distorted image:
//   undistorted sensor point (Xu, Yu) = (f·x/z, f·y/z),
//   Xu = Xd·(1 + kappa1·Rd²), Yu = Yd·(1 + kappa1·Rd²), Rd² = Xd² + Yd²,
//   pixel (u, v) = (sx·Xd + cx, Yd + cy).
// f is in vertical pixel units, sx the horizontal pixel size relative to the
// vertical one, kappa1 per pixel².
class CameraModelTsai : public CameraModel {
 public:
  struct Intrinsics {
    double cx = 0.0;
    double cy = 0.0;
    double f = 0.0;
    double sx = 1.0;
    double kappa1 = 0.0;
    friend bool operator==(const Intrinsics&, const Intrinsics&) = default;
  };

  CameraModelTsai() = default;
  CameraModelTsai(const CameraModelTsai&) = default;
  CameraModelTsai& operator=(const CameraModelTsai&) = default;

  bool CameraPointToPixel(math::Vec2d& pixel, const math::Vec3d& cameraPoint) const override;
  // Ray (s·Xd, s·Yd, f) with s = 1 + kappa1·Rd²; false only for an invalid
  // model or sx = 0.
  bool PixelToCameraRay(math::Vec3d& ray, const math::Vec2d& pixel) const override;
  bool IsValid() const override { return m_intrinsics.f != 0.0; }
  // cx, cy scale with the width and height ratios, f with the height ratio,
  // sx with their quotient, kappa1 with the inverse squared height ratio.
  void ScaleToResolution(std::uint32_t newResX, std::uint32_t newResY) override;

  bool ReadFromXML(const std::string& text) override;
  bool WriteToXML(std::string& text) const override;
  std::unique_ptr<CameraModel> CloneModel() const override { return std::make_unique<CameraModelTsai>(*this); }

  // Ideal (undistorted) pixel → observed pixel; false for an invalid model.
  virtual bool DistortPixel(math::Vec2d& out, const math::Vec2d& in) const;
  // Observed pixel → ideal pixel; false for an invalid model.
  virtual bool UndistortPixel(math::Vec2d& out, const math::Vec2d& in) const;
  virtual void SetIntrinsics(double cx, double cy, double f, double sx, double kappa1);
  void SetIntrinsics(const Intrinsics& i) { SetIntrinsics(i.cx, i.cy, i.f, i.sx, i.kappa1); }
  const Intrinsics& GetIntrinsics() const { return m_intrinsics; }

  // The distorted sensor point of an undistorted one: the smaller positive
  // root of Ru = Rd·(1 + kappa1·Rd²), clamped to the extremum
  // √|1/(3·kappa1)| where no positive root exists.
  static void DistortSensorPoint(double kappa1, double xu, double yu, double& xd, double& yd);

 private:
  Intrinsics m_intrinsics;
};

}  // namespace cam
