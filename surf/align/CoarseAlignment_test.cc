#include "surf/align/Ransam3d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "surf/testing/SyntheticScans.h"

namespace surf {
namespace {

using math::Frame4d;
using math::Vec3d;

constexpr double kDeg = std::numbers::pi / 180.0;
const Vec3d kAxis(0.0, 0.0, 1.0);
const Vec3d kAxisPoint(4.0, -3.0, 0.0);

// Two views of the lumpy blob on a turntable, step degrees apart, as
// prepared fragments; truth maps A's coordinates into B's.
class BlobPair : public ::testing::Test {
 protected:
  void Make(double stepDegrees, int around = 160) {
    testing::ScanSpec spec;
    spec.samplesAround = around;
    spec.noiseSigma = 0.02;
    spec.noiseSeed = 40;
    views = testing::MakeTurntableScans(testing::LumpyBlob(40.0, 14, 7), spec, 2, stepDegrees * kDeg, kAxis,
                                        kAxisPoint);
    truth = views.truth[1] * views.truth[0].GetInverse();
    Fragment::InitOptions options;
    options.shuffleSeed = 1;
    ASSERT_TRUE(a.Init(*views.scans[0], options));
    options.shuffleSeed = 2;
    ASSERT_TRUE(b.Init(*views.scans[1], options));
  }
  // RMS displacement of A's vertices between the found pose and the truth.
  double Error(const Frame4d& found) const { return testing::RmsDisplacement(*views.scans[0], found, truth); }

