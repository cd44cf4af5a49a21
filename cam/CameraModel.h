#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/math/Frame.h"
#include "foundation/math/Vec.h"

namespace cam {

// The image-side part of a camera: maps between points in the camera
// coordinate system and pixels. Camera coordinates: origin in the projection
// centre, z along the viewing direction, x to the right (increasing pixel
// column), y down (increasing pixel row); millimetres. Pixels: (column, row)
// for the resolution resX × resY the parameters hold for.
//
// A projector is modelled as an inverse camera, usually with normalised
// coordinates (the unit square).
class CameraIntrinsics {
 public:
  virtual ~CameraIntrinsics() = default;

  // False when the point cannot be projected (z = 0, invalid model, non-finite
  // result); the pixel is then undefined.
  virtual bool CameraPointToPixel(math::Vec2d& pixel, const math::Vec3d& cameraPoint) const = 0;
  // A ray through the pixel in camera coordinates, not normalised, z > 0 for
  // a valid model. False when the pixel cannot be back-projected.
  virtual bool PixelToCameraRay(math::Vec3d& ray, const math::Vec2d& pixel) const = 0;
  virtual bool IsValid() const = 0;
  // Rescales the parameters to another image size (see the derived classes);
  // does nothing if a new or current size is 0 or nothing changes.
  virtual void ScaleToResolution(std::uint32_t newResX, std::uint32_t newResY) = 0;
  // Stores the size only; no parameter changes.
  virtual void SetResolution(std::uint32_t resX, std::uint32_t resY) {
    m_resX = resX;
    m_resY = resY;
  }
  virtual std::unique_ptr<CameraIntrinsics> Clone() const = 0;

  std::uint32_t GetResX() const { return m_resX; }
  std::uint32_t GetResY() const { return m_resY; }

 protected:
  CameraIntrinsics() = default;
  CameraIntrinsics(const CameraIntrinsics&) = default;
  CameraIntrinsics& operator=(const CameraIntrinsics&) = default;

  std::uint32_t m_resX = 0;
  std::uint32_t m_resY = 0;
};

// A camera with its pose: wTc maps camera coordinates into the world, cTw is
// its inverse; both are kept consistent by SetFrame_wTc. Default identity.
class CameraModel : public CameraIntrinsics {
 public:
  const math::Frame<double>& GetFrame_wTc() const { return m_wTc; }
  const math::Frame<double>& GetFrame_cTw() const { return m_cTw; }
  void SetFrame_wTc(const math::Frame<double>& wTc) {
    m_wTc = wTc;
    m_cTw = wTc.GetInverse();
  }

  // Reads the camera-model text form (see SimpleXML). The base part reads the
  // twelve pose values; on success the pose is orthonormalised and set. On
  // failure one "Error: ..." line goes to stderr and the result is false.
  virtual bool ReadFromXML(const std::string& text);
  // Appends the text form (derived part first, then the base part).
  virtual bool WriteToXML(std::string& text) const;
  virtual std::unique_ptr<CameraModel> CloneModel() const = 0;
  std::unique_ptr<CameraIntrinsics> Clone() const override { return CloneModel(); }

 protected:
  CameraModel() = default;
  CameraModel(const CameraModel&) = default;
  CameraModel& operator=(const CameraModel&) = default;

 private:
  math::Frame<double> m_wTc;
  math::Frame<double> m_cTw;
};

}  // namespace cam
