#include "sim/ScanScores.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "cam/CameraModelTsai.h"

namespace sim {
namespace {

// A 64 × 48 camera at the world origin looking along +z (f 100 px, no
// distortion) and the surface it sees: the plane z = 500 + 0.5·x mm, with a
// step to z = 520 mm from column 40 on.
constexpr double kF = 100.0, kCx = 31.5, kCy = 23.5;

cam::CameraModelTsai Camera(double z) {
  cam::CameraModelTsai camera;
  camera.SetIntrinsics(kCx, kCy, kF, 1.0, 0.0);
  camera.SetResolution(64, 48);
  camera.SetFrame_wTc(math::FTrans(0.0, 0.0, z));
  return camera;
}

// The camera z of the surface seen in column x by a camera at (0, 0, c)
// with the axes of the world, the surface raised by `lift` mm: along the
// pixel's ray (u, v, 1)·s from the centre, z = c + s meets the surface.
double SurfaceDepth(std::uint32_t x, double c, double lift) {
  const double u = (x - kCx) / kF;
  if (x >= 40) return 520.0 + lift - c;
  return (500.0 + lift - c) / (1.0 - 0.5 * u);
}

img::FloatImage DepthImage(double c, double lift) {
  img::FloatImage depth(64, 48);
  for (std::uint32_t y = 0; y < 48; ++y)
    for (std::uint32_t x = 0; x < 64; ++x) depth(x, y) = float(SurfaceDepth(x, c, lift));
  return depth;
}

TEST(ScoreDepthInWorld, MeasuresThePointsNotTheFrameTheDepthsAreTakenIn) {
  const cam::CameraModelTsai truthCamera = Camera(0.0);
  const img::FloatImage truth = DepthImage(0.0, 0.0);

  // The true model: the plain depth difference, 0 everywhere (the step too).
  DepthScore exact = ScoreDepthInWorld(truth, truthCamera, truth, truthCamera);
  EXPECT_EQ(exact.validPixels, 64u * 48u);
  EXPECT_LT(exact.max, 1e-4);

  // A calibrated camera 0.05 mm along its axis, its depths exact for where
  // it stands: every depth is 0.05 mm short of the true camera's, yet every
  // point lies on the surface.
  const cam::CameraModelTsai shifted = Camera(0.05);
  const img::FloatImage shiftedDepth = DepthImage(0.05, 0.0);
  double plain = 0.0;
  for (std::int32_t i = 0; i < truth.size; ++i) plain += shiftedDepth.data[i] - truth.data[i];
  EXPECT_NEAR(plain / truth.size, -0.05, 0.002);
  const DepthScore world = ScoreDepthInWorld(shiftedDepth, shifted, truth, truthCamera);
  EXPECT_EQ(world.validPixels, 64u * 48u);
  EXPECT_LT(std::abs(world.mean), 2e-4);
  EXPECT_LT(world.p99, 1e-3);

  // Points 0.1 mm above the surface (the true camera): the error along its
  // ray, 0.1 / (1 − 0.5·u) on the plane and 0.1 on the step.
  const DepthScore lifted =
      ScoreDepthInWorld(DepthImage(0.0, 0.1), truthCamera, truth, truthCamera);
  double sum = 0.0;
  for (std::uint32_t x = 0; x < 64; ++x)
    sum += 48.0 * (x >= 40 ? 0.1 : 0.1 / (1.0 - 0.5 * (x - kCx) / kF));
  EXPECT_NEAR(lifted.mean, sum / (64.0 * 48.0), 1e-4);
}

TEST(ScoreDepthInWorld, PointsOffTheSurfaceOrTheImageAreCountedApart) {
  const cam::CameraModelTsai camera = Camera(0.0);
  img::FloatImage truth = DepthImage(0.0, 0.0);
  img::FloatImage depth = truth;
  for (std::uint32_t y = 0; y < 48; ++y) truth(0, y) = 0.0f;  // nothing seen in column 0
  depth(5, 5) = 0.0f;                                         // no depth: not scored
  const DepthScore s = ScoreDepthInWorld(depth, camera, truth, camera);
  EXPECT_EQ(s.pointsWithoutSurface, 48u);
  EXPECT_EQ(s.validPixels, 64u * 48u - 48u - 1u);
  EXPECT_THROW(ScoreDepthInWorld(img::FloatImage(32, 48), camera, truth, camera),
               std::invalid_argument);
}

}  // namespace
}  // namespace sim
