#pragma once

#include <cstdint>
#include <memory>

#include "cam/CameraModelTsai.h"

namespace felvar {

// The Tsai model of the projector–camera unit's colour camera with the
// sensor's sub-pixel corrections. The sensor has three modes, known by
// their width: 4416 (full), 2208 (half) and 1104 (quarter). In the binned
// modes a pixel's 2 × 2 colour-filter phase p = (⌊u⌋ mod 2) + 2·(⌊v⌋ mod 2)
// (remainders of negative values taken as 0 or 1) shifts it by a phase
// offset before the Tsai back-projection: at 2208 (0.2, −0.2), (−0.2, −0.2),
// (0.2, 0.2), (−0.2, 0.2) for phases 0…3, at 1104 (0.2, −0.1), (−0.2, −0.1),
// (0.2, 0.1), (−0.2, 0.1). Rescaling between modes shifts the principal
// point by the modes' offset after the Tsai scaling.
class CameraModelFelvar : public cam::CameraModelTsai {
 public:
  static constexpr std::uint32_t kFullWidth = 4416;
  static constexpr std::uint32_t kHalfWidth = 2208;
  static constexpr std::uint32_t kQuarterWidth = 1104;

  bool PixelToCameraRay(math::Vec3d& ray, const math::Vec2d& pixel) const override;
  void ScaleToResolution(std::uint32_t newResX, std::uint32_t newResY) override;
  std::unique_ptr<cam::CameraModel> CloneModel() const override {
    return std::make_unique<CameraModelFelvar>(*this);
  }

  // The phase offset of a pixel at a sensor width; (0, 0) in full mode and
  // for widths that are no mode.
  static math::Vec2d PhaseOffset(const math::Vec2d& pixel, std::uint32_t width);
};

}  // namespace felvar
