#include "surf/align/FineAlignment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>

#include "surf/align/Ransam3d.h"
#include "surf/testing/SyntheticScans.h"

namespace surf {
namespace {

using math::Frame4d;
using math::Vec3d;

constexpr double kDeg = std::numbers::pi / 180.0;

double MaxDifference(const Frame4d& a, const Frame4d& b) {
  double d = 0.0;
  for (int i = 0; i < 16; ++i) d = std::max(d, std::abs(a.m[i] - b.m[i]));
  return d;
}

TEST(RigidFit, RecoversAKnownMotionAndRejectsALine) {
  const Frame4d motion = math::FRotZ(0.4) * math::FRotX(-0.2) * math::FTrans(3.0, -1.0, 2.0);
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> u(-20.0, 20.0);
  RigidFitAccumulator fit;
  for (int i = 0; i < 50; ++i) {
    const Vec3d q(u(rng), u(rng), u(rng));
    fit.Add(q, motion.MultP(q));
  }
  Frame4d found;
  ASSERT_TRUE(fit.Solve(found));
  EXPECT_LT(MaxDifference(found, motion), 1e-9);

  RigidFitAccumulator line;
  for (int i = 0; i < 10; ++i) line.Add(Vec3d(i, 2.0 * i, 0.0), Vec3d(i, 2.0 * i, 1.0));
  EXPECT_FALSE(line.Solve(found));
  RigidFitAccumulator two;
  two.Add(Vec3d(), Vec3d());
  two.Add(Vec3d(1.0, 0.0, 0.0), Vec3d(1.0, 0.0, 0.0));
  EXPECT_FALSE(two.Solve(found));
}

TEST(PointToPlaneFit, ConvergesOnASphereAndRejectsASpot) {
  // Samples on a sphere of radius 20 moved by a small motion, targets the
  // foot points on the sphere's tangent planes: each step removes most of
  // the error (the weak pull along the planes holds back a few per cent),
  // and a few steps with new targets remove it all. The sphere's turn about
  // its centre, which no target resists, stays small.
  const Frame4d motion = math::FTrans(0.05, -0.03, 0.02);
  std::mt19937 rng(2);
  std::normal_distribution<double> g(0.0, 1.0);
  std::vector<Vec3d> normals;
  for (int i = 0; i < 500; ++i) normals.push_back(Vec3d(g(rng), g(rng), g(rng)).GetNormalized());
  Frame4d current = motion;
  Frame4d found;
  for (int step = 0; step < 6; ++step) {
    PointToPlaneAccumulator fit;
    for (const Vec3d& n : normals) {
      const Vec3d q = current.MultP(n * 20.0);
      // The sphere's own tangent plane at the sample's direction.
      const Vec3d m = q.GetNormalized();
      fit.Add(q, q - m * (q.Length() - 20.0), m);
    }
    ASSERT_TRUE(fit.Solve(found));
    const double before = current.GetTrans().Length();
    current = found * current;
    if (step == 0) {
      EXPECT_LT(current.GetTrans().Length(), 0.15 * before);
    }
  }
  EXPECT_LT(current.GetTrans().Length(), 1e-6);
  EXPECT_LT(RotationAngle(current), 1e-3);  // a free turn, started but not driven

  PointToPlaneAccumulator spot;
  for (int i = 0; i < 5; ++i) spot.Add(Vec3d(1.0, 1.0, 1.0), Vec3d(1.0, 1.0, 1.0), Vec3d(0.0, 0.0, 1.0));
  EXPECT_FALSE(spot.Solve(found));
}

TEST(NearestRigid, RepairsDriftedRotations) {
  Frame4d f = math::FRotY(0.3) * math::FTrans(1.0, 2.0, 3.0);
  f(0, 0) *= 1.001;
  f(1, 0) += 0.002;
  const Frame4d r = NearestRigid(f);
  EXPECT_TRUE(r.IsOrthoNorm(1e-12));
  EXPECT_EQ(r.GetTrans(), f.GetTrans());
  EXPECT_LT(MaxDifference(r, math::FRotY(0.3) * math::FTrans(1.0, 2.0, 3.0)), 3e-3);
}

class IcpOnBlob : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ScanSpec spec;
    spec.samplesAround = 160;
    spec.noiseSigma = 0.02;
    geo = testing::MakeScan(testing::LumpyBlob(40.0, 14, 7), spec);
    Fragment::InitOptions options;
    options.shuffleSeed = 3;
    ASSERT_TRUE(f.Init(*geo, options));
    options.shuffleSeed = 4;
    ASSERT_TRUE(s.Init(*geo, options));
  }
  std::unique_ptr<v3d::Geo> geo;
  Fragment f, s;
};

