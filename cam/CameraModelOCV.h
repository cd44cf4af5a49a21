#pragma once

#include <memory>
#include <string>

#include "cam/CameraModel.h"
#include "foundation/img/UniImage.h"

namespace cam {

// The nine intrinsic values of CameraModelOCV, in record order.
struct CameraModelOCVIntrinsics {
  double cx = 0.0;
  double cy = 0.0;
  double f = 0.0;
  double sx = 1.0;
  double k1 = 0.0;
  double k2 = 0.0;
  double p1 = 0.0;
  double p2 = 0.0;
  double k3 = 0.0;

  bool HasDistortion() const { return k1 != 0.0 || k2 != 0.0 || k3 != 0.0 || p1 != 0.0 || p2 != 0.0; }
  friend bool operator==(const CameraModelOCVIntrinsics&, const CameraModelOCVIntrinsics&) = default;
};

// Pinhole camera with three radial (k1, k2, k3) and two tangential (p1, p2)
// coefficients defined on the undistorted normalised image (the common
// computer-vision parameterisation); f in vertical pixel units, sx the
// horizontal pixel size relative to the vertical one.
//
// Back-projection uses an undistortion map of 1000 × 1000 samples of the
// normalised undistorted coordinates, built by SetIntrinsics when the model
// has distortion and a resolution; sample (j, i) belongs to the pixel
// (j·resX/1000, i·resY/1000). Pixels whose map coordinates are not strictly
// inside [0, 999) cannot be back-projected. The map is immutable and shared
// between copies; a new one replaces it as a whole. Not thread-safe for
// concurrent modification.
class CameraModelOCV : public CameraModel {
 public:
  using UndistortionMap = img::UniImage<math::Vec2d>;
  static constexpr std::uint32_t kMapSize = 1000;

  CameraModelOCV() = default;
  CameraModelOCV(const CameraModelOCV&) = default;
  CameraModelOCV& operator=(const CameraModelOCV&) = default;

  bool CameraPointToPixel(math::Vec2d& pixel, const math::Vec3d& cameraPoint) const override;
  // Ray (x, y, 1) through the undistorted normalised point of the pixel.
  bool PixelToCameraRay(math::Vec3d& ray, const math::Vec2d& pixel) const override;
  bool IsValid() const override { return m_intrinsics.f > 0.0; }
  // cx, cy scale with the width and height ratios, f with the height ratio,
  // sx with their quotient; the coefficients are dimensionless and stay. The
  // map is rebuilt.
  void ScaleToResolution(std::uint32_t newResX, std::uint32_t newResY) override;

  bool ReadFromXML(const std::string& text) override;
  bool WriteToXML(std::string& text) const override;
  std::unique_ptr<CameraModel> CloneModel() const override { return std::make_unique<CameraModelOCV>(*this); }

  const CameraModelOCVIntrinsics& GetIntrinsics() const { return m_intrinsics; }
  // Sets the resolution (no scaling) when it differs, copies the record and
  // rebuilds the undistortion map (or drops it without distortion or size).
  void SetIntrinsics(const CameraModelOCVIntrinsics& intrinsics, std::uint32_t resX, std::uint32_t resY);
  // Stores the record and drops the map, which is rebuilt by the next
  // SetIntrinsics; back-projection meanwhile iterates per pixel. For
  // optimisers, which change the intrinsics far more often than they
  // back-project.
  void SetIntrinsicsWithoutMap(const CameraModelOCVIntrinsics& intrinsics);
  std::shared_ptr<const UndistortionMap> GetUndistortionMap() const { return m_map; }

  // Normalised distorted (x0, y0) → undistorted, by exactly 20 fixed-point
  // iterations (the input itself without distortion).
  static math::Vec2d UndistortNormalized(const CameraModelOCVIntrinsics& intrinsics, double x0, double y0);

 private:
  void BuildUndistortionMap();

  CameraModelOCVIntrinsics m_intrinsics;
  std::shared_ptr<const UndistortionMap> m_map;
};

}  // namespace cam