  testing::TurntableScans views;
  Frame4d truth;
  Fragment a, b;
};

TEST_F(BlobPair, IdenticalScansScoreNearOneAtTheIdentity) {
  Make(0.0);
  Ransam3d engine(7);
  engine.Reseed();
  CoarseSearchState state;
  CoarseSearchParams params;
  params.effort = 0.2;
  ASSERT_TRUE(engine.Search(a, a, params, state));
  const double n = a.GetNumVertices();
  // Nearly every point is an inlier of its own copy: m/n ≈ 1.
  EXPECT_NEAR(state.bestScore, 1.0 + 1.96 / (2.0 * std::sqrt(n)), 0.03);
  EXPECT_LT(Error(state.bestTransform), a.GetResolution());
  EXPECT_FLOAT_EQ(engine.GetInlierTolerance(), a.GetResolution());
}

TEST_F(BlobPair, FreeRotationFindsTheTurntableStep) {
  Make(45.0);
  Ransam3d engine(3);
  engine.Reseed();
  CoarseSearchState state;
  ASSERT_TRUE(engine.Search(a, b, {}, state));
  EXPECT_EQ(engine.GetLastStats().hypotheses, 5000);
  EXPECT_GT(engine.GetLastStats().improvements, 0);
  // Within the reach of fine alignment: a few resolutions.
  EXPECT_LT(Error(state.bestTransform), 3.0 * a.GetResolution());
  EXPECT_GT(state.bestScore, 0.4);
}

TEST_F(BlobPair, SameSeedAndThreadsGiveTheSameResult) {
  Make(45.0);
  CoarseSearchParams params;
  params.numThreads = 2;
  params.effort = 0.5;
  Frame4d first;
  double firstScore = 0.0;
  for (int run = 0; run < 2; ++run) {
    Ransam3d engine(99);
    engine.Reseed();
    a.SetRatingCursor(0);
    CoarseSearchState state;
    ASSERT_TRUE(engine.Search(a, b, params, state));
    EXPECT_EQ(engine.GetLastStats().threads, 2);
    if (run == 0) {
      first = state.bestTransform;
      firstScore = state.bestScore;
    } else {
      EXPECT_EQ(state.bestTransform, first);
      EXPECT_EQ(state.bestScore, firstScore);
    }
  }
}

TEST(RotationAngleAbout, IsTheSignedTurnAboutTheAxis) {
  const Frame4d turn = math::FRotZ(30.0 * kDeg);
  EXPECT_NEAR(RotationAngleAbout(turn, kAxis), 30.0 * kDeg, 1e-12);
  EXPECT_NEAR(RotationAngleAbout(turn, kAxis * 5.0), 30.0 * kDeg, 1e-12);
  EXPECT_NEAR(RotationAngleAbout(turn, kAxis * -1.0), -30.0 * kDeg, 1e-12);
  EXPECT_NEAR(RotationAngleAbout(turn.GetInverse(), kAxis), -30.0 * kDeg, 1e-12);
  // 190° about +z is −170°; a translation does not count.
  EXPECT_NEAR(RotationAngleAbout(math::FTrans(1.0, 2.0, 3.0) * math::FRotZ(190.0 * kDeg), kAxis), -170.0 * kDeg,
              1e-12);
  // A turn about a perpendicular axis has no share along z; a zero axis
  // gives 0.
  EXPECT_NEAR(RotationAngleAbout(math::FRotX(30.0 * kDeg), kAxis), 0.0, 1e-12);
  EXPECT_EQ(RotationAngleAbout(turn, Vec3d(0.0, 0.0, 0.0)), 0.0);
}

TEST_F(BlobPair, KnownAngleFoldsAbove180Degrees) {
  // 350° is the same turn as −10°: the comparison uses 10°.
  Make(10.0);
  Ransam3d engine(5);
  engine.Reseed();
  CoarseSearchState state;
  CoarseSearchParams params;
  params.angle = 350.0 * kDeg;
  params.angleTolerance = 3.0 * kDeg;
  params.effort = 0.1;
  ASSERT_TRUE(engine.Search(a, b, params, state));
  EXPECT_EQ(engine.GetLastStats().hypotheses, 5000);
  EXPECT_NEAR(RotationAngle(state.bestTransform), 10.0 * kDeg, 3.0 * kDeg + 1e-9);
  EXPECT_LT(Error(state.bestTransform), 3.0 * a.GetResolution());
}

TEST_F(BlobPair, PosesToAvoidAndToKeep) {
  Make(45.0);
  CoarseSearchParams params;
  params.posesToAvoid = {{truth}, 10.0, 10.0 * kDeg};
  Ransam3d engine(3);
  engine.Reseed();
  CoarseSearchState state;
  engine.Search(a, b, params, state);
  EXPECT_GT(Error(state.bestTransform), 5.0);  // never near the truth

  params.posesToAvoid = {};
  params.posesToKeep = {{math::FTrans(0.0, 0.0, 300.0), truth}, 10.0, 10.0 * kDeg};
  engine.Reseed();
  state = {};
  ASSERT_TRUE(engine.Search(a, b, params, state));
  EXPECT_LT(Error(state.bestTransform), 3.0 * a.GetResolution());
}

TEST_F(BlobPair, KnownAxisWithAPointAndAngle) {
  Make(45.0);
  CoarseSearchParams params;
  params.axis = kAxis * 3.0;  // any length
  params.axisPoint = kAxisPoint;
  params.angle = 45.0 * kDeg;
  params.effort = 0.5;
  Ransam3d engine(8);
  engine.Reseed();
  CoarseSearchState state;
  ASSERT_TRUE(engine.Search(a, b, params, state));
  EXPECT_EQ(engine.GetLastStats().hypotheses, 2500);
  EXPECT_NEAR(RotationAngle(state.bestTransform), 45.0 * kDeg, 1e-9);
  EXPECT_LT(Error(state.bestTransform), 3.0 * a.GetResolution());
  // Without the point: a tenth of the hypotheses.
  params.axisPoint.reset();
  engine.Reseed();
  state = {};
  engine.Search(a, b, params, state);
  EXPECT_EQ(engine.GetLastStats().hypotheses, 250);
}

TEST_F(BlobPair, NothingToSearch) {
  Make(45.0);
  Ransam3d engine(1);
  engine.Reseed();
  CoarseSearchState state;
  const CoarseSearchState before = state;
  CoarseSearchParams params;
  params.effort = 0.0;  // no hypothesis
  EXPECT_FALSE(engine.Search(a, b, params, state));
  EXPECT_EQ(state.bestScore, before.bestScore);
  // A restriction that names no vertex.
  params.effort = 1.0;
  params.restrictionA.assign(static_cast<std::size_t>(a.GetNumVertices()), false);
  EXPECT_FALSE(engine.Search(a, b, params, state));
  // A restriction of the wrong size.
  params.restrictionA.assign(3, true);
  EXPECT_FALSE(engine.Search(a, b, params, state));
  // A one-point fragment, and one whose points all coincide (no pair fits
  // the table).
  params.restrictionA.clear();
  v3d::Geo one;
  one.AddMesh(1)->AddVertexNormals();
  one.GetMesh(0)->AddVertex(math::Vec3f(1.f, 2.f, 3.f));
  Fragment single;
  ASSERT_TRUE(single.Init(one, {}));
  EXPECT_FALSE(engine.Search(single, b, params, state));
  one.GetMesh(0)->AddVertex(math::Vec3f(1.f, 2.f, 3.f));
  ASSERT_TRUE(single.Init(one, {}));
  EXPECT_FALSE(engine.Search(single, b, params, state));
  EXPECT_EQ(state.bestScore, before.bestScore);
}

TEST_F(BlobPair, CancellingStopsAtTheNextRound) {
  Make(45.0);
  Ransam3d engine(1);
  engine.Reseed();
  CoarseSearchState state;
  int calls = 0;
  engine.Search(a, b, {}, state, [&](double) { return ++calls >= 2; });
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(engine.GetLastStats().cancelled);
}

TEST_F(BlobPair, TextureSelectionRestrictsSampling) {
  Make(45.0);
  // Keep only vertices of A's upper half (a stand-in for texture edges):
  // every match must come from there, and the search still succeeds.
  std::vector<bool> upper(static_cast<std::size_t>(a.GetNumVertices()));
  for (std::size_t i = 0; i < upper.size(); ++i) upper[i] = a.GetPositions()[i][2] > 0.f;
  a.SetSelection(upper);
  Ransam3d engine(4);
  engine.Reseed();
  CoarseSearchState state;
  ASSERT_TRUE(engine.Search(a, b, {}, state));
  EXPECT_LT(Error(state.bestTransform), 3.0 * a.GetResolution());
}

}  // namespace
}  // namespace surf