TEST_F(IcpOnBlob, IdenticalScansWithAnOffsetConvergeToIdentity) {
  for (const IcpFit fit : {IcpFit::kPointToPlane, IcpFit::kFootPoint}) {
    std::vector<Frame4d> poses{math::FRotZ(0.5 * kDeg) * math::FTrans(0.4, -0.3, 0.2)};
    IcpParams params;
    params.fit = fit;
    params.seed = 5;
    IcpStats stats;
    ASSERT_TRUE(RunIcp(f, {&s}, poses, params, &stats));
    EXPECT_EQ(stats.iterations, 20);
    EXPECT_GT(stats.acceptedLastIteration, 1000);
    // The point-to-plane fit lands within the noise (0.02 mm) on ~2000
    // samples; the foot-point fit slides more slowly.
    const double bound = fit == IcpFit::kPointToPlane ? 0.01 : 0.2;
    EXPECT_LT(testing::RmsDisplacement(*geo, poses[0], Frame4d()), bound);
  }
}

TEST_F(IcpOnBlob, CaptureStageReachesAStartBeyondThePlainDistance) {
  // The sampled scan turned by 15° about the blob's centre moves its far
  // side by up to 10 mm, several times the distance of one resolution
  // (1.8 mm): the plain run loses its way (4 mm off after 20 iterations),
  // while 5 capture iterations at F's radius × 0.3 (about 14 mm) first pull
  // the scan in and the plain ones then land within the noise (0.02 mm).
  const Frame4d start = math::FRotX(15.0 * kDeg);
  IcpParams params;
  params.seed = 8;
  params.distanceFactor = 1.0;
  std::vector<Frame4d> plain{start};
  ASSERT_TRUE(RunIcp(f, {&s}, plain, params));
  params.captureIterations = 5;
  params.captureAngle = 0.3;
  std::vector<Frame4d> captured{start};
  IcpStats stats;
  ASSERT_TRUE(RunIcp(f, {&s}, captured, params, &stats));
  EXPECT_EQ(stats.iterations, 25);
  EXPECT_FLOAT_EQ(stats.distance, std::max(f.GetResolution(), s.GetResolution()));
  const double plainRms = testing::RmsDisplacement(*geo, plain[0], Frame4d());
  const double capturedRms = testing::RmsDisplacement(*geo, captured[0], Frame4d());
  std::printf("15 deg start: %.4f mm after the plain run, %.4f mm with the capture stage (radius %.1f mm)\n",
              plainRms, capturedRms, f.GetRadius());
  EXPECT_GT(plainRms, 1.0);
  EXPECT_LT(capturedRms, 0.05);
  // A capture angle below 0 is refused; 0 runs the capture iterations at r.
  params.captureAngle = -0.1;
  std::vector<Frame4d> refused{start};
  EXPECT_FALSE(RunIcp(f, {&s}, refused, params));
  EXPECT_EQ(refused[0], start);
}

TEST_F(IcpOnBlob, SeparatedOrTiltedScansLeaveThePoseAlone) {
  // Far apart: no sample is within reach, every iteration keeps the pose.
  const Frame4d far = math::FTrans(500.0, 0.0, 0.0);
  std::vector<Frame4d> poses{far};
  IcpParams params;
  params.seed = 6;
  IcpStats stats;
  ASSERT_TRUE(RunIcp(f, {&s}, poses, params, &stats));
  EXPECT_EQ(stats.acceptedTotal, 0);
  EXPECT_EQ(poses[0], far);
  // Normals that disagree by 45° (dot 0.707 ≤ 0.75) never contribute: turn
  // the sampled scan's normals about a tangent and keep its points.
  v3d::Geo tilted(*geo);
  auto& normals = tilted.GetMesh(0)->mGetVertexNormals();
  const auto& positions = tilted.GetMesh(0)->GetVertexCoords();
  for (std::size_t i = 0; i < normals.size(); ++i) {
    const Vec3d n(normals[i]);
    const Vec3d t = (n ^ Vec3d(positions[i][2], positions[i][0], positions[i][1])).GetNormalized();
    normals[i] = math::Vec3f(n * std::cos(45.0 * kDeg) + t * std::sin(45.0 * kDeg));
  }
  Fragment tiltedFragment;
  ASSERT_TRUE(tiltedFragment.Init(tilted, {}));
  poses = {Frame4d()};
  ASSERT_TRUE(RunIcp(f, {&tiltedFragment}, poses, params, &stats));
  EXPECT_EQ(stats.acceptedTotal, 0);
  EXPECT_EQ(poses[0], Frame4d());
}

TEST_F(IcpOnBlob, ExcludedVerticesAndBadArguments) {
  std::vector<bool> all(static_cast<std::size_t>(f.GetNumVertices()), true);
  f.SetExclusion(all);
  std::vector<Frame4d> poses{math::FTrans(0.3, 0.0, 0.0)};
  IcpStats stats;
  ASSERT_TRUE(RunIcp(f, {&s}, poses, {}, &stats));
  EXPECT_EQ(stats.acceptedTotal, 0);
  f.SetExclusion({});
  EXPECT_FALSE(RunIcp(f, {}, poses, {}));
  EXPECT_FALSE(RunIcp(f, {&s, &s}, poses, {}));  // one pose for two fragments
  IcpParams zero;
  zero.distanceFactor = 0.0;
  EXPECT_FALSE(RunIcp(f, {&s}, poses, zero));
  Fragment empty;
  EXPECT_FALSE(RunIcp(empty, {&s}, poses, {}));
}

}  // namespace
}  // namespace surf
