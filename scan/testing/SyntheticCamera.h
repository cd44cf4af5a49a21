#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "scan/SLScan.h"
#include "scan/SLScannedImagesStore.h"

namespace scan::testing {

// A camera that looks at a flat projection screen: camera pixel (x, y) sees
// the projector at position u = A·(x, y, 1) (projector pixel index units, so
// u = 3.25 lies a quarter of the way from the start of projector pixel 3 to
// the start of pixel 4). The projected light is bilinearly sampled from the
// rendered pattern (grey = sum of the channels / 3), passed through the
// display gamma, scaled by gain, shifted by offset, disturbed by Gaussian
// noise and rounded to 8 bits. For tests and benchmarks only.
struct SyntheticCameraOptions {
  std::uint32_t width = 320;
  std::uint32_t height = 240;
  // Rows (u_x, u_y) of the camera-to-projector affine map.
  std::array<double, 3> mapX{1.0, 0.0, 0.0};
  std::array<double, 3> mapY{0.0, 1.0, 0.0};
  double gain = 0.8;     // grey levels of the camera per projector level
  double offset = 20.0;  // ambient light, grey levels
  double displayGamma = 1.0;
  double noiseSigma = 0.0;  // grey levels
  std::uint32_t seed = 1;
};

class SyntheticCamera {
 public:
  explicit SyntheticCamera(const SyntheticCameraOptions& options) : m_options(options) {}

  // Renders every pattern of the scan at the projector size and files one
  // frame per pattern (grey, or colour for capture type 1) in a new store.
  std::shared_ptr<SLScannedImagesStore> Capture(const SLScan& scan, std::uint32_t projectorWidth,
                                                std::uint32_t projectorHeight) const;

  // The projector position seen by camera pixel (x, y), in projector pixels.
  std::array<double, 2> ProjectorPosition(double x, double y) const;

 private:
  SyntheticCameraOptions m_options;
};

}  // namespace scan::testing
