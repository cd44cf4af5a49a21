#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <random>

#include "cam/CameraModelFunctions.h"
#include "scan/ClosestPoints.h"
#include "scan/SinglePhaseToDepthConverter.h"
#include "scan/StereoPhaseToDepthConverter.h"
#include "scan/testing/DepthScene.h"

namespace scan {
namespace {

using testing::DepthScene;
using testing::MakeRig;
using testing::RenderScene;
using testing::Rig;
using testing::SceneImages;

constexpr std::uint32_t kW = 400, kH = 300;

// Depth (camera z) of the point on the camera line closest to the projector
// line of (u, v), by the normal equations of the two line parameters.
double TriangulateDepth(const cam::CameraModel& camera, const math::Vec2d& pixel, const cam::CameraModel& projector,
                        const math::Vec2d& uv) {
  math::Line3d l1, l2;
  EXPECT_TRUE(cam::PixelToWorldLine(l1, pixel, camera));
  EXPECT_TRUE(cam::PixelToWorldLine(l2, uv, projector));
  Eigen::Matrix2d m;
  m << Dot(l1.direction, l1.direction), -Dot(l1.direction, l2.direction), Dot(l1.direction, l2.direction),
      -Dot(l2.direction, l2.direction);
  const math::Vec3d r = l2.point - l1.point;
  const Eigen::Vector2d st = m.lu().solve(Eigen::Vector2d(Dot(r, l1.direction), Dot(r, l2.direction)));
  return cam::WorldPointToDepth(l1.PointAt(st[0]), camera);
}

// Depth along the camera ray of pixel at which the projector coordinate of
// the given axis equals value, by secant steps from depth0.
double LightSurfaceDepth(const cam::CameraModel& camera, const math::Vec2d& pixel, const cam::CameraModel& projector,
                         int axis, double value, double depth0) {
  auto residual = [&](double z) {
    math::Vec3d p;
    math::Vec2d uv;
    EXPECT_TRUE(cam::DepthPixelToWorldPoint(p, pixel, z, camera));
    EXPECT_TRUE(cam::WorldPointToPixel(uv, p, projector));
    return uv[axis] - value;
  };
  double z0 = depth0, z1 = depth0 + 0.01, r0 = residual(z0), r1 = residual(z1);
  for (int i = 0; i < 50 && r1 != r0 && std::abs(r1) > 1e-15; ++i) {
    const double z2 = z1 - r1 * (z1 - z0) / (r1 - r0);
    z0 = z1, r0 = r1, z1 = z2, r1 = residual(z1);
  }
  return z1;
}

struct Errors {
  double max = 0.0;
  std::size_t compared = 0, sphere = 0, plane = 0, wrongZero = 0;
};

Errors CompareDepths(const surf::DepthMap& map, const SceneImages& truth) {
  Errors e;
  for (std::uint32_t y = 0; y < kH; ++y) {
    for (std::uint32_t x = 0; x < kW; ++x) {
      const float d = map.GetDepthImage()(x, y);
      if (truth.surface(x, y) == DepthScene::kNone) {
        e.wrongZero += d != 0.0f;
        continue;
      }
      e.max = std::max(e.max, std::abs(d - truth.depth(x, y)));
      ++e.compared;
      (truth.surface(x, y) == DepthScene::kSphere ? e.sphere : e.plane)++;
    }
  }
  return e;
}

TEST(ClosestPoints, SkewLinesGiveTheCommonPerpendicular) {
  const math::Line3d l1{{0.0, 0.0, 0.0}, {2.0, 0.0, 0.0}}, l2{{3.0, 2.0, -4.0}, {0.0, 0.0, 0.5}};
  math::Vec3d a, b;
  bool ok = false;
  EXPECT_DOUBLE_EQ(ClosestPointsOfLines(l1, l2, a, b, &ok), 2.0);
  EXPECT_TRUE(ok);
  EXPECT_EQ(a, math::Vec3d(3.0, 0.0, 0.0));
  EXPECT_EQ(b, math::Vec3d(3.0, 2.0, 0.0));
  // Parallel lines leave both points as they were.
  const math::Line3d l3{{0.0, 1.0, 0.0}, {1.0, 0.0, 0.0}};
  a = {7.0, 7.0, 7.0};
  b = {8.0, 8.0, 8.0};
  ClosestPointsOfLines(l1, l3, a, b, &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(a, math::Vec3d(7.0, 7.0, 7.0));
  EXPECT_EQ(b, math::Vec3d(8.0, 8.0, 8.0));
}

TEST(SinglePhaseToDepthConverter, BothOrientationsTriangulateExactCorrespondences) {
  const Rig rig = MakeRig(kW, kH, true);
  const SceneImages truth = RenderScene(rig.scene, *rig.camera1, *rig.projector);
  std::unique_ptr<surf::DepthMap> map;
  float median = -1.0f;
  ASSERT_TRUE(SinglePhaseToDepthConverter().Convert(map, truth.phaseX, truth.phaseY, truth.quality, *rig.camera1,
                                                    *rig.projector, {false, true, true}, &median));
  ASSERT_TRUE(map);
  const Errors e = CompareDepths(*map, truth);
  EXPECT_GT(e.sphere, 20000u);
  EXPECT_GT(e.plane, 20000u);
  EXPECT_EQ(e.wrongZero, 0u);
  EXPECT_LT(e.max, 1e-4);
  // Exact rays meet: the gap is rounding of the float phases only.
  EXPECT_GE(median, 0.0f);
  EXPECT_LT(median, 1e-7f);
  EXPECT_NE(map->GetCameraModel().GetFrame_wTc().data(), rig.camera1->GetFrame_wTc().data());
}

// Only one coordinate measured: the other phase image holds a constant
// guess, and the point is moved onto the distorted light plane.
void CheckOneOrientation(int axis) {
  const Rig rig = MakeRig(kW, kH, true);
  SceneImages truth = RenderScene(rig.scene, *rig.camera1, *rig.projector);
  img::UniImage<float> measured = axis == 0 ? truth.phaseX : truth.phaseY;
  img::UniImage<float> guess = measured;
  for (std::int32_t i = 0; i < guess.size; ++i) guess.data[i] = measured.data[i] < 0.0f ? -1.0f : 0.5f;
  std::unique_ptr<surf::DepthMap> map;
  float median = -1.0f;
  const auto& px = axis == 0 ? measured : guess;
  const auto& py = axis == 0 ? guess : measured;
  ASSERT_TRUE(SinglePhaseToDepthConverter().Convert(map, px, py, truth.quality, *rig.camera1, *rig.projector,
                                                    {false, axis == 0, axis == 1}, &median));
  const Errors e = CompareDepths(*map, truth);
  EXPECT_GT(e.compared, 50000u);
  EXPECT_EQ(e.wrongZero, 0u);
  EXPECT_LT(e.max, 1e-4);
  EXPECT_EQ(median, 0.0f);  // the median needs both orientations
  // The refined points lie on the measured light plane.
  double worst = 0.0;
  for (std::uint32_t y = 0; y < kH; y += 3) {
    for (std::uint32_t x = 0; x < kW; x += 3) {
      if (truth.surface(x, y) == DepthScene::kNone) continue;
      math::Vec3d p;
      math::Vec2d uv;
      ASSERT_TRUE(cam::DepthPixelToWorldPoint(p, {double(x), double(y)}, map->GetDepthImage()(x, y), *rig.camera1));
      ASSERT_TRUE(cam::WorldPointToPixel(uv, p, *rig.projector));
      worst = std::max(worst, std::abs(uv[axis] - measured(x, y)));
    }
  }
  EXPECT_LT(worst, 1e-4);
}

TEST(SinglePhaseToDepthConverter, PhaseXOnlyMovesPointsOntoDistortedLightPlanes) { CheckOneOrientation(0); }
TEST(SinglePhaseToDepthConverter, PhaseYOnlyMovesPointsOntoDistortedLightPlanes) { CheckOneOrientation(1); }

// Normalised errors (result − truth)/predicted sigma must have RMS 1.
void ExpectUnitRms(const std::vector<double>& z) {
  ASSERT_GT(z.size(), 20000u);
  double sum = 0.0;
  for (double v : z) sum += v * v;
  const double rms = std::sqrt(sum / double(z.size()));
  // The RMS of n unit normals has a relative standard deviation of 1/√(2n);
  // five of them plus 1 % for the linearisation.
  EXPECT_NEAR(rms, 1.0, 5.0 / std::sqrt(2.0 * double(z.size())) + 0.01);
}

TEST(SinglePhaseToDepthConverter, NoiseOnBothPhasesPropagatesAsPredicted) {
  const Rig rig = MakeRig(kW, kH, true);
  SceneImages truth = RenderScene(rig.scene, *rig.camera1, *rig.projector);
  std::mt19937 rng(7);
  const double sigma = 2e-4;  // 0.2 pixels of a 1000-pixel projector
  std::normal_distribution<double> noise(0.0, sigma);
  img::UniImage<float> px = truth.phaseX, py = truth.phaseY;
  for (std::int32_t i = 0; i < px.size; ++i) {
    if (px.data[i] < 0.0f) continue;
    px.data[i] = float(px.data[i] + noise(rng));
    py.data[i] = float(py.data[i] + noise(rng));
  }
  std::unique_ptr<surf::DepthMap> map;
  ASSERT_TRUE(SinglePhaseToDepthConverter().Convert(map, px, py, truth.quality, *rig.camera1, *rig.projector,
                                                    {false, true, true}));
  std::vector<double> z;
  const double h = 1e-6;
  for (std::uint32_t y = 0; y < kH; y += 2) {
    for (std::uint32_t x = 0; x < kW; x += 2) {
      if (truth.surface(x, y) == DepthScene::kNone) continue;
      const math::Vec2d pixel(x, y), uv(truth.phaseX(x, y), truth.phaseY(x, y));
      const double jx = (TriangulateDepth(*rig.camera1, pixel, *rig.projector, uv + math::Vec2d(h, 0.0)) -
                         TriangulateDepth(*rig.camera1, pixel, *rig.projector, uv - math::Vec2d(h, 0.0))) /
                        (2 * h);
      const double jy = (TriangulateDepth(*rig.camera1, pixel, *rig.projector, uv + math::Vec2d(0.0, h)) -
                         TriangulateDepth(*rig.camera1, pixel, *rig.projector, uv - math::Vec2d(0.0, h))) /
                        (2 * h);
      z.push_back((map->GetDepthImage()(x, y) - truth.depth(x, y)) / (sigma * std::hypot(jx, jy)));
    }
  }
  ExpectUnitRms(z);
}

TEST(SinglePhaseToDepthConverter, NoiseOnOnePhasePropagatesAsPredicted) {
  const Rig rig = MakeRig(kW, kH, true);
  SceneImages truth = RenderScene(rig.scene, *rig.camera1, *rig.projector);
  std::mt19937 rng(11);
  const double sigma = 2e-4;
  std::normal_distribution<double> noise(0.0, sigma);
  img::UniImage<float> px = truth.phaseX;
  for (std::int32_t i = 0; i < px.size; ++i) {
    if (px.data[i] >= 0.0f) px.data[i] = float(px.data[i] + noise(rng));
  }
  std::unique_ptr<surf::DepthMap> map;
  ASSERT_TRUE(SinglePhaseToDepthConverter().Convert(map, px, truth.phaseY, truth.quality, *rig.camera1,
                                                    *rig.projector, {false, true, false}));
  std::vector<double> z;
  const double h = 1e-6;
  for (std::uint32_t y = 0; y < kH; y += 2) {
    for (std::uint32_t x = 0; x < kW; x += 2) {
      if (truth.surface(x, y) == DepthScene::kNone) continue;
      const math::Vec2d pixel(x, y);
      const double u = truth.phaseX(x, y), d0 = truth.depth(x, y);
      const double j = (LightSurfaceDepth(*rig.camera1, pixel, *rig.projector, 0, u + h, d0) -
                        LightSurfaceDepth(*rig.camera1, pixel, *rig.projector, 0, u - h, d0)) /
                       (2 * h);
      z.push_back((map->GetDepthImage()(x, y) - truth.depth(x, y)) / (sigma * std::abs(j)));
    }
  }
  ExpectUnitRms(z);
}

TEST(SinglePhaseToDepthConverter, BadInputGivesNoDepthMap) {
  const Rig rig = MakeRig(kW, kH, false);
  img::UniImage<float> a(4, 3), b(3, 3), q(4, 3);
  a = 0.5f, b = 0.5f, q = 1.0f;
  std::unique_ptr<surf::DepthMap> map = std::make_unique<surf::DepthMap>(
      std::make_unique<img::UniImage<float>>(1, 1), std::make_unique<img::UniImage<std::uint8_t>>(1, 1),
      rig.camera1->CloneModel());
  SinglePhaseToDepthConverter converter;
  EXPECT_FALSE(converter.Convert(map, a, b, q, *rig.camera1, *rig.projector, {true, true, true}));
  EXPECT_FALSE(map);
  img::UniImage<float> empty;
  EXPECT_FALSE(converter.Convert(map, empty, empty, empty, *rig.camera1, *rig.projector, {false, true, true}));
  cam::CameraModelOCV invalid;
  EXPECT_FALSE(converter.Convert(map, a, a, q, *rig.camera1, invalid, {false, true, true}));
  EXPECT_FALSE(map);
}

TEST(SinglePhaseToDepthConverter, QualityBytesAndInvalidPhases) {
  const Rig rig = MakeRig(kW, kH, false);
  img::UniImage<float> px(4, 1), py(4, 1), q(4, 1);
  const float qualities[4] = {1.0f, 0.5f, -0.3f, 1.0f};
  for (int i = 0; i < 4; ++i) {
    px.data[i] = 0.5f, py.data[i] = 0.5f, q.data[i] = qualities[i];
  }
  px.data[3] = -1.0f;
  std::unique_ptr<surf::DepthMap> map;
  ASSERT_TRUE(SinglePhaseToDepthConverter().Convert(map, px, py, q, *rig.camera1, *rig.projector,
                                                    {false, true, true}));
  const auto& qb = map->GetQualityImage();
  EXPECT_EQ(qb.data[0], 255);
  EXPECT_EQ(qb.data[1], 127);
  EXPECT_EQ(qb.data[2], 0);
  EXPECT_GT(map->GetDepthImage().data[0], 0.0f);
  EXPECT_EQ(map->GetDepthImage().data[2], 0.0f);  // quality byte 0
  EXPECT_EQ(map->GetDepthImage().data[3], 0.0f);  // phase X = −1 despite quality 1
}

TEST(SinglePhaseToDepthConverter, GradientCheckFlagsPhaseRunningAgainstTheProjector) {
  const Rig rig = MakeRig(kW, kH, false);
  const SceneImages truth = RenderScene(rig.scene, *rig.camera1, *rig.projector);
  auto countLowered = [&](const img::UniImage<float>& px, const img::UniImage<float>& py, bool xMeasured,
                          bool yMeasured) {
    std::unique_ptr<surf::DepthMap> map;
    EXPECT_TRUE(SinglePhaseToDepthConverter().Convert(map, px, py, truth.quality, *rig.camera1, *rig.projector,
                                                      {true, xMeasured, yMeasured}));
    std::size_t lowered = 0, interior = 0;
    for (std::uint32_t y = 1; y + 1 < kH; ++y) {
      for (std::uint32_t x = 1; x + 1 < kW; ++x) {
        // On the plane the image gradients of both phases stay within 90°
        // of the directions found at the centre (near the sphere's limb
        // they need not).
        bool valid = true;
        for (auto [dx, dy] : {std::pair{0, 0}, {1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
          valid = valid && truth.surface(x + dx, y + dy) == DepthScene::kPlane;
        }
        if (!valid) continue;
        ++interior;
        lowered += map->GetQualityImage()(x, y) == 1;
      }
    }
    EXPECT_GT(interior, 20000u);
    return double(lowered) / double(interior);
  };
  EXPECT_EQ(countLowered(truth.phaseX, truth.phaseY, true, true), 0.0);
  img::UniImage<float> flipped = truth.phaseX;
  for (std::int32_t i = 0; i < flipped.size; ++i) {
    if (flipped.data[i] >= 0.0f) flipped.data[i] = 1.0f - flipped.data[i];
  }
  EXPECT_EQ(countLowered(flipped, truth.phaseY, true, false), 1.0);
  img::UniImage<float> flippedY = truth.phaseY;
  for (std::int32_t i = 0; i < flippedY.size; ++i) {
    if (flippedY.data[i] >= 0.0f) flippedY.data[i] = 1.0f - flippedY.data[i];
  }
  EXPECT_EQ(countLowered(truth.phaseX, flippedY, false, true), 1.0);
}

// Camera-1 pixels whose surface point camera 2 sees inside a cell of four
// pixels on the same surface near the same depth: the pixels stereo matching
// must find (cells whose key quads exceed the converter's cell-size limit
// 5/(w + h) are left out when keys are given).
std::vector<bool> StereoMatchable(const Rig& rig, const SceneImages& t1, const SceneImages& t2,
                                  const img::UniImage<float>* keyA2 = nullptr,
                                  const img::UniImage<float>* keyB2 = nullptr) {
  std::vector<bool> matchable(std::size_t(kW) * kH, false);
  const double limit = 5.0 / (kW + kH);
  for (std::uint32_t y = 0; y < kH; ++y) {
    for (std::uint32_t x = 0; x < kW; ++x) {
      if (t1.surface(x, y) == DepthScene::kNone) continue;
      math::Vec3d p;
      math::Vec2d q;
      cam::DepthPixelToWorldPoint(p, {double(x), double(y)}, t1.depth(x, y), *rig.camera1);
      if (!cam::WorldPointToPixel(q, p, *rig.camera2) || q[0] < 0.0 || q[1] < 0.0 || q[0] >= kW - 1 ||
          q[1] >= kH - 1) {
        continue;
      }
      const double depth2 = cam::WorldPointToDepth(p, *rig.camera2);
      bool ok = true;
      double minA = 2, maxA = -2, minB = 2, maxB = -2;
      for (int dy = 0; dy < 2; ++dy) {
        for (int dx = 0; dx < 2; ++dx) {
          const std::uint32_t cx = std::uint32_t(q[0]) + dx, cy = std::uint32_t(q[1]) + dy;
          ok = ok && t2.surface(cx, cy) == t1.surface(x, y) && std::abs(t2.depth(cx, cy) - depth2) < 1.0;
          if (keyA2) {
            minA = std::min(minA, double((*keyA2)(cx, cy))), maxA = std::max(maxA, double((*keyA2)(cx, cy)));
            minB = std::min(minB, double((*keyB2)(cx, cy))), maxB = std::max(maxB, double((*keyB2)(cx, cy)));
          }
        }
      }
      if (keyA2) ok = ok && std::hypot(maxA - minA, maxB - minB) <= limit;
      matchable[std::size_t(y) * kW + x] = ok;
    }
  }
  return matchable;
}

// The depth stereo matching yields for a camera-1 pixel whose true point
// camera 2 sees at q: camera 2's keys are blended bilinearly within a cell,
// so the match lies where the blend equals the pixel's keys. Found here by
// Newton steps from q, moving to the neighbouring cell when the solution
// leaves the current one.
double PredictedStereoDepth(const Rig& rig, const math::Vec2d& pixel, const math::Vec3d& truePoint,
                            const math::Vec2d& keys1, const img::UniImage<float>& keyA2,
                            const img::UniImage<float>& keyB2) {
  math::Vec2d q;
  cam::WorldPointToPixel(q, truePoint, *rig.camera2);
  auto key = [&](std::uint32_t x, std::uint32_t y) { return math::Vec2d(keyA2(x, y), keyB2(x, y)); };
  for (int cell = 0; cell < 3; ++cell) {
    const auto i = std::uint32_t(std::floor(q[0])), j = std::uint32_t(std::floor(q[1]));
    const math::Vec2d k00 = key(i, j), k10 = key(i + 1, j), k01 = key(i, j + 1), k11 = key(i + 1, j + 1);
    double s = q[0] - i, t = q[1] - j;
    for (int step = 0; step < 20; ++step) {
      const math::Vec2d blend =
          k00 * ((1 - s) * (1 - t)) + k10 * (s * (1 - t)) + k01 * ((1 - s) * t) + k11 * (s * t);
      const math::Vec2d ds = (k10 - k00) * (1 - t) + (k11 - k01) * t, dt = (k01 - k00) * (1 - s) + (k11 - k10) * s;
      Eigen::Matrix2d jacobian;
      jacobian << ds[0], dt[0], ds[1], dt[1];
      const math::Vec2d r = blend - keys1;
      const Eigen::Vector2d delta = -jacobian.inverse() * Eigen::Vector2d(r[0], r[1]);
      s += delta[0];
      t += delta[1];
    }
    q = {i + s, j + t};
    if (s >= 0.0 && s <= 1.0 && t >= 0.0 && t <= 1.0) break;
  }
  math::Line3d ray1, ray2;
  cam::PixelToWorldLine(ray1, pixel, *rig.camera1);
  cam::PixelToWorldLine(ray2, q, *rig.camera2);
  math::Vec3d a, b;
  ClosestPointsOfLines(ray1, ray2, a, b);
  return cam::WorldPointToDepth(a, *rig.camera1);
}

void CheckStereo(bool vertical) {
  const Rig rig = MakeRig(kW, kH, true, vertical);
  const SceneImages t1 = RenderScene(rig.scene, *rig.camera1, *rig.projector);
  const SceneImages t2 = RenderScene(rig.scene, *rig.camera2, *rig.projector);
  const int orientation = vertical ? 1 : 0;
  const auto& phase1 = vertical ? t1.phaseY : t1.phaseX;
  const auto& phase2 = vertical ? t2.phaseY : t2.phaseX;
  img::UniImage<float> epipolar1, epipolar2;
  ASSERT_TRUE(StereoPhaseToDepthConverter::ComputeEpipolarImages(epipolar1, epipolar2, *rig.camera1, kW, kH,
                                                                 *rig.camera2, kW, kH));
  const auto& keyA1 = vertical ? epipolar1 : phase1;
  const auto& keyB1 = vertical ? phase1 : epipolar1;
  const auto& keyA2 = vertical ? epipolar2 : phase2;
  const auto& keyB2 = vertical ? phase2 : epipolar2;
  std::vector<bool> matchable = StereoMatchable(rig, t1, t2, &keyA2, &keyB2);
  // The index holds keys below 1 only (bin trunc(key · 4000) < 4000): the
  // corner pixel whose epipolar coordinate is the range's end is left out.
  for (std::size_t i = 0; i < matchable.size(); ++i) {
    if (keyA1.data[i] >= 1.0f || keyB1.data[i] >= 1.0f) matchable[i] = false;
  }

  std::unique_ptr<surf::DepthMap> map;
  float median = -1.0f;
  img::UniImage<float> gaps;
  ASSERT_TRUE(StereoPhaseToDepthConverter().Convert(map, *rig.camera1, phase1, t1.quality, *rig.camera2, phase2,
                                                    t2.quality, rig.projector.get(), &median, orientation, &gaps));
  ASSERT_TRUE(map);
  ASSERT_TRUE(gaps.SameSize(kW, kH));
  double worstPlane = 0.0, worstPredicted = 0.0, worstGap = 0.0;
  std::size_t found = 0, expected = 0, wrong = 0, total = 0;
  for (std::uint32_t y = 0; y < kH; ++y) {
    for (std::uint32_t x = 0; x < kW; ++x) {
      const float d = map->GetDepthImage()(x, y);
      if (d != 0.0f) {
        ++total;
        // Elsewhere (cells across silhouettes) a depth must still be near
        // the surface.
        wrong += t1.surface(x, y) == DepthScene::kNone || std::abs(d - t1.depth(x, y)) > 0.5;
      }
      if (!matchable[std::size_t(y) * kW + x]) continue;
      ++expected;
      if (d == 0.0f) continue;
      ++found;
      worstGap = std::max(worstGap, double(gaps(x, y)));
      if (t1.surface(x, y) == DepthScene::kPlane) {
        // Keys of a plane are smooth enough for the bilinear blend.
        worstPlane = std::max(worstPlane, std::abs(d - t1.depth(x, y)));
      }
      math::Vec3d p;
      cam::DepthPixelToWorldPoint(p, {double(x), double(y)}, t1.depth(x, y), *rig.camera1);
      const double predicted =
          PredictedStereoDepth(rig, {double(x), double(y)}, p, {keyA1(x, y), keyB1(x, y)}, keyA2, keyB2);
      worstPredicted = std::max(worstPredicted, std::abs(d - predicted));
    }
  }
  EXPECT_GT(expected, 40000u);
  EXPECT_EQ(found, expected);
  EXPECT_LT(worstPlane, 1e-4);
  EXPECT_LT(worstPredicted, 1e-4);
  EXPECT_LT(worstGap, 1e-3);
  EXPECT_LT(double(wrong), 0.002 * double(total));
  EXPECT_GE(median, 0.0f);
  EXPECT_LT(median, 1e-6f);
}

TEST(StereoPhaseToDepthConverter, HorizontalPhaseTriangulatesExactCorrespondences) { CheckStereo(false); }
TEST(StereoPhaseToDepthConverter, VerticalPhaseTriangulatesExactCorrespondences) { CheckStereo(true); }

TEST(StereoPhaseToDepthConverter, NoiseOnCameraOnePhasePropagatesAsPredicted) {
  const Rig rig = MakeRig(kW, kH, false);
  const SceneImages t1 = RenderScene(rig.scene, *rig.camera1, *rig.projector);
  const SceneImages t2 = RenderScene(rig.scene, *rig.camera2, *rig.projector);
  const std::vector<bool> matchable = StereoMatchable(rig, t1, t2);
  std::mt19937 rng(3);
  const double sigma = 2e-4;
  std::normal_distribution<double> noise(0.0, sigma);
  img::UniImage<float> phase1 = t1.phaseX;
  for (std::int32_t i = 0; i < phase1.size; ++i) {
    if (phase1.data[i] >= 0.0f) phase1.data[i] = float(phase1.data[i] + noise(rng));
  }
  std::unique_ptr<surf::DepthMap> map;
  ASSERT_TRUE(StereoPhaseToDepthConverter().Convert(map, *rig.camera1, phase1, t1.quality, *rig.camera2,
                                                    t2.phaseX, t2.quality, rig.projector.get()));
  // Prediction on the plane: a phase u + δ of camera-1 pixel p matches the
  // camera-2 image of the plane point on p's epipolar plane and u + δ's
  // light plane; that ray meets p's ray at the stereo depth.
  const math::Vec3d c1 = rig.camera1->GetFrame_wTc().GetTrans(), c2 = rig.camera2->GetFrame_wTc().GetTrans();
  const math::Vec3d cp = rig.projector->GetFrame_wTc().GetTrans();
  auto stereoDepth = [&](const math::Vec2d& pixel, double u, double v) {
    math::Line3d ray1;
    cam::PixelToWorldLine(ray1, pixel, *rig.camera1);
    const math::Vec3d nEpipolar = (c2 - c1) ^ ray1.direction;
    math::Vec3d r1, r2;
    cam::PixelToWorldDirection(r1, {u, v}, *rig.projector);
    cam::PixelToWorldDirection(r2, {u, v + 1e-3}, *rig.projector);
    const math::Vec3d nLight = r1 ^ r2;
    Eigen::Matrix3d m;
    m << 0, 0, 1, nEpipolar[0], nEpipolar[1], nEpipolar[2], nLight[0], nLight[1], nLight[2];
    const Eigen::Vector3d s = m.lu().solve(Eigen::Vector3d(rig.scene.planeZ, Dot(nEpipolar, c1), Dot(nLight, cp)));
    const math::Line3d ray2{c2, math::Vec3d(s[0], s[1], s[2]) - c2};
    math::Vec3d a, b;
    ClosestPointsOfLines(ray1, ray2, a, b);
    return cam::WorldPointToDepth(a, *rig.camera1);
  };
  std::vector<double> z;
  const double h = 1e-6;
  for (std::uint32_t y = 0; y < kH; ++y) {
    for (std::uint32_t x = 0; x < kW; ++x) {
      if (!matchable[std::size_t(y) * kW + x] || t1.surface(x, y) != DepthScene::kPlane) continue;
      const float d = map->GetDepthImage()(x, y);
      if (d == 0.0f) continue;
      const math::Vec2d pixel(x, y);
      const double u = t1.phaseX(x, y), v = t1.phaseY(x, y);
      const double j = (stereoDepth(pixel, u + h, v) - stereoDepth(pixel, u - h, v)) / (2 * h);
      z.push_back((d - t1.depth(x, y)) / (sigma * std::abs(j)));
    }
  }
  ExpectUnitRms(z);
}

TEST(StereoPhaseToDepthConverter, OrientationBothAndMissingProjector) {
  const Rig rig = MakeRig(40, 30, false);
  img::UniImage<float> phase(40, 30), quality(40, 30);
  phase = 0.5f, quality = 1.0f;
  StereoPhaseToDepthConverter converter;
  std::unique_ptr<surf::DepthMap> map;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(converter.Convert(map, *rig.camera1, phase, quality, *rig.camera2, phase, quality,
                                 rig.projector.get(), nullptr, 2));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "This version of StereoPhaseToDepthConverter::Convert doesn't support phase orientation 'Both'\n");
  EXPECT_FALSE(map);
  try {
    converter.Convert(map, *rig.camera1, phase, phase, quality, *rig.camera2, phase, phase, quality, nullptr,
                      nullptr, 0);
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(),
                 "StereoPhaseToDepthConverter::Convert - Valid projector model required if phase orientation is "
                 "not set to both.");
  }
  // Orientation 2 needs no projector.
  EXPECT_NO_THROW(converter.Convert(map, *rig.camera1, phase, phase, quality, *rig.camera2, phase, phase, quality,
                                    nullptr, nullptr, 2));
  img::UniImage<float> small(39, 30);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(converter.Convert(map, *rig.camera1, small, quality, *rig.camera2, phase, quality,
                                 rig.projector.get(), nullptr, 0));
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), ::testing::StartsWith("Error: "));
  EXPECT_FALSE(map);
}

TEST(StereoPhaseToDepthConverter, LowQualityPixelsNeverGetDepth) {
  const Rig rig = MakeRig(kW, kH, false);
  SceneImages t1 = RenderScene(rig.scene, *rig.camera1, *rig.projector);
  const SceneImages t2 = RenderScene(rig.scene, *rig.camera2, *rig.projector);
  // Every other column of camera 1 just below the threshold.
  for (std::uint32_t y = 0; y < kH; ++y) {
    for (std::uint32_t x = 0; x < kW; x += 2) {
      if (t1.quality(x, y) > 0.0f) t1.quality(x, y) = 0.00199f;
    }
  }
  std::unique_ptr<surf::DepthMap> map;
  ASSERT_TRUE(StereoPhaseToDepthConverter().Convert(map, *rig.camera1, t1.phaseX, t1.quality, *rig.camera2,
                                                    t2.phaseX, t2.quality, rig.projector.get()));
  std::size_t odd = 0;
  for (std::uint32_t y = 0; y < kH; ++y) {
    for (std::uint32_t x = 0; x < kW; ++x) {
      if (x % 2 == 0) {
        EXPECT_EQ(map->GetDepthImage()(x, y), 0.0f);
      } else {
        odd += map->GetDepthImage()(x, y) != 0.0f;
      }
    }
  }
  EXPECT_GT(odd, 20000u);
}

TEST(StereoPhaseToDepthConverter, InverseBilinearRecoversBlendWeights) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> unit(0.0, 1.0), jitter(-0.3, 0.3);
  for (int trial = 0; trial < 1000; ++trial) {
    const double scale = trial % 2 ? 1e-3 : 1.0;  // key quads are small
    const math::Vec2d k00(0.0, 0.0), k10 = math::Vec2d(1.0 + jitter(rng), jitter(rng)) * scale,
                                     k01 = math::Vec2d(jitter(rng), 1.0 + jitter(rng)) * scale,
                                     k11 = math::Vec2d(1.0 + jitter(rng), 1.0 + jitter(rng)) * scale;
    const double s = unit(rng), t = unit(rng);
    const math::Vec2d p = k00 * ((1 - s) * (1 - t)) + k10 * (s * (1 - t)) + k01 * ((1 - s) * t) + k11 * (s * t);
    const math::Vec2d st = StereoPhaseToDepthConverter::InverseBilinear(p, k00, k10, k01, k11);
    EXPECT_NEAR(st[0], s, 1e-7) << trial;
    EXPECT_NEAR(st[1], t, 1e-7) << trial;
  }
  // Outside the quad the weights leave [0, 1].
  const math::Vec2d st = StereoPhaseToDepthConverter::InverseBilinear({2.0, 0.5}, {0, 0}, {1, 0}, {0, 1}, {1, 1});
  EXPECT_DOUBLE_EQ(st[0], 2.0);
}

}  // namespace
}  // namespace scan
