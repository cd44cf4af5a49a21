#pragma once

#include <cstdint>
#include <numbers>

#include "foundation/math/Vec.h"
#include "surf/testing/SyntheticScans.h"

// The synthetic turntable of the shell's alignment tests: a lumpy blob on a
// table that turns about the z axis through (4, −3, 0).
namespace shell::testing {

constexpr double kDeg = std::numbers::pi / 180.0;
inline const math::Vec3d kTableAxis(0.0, 0.0, 1.0);
inline const math::Vec3d kTableAxisPoint(4.0, -3.0, 0.0);

// Scans at ~1.6 mm vertex spacing with 0.02 mm noise. A refined ring of
// such views lands within kRingRms (mm RMS) of the truth
// (surf/Registration_test's ring).
inline surf::testing::ScanSpec BlobScanSpec(std::uint64_t noiseSeed) {
  surf::testing::ScanSpec spec;
  spec.samplesAround = 160;
  spec.noiseSigma = 0.02;
  spec.noiseSeed = noiseSeed;
  return spec;
}
constexpr double kRingRms = 0.1;

}  // namespace shell::testing
