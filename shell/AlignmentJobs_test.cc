// The alignment page's jobs on synthetic turntable scans of a lumpy blob
// with known poses (surf/testing/SyntheticScans.h).
#include "shell/AlignmentJobs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "shell/testing/ShellFixture.h"
#include "shell/testing/TurntableBlob.h"

namespace shell {
namespace {

using math::Frame4d;
using math::Vec3d;
using testing::SettingPath;

using testing::kDeg;
using testing::kRingRms;
const Vec3d& kAxis = testing::kTableAxis;
const Vec3d& kAxisPoint = testing::kTableAxisPoint;

// From surf's registration tests at the density of testing::BlobScanSpec:
// a pair lands within 0.05 mm RMS of the truth.
constexpr double kPairRms = 0.05;

class Alignment : public ::testing::Test {
 protected:
  Alignment()
      : m_root("AlignmentJobs_test"),
        m_settings(testing::MakeSettings(m_root)) {
    Set("ShapeFusion/Registration", "UseSurfaceFeatures", "false");
    surf::ShapeFusionParams params;
    params.seed = 5;
    m_fusion.SetShapeFusionParams(params);
    AlignmentJobs::Options options;
    options.seed = 11;
    options.effort = 0.1;
    m_jobs = std::make_unique<AlignmentJobs>(m_fusion, *m_settings, m_progress, [this](const std::string& line) {
      m_log.push_back(line);
    }, options);
  }

  void Set(const std::string& group, const std::string& key, const std::string& value) {
    m_settings->SetValue(m_settings->FindSettingElement(SettingPath(group, key)), value);
  }
  // n views of the blob, step degrees apart, added to the list at the
  // scanner's pose (identity frames).
  void AddViews(int n, double step, const Vec3d& axis = kAxis) {
    m_views = surf::testing::MakeTurntableScans(m_blob, testing::BlobScanSpec(70), n, step * kDeg, axis, kAxisPoint);
    for (auto& scan : m_views.scans) {
      m_geos.push_back(scan.get());
      m_fusion.AddGeo(surf::GeoItem{std::shared_ptr<v3d::Geo>(std::move(scan)), {}});
    }
  }
  // View k's true frame: its coordinates into view 0's.
  Frame4d Truth(int k) const { return m_views.truth[0] * m_views.truth[std::size_t(k)].GetInverse(); }
  // RMS distance of view k from where the truth puts it relative to view 0.
  double Error(int k) const {
    const Frame4d relative = m_fusion.GetGeo(0)->GetFrame().GetInverse() * m_fusion.GetGeo(k)->GetFrame();
    return surf::testing::RmsDisplacement(*m_fusion.GetGeo(k), relative, Truth(k));
  }
  AlignmentSettings PairSettings(double angle) {
    AlignmentSettings settings = AlignmentSettings::FromSettings(*m_settings);
    settings.angleKnown = true;
    settings.rotationAngle = angle;
    return settings;
  }
  bool Logged(const std::string& part) const {
    return std::any_of(m_log.begin(), m_log.end(), [&](const std::string& l) { return l.find(part) != l.npos; });
  }

  testing::TemporaryRoot m_root;
  std::unique_ptr<Settings> m_settings;
  ProgressReporter m_progress;
  surf::ShapeFusion m_fusion;
  const surf::testing::LumpyBlob m_blob{40.0, 14, 7};
  surf::testing::TurntableScans m_views;
  std::vector<v3d::Geo*> m_geos;
  std::vector<std::string> m_log;
  std::unique_ptr<AlignmentJobs> m_jobs;
};

TEST_F(Alignment, SettingsComeFromTheRegistrationGroup) {
  Set("ShapeFusion/Registration", "RotationAxisZ", "0,5");
  Set("ShapeFusion/Registration", "AlignmentMode", "coarse");
  const AlignmentSettings s = AlignmentSettings::FromSettings(*m_settings);
  EXPECT_EQ(s.mode, "coarse");
  EXPECT_EQ(s.axis, Vec3d(0.0, 1.0, 0.5));
  EXPECT_EQ(s.rotationAngleTolerance, 5.0);
  EXPECT_EQ(s.useTexturePercentage, 50);
  EXPECT_FALSE(s.useSurfaceFeatures);
  EXPECT_EQ(s.retryLinearToleranceFactor, 2.0);
}

TEST_F(Alignment, PairWithTheKnownStepFindsTheTruePose) {
  AddViews(2, 45.0);
  ASSERT_TRUE(m_jobs->StartPairAlignment_Async(1, 0, PairSettings(45.0)));
  EXPECT_TRUE(m_jobs->IsBusy());
  EXPECT_FALSE(m_jobs->StartPairAlignment_Async(1, 0, PairSettings(45.0)));  // one job at a time
  EXPECT_TRUE(Logged("another alignment is running"));
  m_jobs->Wait();
  EXPECT_FALSE(m_jobs->IsBusy());
  EXPECT_FALSE(m_progress.IsBusy());
  const AlignmentJobs::PairResult result = m_jobs->GetLastPairResult();
  EXPECT_TRUE(result.accepted);
  EXPECT_FALSE(result.retried);
  EXPECT_GT(result.coarseScore, 0.4);
  EXPECT_GT(result.inlierFraction, 0.5);
  EXPECT_NEAR(result.turn, 45.0, 0.05);
  EXPECT_LT(Error(1), kPairRms);
  EXPECT_EQ(m_fusion.GetGeo(0)->GetFrame(), Frame4d());  // B stays
  EXPECT_TRUE(Logged("Alignment of scan 1 to scan 0: coarse score"));
  // The alignment can be undone.
  EXPECT_TRUE(m_fusion.Undo());
  EXPECT_EQ(m_fusion.GetGeo(1)->GetFrame(), Frame4d());
}

TEST_F(Alignment, AWrongKnownAngleIsRejectedAndTheScanStays) {
  AddViews(2, 45.0);
  AlignmentSettings settings = PairSettings(120.0);
  settings.rotationAngleTolerance = 2.0;
  ASSERT_TRUE(m_jobs->StartPairAlignment_Async(1, 0, settings));
  m_jobs->Wait();
  const AlignmentJobs::PairResult result = m_jobs->GetLastPairResult();
  EXPECT_FALSE(result.accepted);
  EXPECT_FALSE(result.cancelled);
  EXPECT_EQ(m_fusion.GetGeo(1)->GetFrame(), Frame4d());
  EXPECT_TRUE(Logged("Alignment of scan 1 to scan 0: rejected; the scan stays where it was."));
}

TEST_F(Alignment, AboutAKnownAxisTheKnownTurnHasASign) {
  // View 1 is the blob turned by +45° about +z: the table's step from scan 0
  // to scan 1, so scan 1 goes onto scan 0 by −45° about +z.
  AddViews(2, 45.0);
  AlignmentSettings settings = PairSettings(45.0);
  settings.axisKnown = true;
  settings.axis = kAxis;
  ASSERT_TRUE(m_jobs->StartPairAlignment_Async(1, 0, settings));
  m_jobs->Wait();
  EXPECT_TRUE(m_jobs->GetLastPairResult().accepted);
  EXPECT_NEAR(m_jobs->GetLastPairResult().turn, 45.0, 0.05);
  EXPECT_LT(Error(1), kPairRms);

  // The same step about the flipped axis is −45°.
  m_fusion.SetGeoFrame(1, Frame4d());
  settings.axis = kAxis * -1.0;
  settings.rotationAngle = -45.0;
  ASSERT_TRUE(m_jobs->StartPairAlignment_Async(1, 0, settings));
  m_jobs->Wait();
  EXPECT_TRUE(m_jobs->GetLastPairResult().accepted);
  EXPECT_LT(Error(1), kPairRms);

  // The step the wrong way round finds no pose and leaves the scan.
  m_fusion.SetGeoFrame(1, Frame4d());
  settings.axis = kAxis;
  settings.rotationAngle = -45.0;
  ASSERT_TRUE(m_jobs->StartPairAlignment_Async(1, 0, settings));
  m_jobs->Wait();
  EXPECT_FALSE(m_jobs->GetLastPairResult().accepted);
  EXPECT_EQ(m_fusion.GetGeo(1)->GetFrame(), Frame4d());
}

TEST_F(Alignment, ACancelledPairStaysWhereItWas) {
  AddViews(2, 45.0);
  m_progress.RequestCancel();
  ASSERT_TRUE(m_jobs->StartPairAlignment_Async(1, 0, PairSettings(45.0)));
  m_jobs->Wait();
  EXPECT_TRUE(m_jobs->GetLastPairResult().cancelled);
  EXPECT_EQ(m_fusion.GetGeo(1)->GetFrame(), Frame4d());
  EXPECT_TRUE(Logged("cancelled; the scan stays where it was."));
}

TEST_F(Alignment, BadRequestsStartNothing) {
  AddViews(2, 45.0);
  EXPECT_FALSE(m_jobs->StartPairAlignment_Async(1, 1, PairSettings(45.0)));
  EXPECT_FALSE(m_jobs->StartPairAlignment_Async(1, 5, PairSettings(45.0)));
  EXPECT_FALSE(m_jobs->StartPairAlignment_Async(-1, 0, PairSettings(45.0)));
  EXPECT_FALSE(m_jobs->StartAlignSequence_Async({0}, "turntable_const_angle"));
  EXPECT_FALSE(m_jobs->StartAlignSequence_Async({0, 1}, "spiral"));
  EXPECT_FALSE(m_jobs->StartAlignSequence_Async({0, 0}, "global"));
  EXPECT_FALSE(m_jobs->StartAlignSequence_Async({0, 2}, "global"));
  EXPECT_FALSE(m_jobs->IsBusy());
  EXPECT_TRUE(Logged("unknown mode \"spiral\""));
}

// Eight views around the blob whose pairwise alignments left errors of 0.5°
// and about 0.3 mm, and view 4 not aligned at all (at the scanner's pose),
// with the table's axis unknown: the sequence alignment puts view 4 on the
// common step and refines the ring.
TEST_F(Alignment, TurntableSequenceReplacesAFailedStepAndClosesTheRing) {
  AddViews(8, 45.0);
  // A scan of another run, which must take no part.
  surf::testing::ScanSpec other;
  other.samplesAround = 60;
  m_fusion.AddGeo(surf::GeoItem{surf::testing::MakeScan(m_blob, other), {}});
  std::mt19937 rng(5);
  std::normal_distribution<double> g(0.0, 1.0);
  for (int k = 1; k < 8; ++k) {
    if (k == 4) continue;
    const Frame4d error = surf::testing::TurntablePose(Vec3d(g(rng), g(rng), g(rng)), Vec3d(), 0.5 * kDeg) *
                          math::FTrans(0.2 * g(rng), 0.2 * g(rng), 0.2 * g(rng));
    m_fusion.SetGeoFrame(k, error * Truth(k));
  }
  EXPECT_GT(Error(4), 10.0);
  Set("ShapeFusion/GlobalFineRegistration", "Iterations", "20");
  ASSERT_TRUE(m_jobs->StartAlignSequence_Async({0, 1, 2, 3, 4, 5, 6, 7}, "turntable_const_angle"));
  m_jobs->Wait();
  const AlignmentJobs::SequenceResult result = m_jobs->GetLastSequenceResult();
  EXPECT_EQ(result.replacedLinks, (std::vector<bool>{false, false, false, false, true, true, false, false}));
  EXPECT_NEAR(result.stepTurn, 45.0, 1.0);
  EXPECT_FALSE(result.onTableModel);
  EXPECT_TRUE(result.refined);
  double worst = 0.0;
  for (int k = 1; k < 8; ++k) worst = std::max(worst, Error(k));
  EXPECT_LT(worst, kRingRms);
  EXPECT_EQ(m_fusion.GetGeo(8)->GetFrame(), Frame4d());
  EXPECT_EQ(m_fusion.GetGeo(8)->GetVisibility(), v3d::Node::kDefaultVisibility);
  EXPECT_FALSE(m_progress.IsBusy());
  EXPECT_FALSE(m_progress.IsSessionActive());
  EXPECT_TRUE(Logged("common step"));
}

// The same ring with the table's step and axis known (8 scans over 360°
// about +z): pairwise fits that each turn 0.03° short of the table (as fits
// of rig scans do), with 0.01° and 0.01 mm of scatter, and view 4 not
// aligned. The table's 45° about +z replaces the common step and every view
// goes onto it; the ring closes where the chained fits would leave view 7
// 0.2° (0.15 mm) short, and view 4's failed link is no exception. What
// remains comes from the scatter of the mean link (0.004 mm over six
// links), which shifts its axis line by 0.004 / (2 sin 22.5°) ≈ 0.005 mm:
// view 4, half way round, moves by twice that.
TEST_F(Alignment, WithTheTablesStepAndAxisKnownEveryScanGoesOntoIt) {
  AddViews(8, 45.0);
  Set("ShapeFusion/Registration", "AxisKnown", "true");
  Set("ShapeFusion/Registration", "RotationAxisY", "0");
  Set("ShapeFusion/Registration", "RotationAxisZ", "1");
  std::mt19937 rng(9);
  std::normal_distribution<double> g(0.0, 1.0);
  Frame4d frame;
  for (int k = 1; k < 8; ++k) {
    const Frame4d truthLink = Truth(k - 1).GetInverse() * Truth(k);
    const Frame4d error = surf::testing::TurntablePose(Vec3d(g(rng), g(rng), g(rng)), Vec3d(), 0.01 * kDeg) *
                          math::FTrans(0.01 * g(rng), 0.01 * g(rng), 0.01 * g(rng)) *
                          surf::testing::TurntablePose(kAxis, kAxisPoint, 0.03 * kDeg);
    // View 4 stays where the table put it; view 5 is aligned onto it.
    frame = k == 4 ? Frame4d() : frame * error * truthLink;
    m_fusion.SetGeoFrame(k, frame);
  }
  ASSERT_TRUE(m_jobs->StartAlignSequence_Async({0, 1, 2, 3, 4, 5, 6, 7}, "turntable_const_angle"));
  m_jobs->Wait();
  const AlignmentJobs::SequenceResult result = m_jobs->GetLastSequenceResult();
  EXPECT_TRUE(result.onTableModel);
  EXPECT_FALSE(result.refined);
  EXPECT_EQ(result.replacedLinks, (std::vector<bool>{false, false, false, false, true, false, false, false}));
  EXPECT_NEAR(result.stepTurn, 45.0 - 0.03, 0.01);
  // The axis the fits show is the stated one but for their scatter (0.01°
  // per step about random axes), which keeps it.
  EXPECT_LT(result.axisOffset, 0.01);
  EXPECT_GT(result.axisOffsetError, 0.0);
  EXPECT_FALSE(result.axisFromScans);
  EXPECT_EQ(result.tableAxis, kAxis);
  double worst = 0.0;
  for (int k = 1; k < 8; ++k) {
    worst = std::max(worst, Error(k));
    // Each step is the table's turn exactly.
    const Frame4d link = m_fusion.GetGeo(k - 1)->GetFrame().GetInverse() * m_fusion.GetGeo(k)->GetFrame();
    EXPECT_NEAR(surf::RotationAngle(link) / kDeg, 45.0, 1e-9);
  }
  EXPECT_LT(worst, 0.02);
  EXPECT_TRUE(Logged("every scan placed on the table's step of 45.000 degrees about its axis"));
}

// A table that leans 1° from the axis the run states (+z, the calibrated
// world's up): pairwise fits as above (0.03° short about the table's own
// axis, 0.01° / 0.01 mm scatter). The views go onto the table's step about
// the axis the fits show, not about the stated one, which would leave the
// view half way round 2·sin(1°/2)·r off (≈ 1 mm at the blob's 30–40 mm).
TEST_F(Alignment, ATableLeaningFromTheStatedAxisTurnsAboutItsOwnAxis) {
  const Vec3d leaning(0.0, -std::sin(1.0 * kDeg), std::cos(1.0 * kDeg));
  AddViews(8, 45.0, leaning);
  Set("ShapeFusion/Registration", "AxisKnown", "true");
  Set("ShapeFusion/Registration", "RotationAxisY", "0");
  Set("ShapeFusion/Registration", "RotationAxisZ", "1");
  std::mt19937 rng(3);
  std::normal_distribution<double> g(0.0, 1.0);
  Frame4d frame;
  for (int k = 1; k < 8; ++k) {
    const Frame4d truthLink = Truth(k - 1).GetInverse() * Truth(k);
    const Frame4d error = surf::testing::TurntablePose(Vec3d(g(rng), g(rng), g(rng)), Vec3d(), 0.01 * kDeg) *
                          math::FTrans(0.01 * g(rng), 0.01 * g(rng), 0.01 * g(rng)) *
                          surf::testing::TurntablePose(leaning, kAxisPoint, 0.03 * kDeg);
    frame = frame * error * truthLink;
    m_fusion.SetGeoFrame(k, frame);
  }
  // The stated axis would place view 4 this far off: the test bites.
  const Frame4d aboutStated = surf::testing::TurntablePose(kAxis, kAxisPoint, -180.0 * kDeg);
  EXPECT_GT(surf::testing::RmsDisplacement(*m_fusion.GetGeo(4), aboutStated, Truth(4)), 0.5);

  ASSERT_TRUE(m_jobs->StartAlignSequence_Async({0, 1, 2, 3, 4, 5, 6, 7}, "turntable_const_angle"));
  m_jobs->Wait();
  const AlignmentJobs::SequenceResult result = m_jobs->GetLastSequenceResult();
  ASSERT_TRUE(result.onTableModel);
  EXPECT_NEAR(result.axisOffset, 1.0, 0.01);
  EXPECT_LT(std::acos(std::min(1.0, Dot(result.tableAxis, leaning))) / kDeg, 0.01);
  double worst = 0.0;
  for (int k = 1; k < 8; ++k) worst = std::max(worst, Error(k));
  EXPECT_LT(worst, 0.02);
  EXPECT_TRUE(result.axisFromScans);
  EXPECT_TRUE(Logged("degrees from the stated axis, which it replaces"));
}

TEST_F(Alignment, AStepThatIsNotTheTurntablesIsNotImposed) {
  AddViews(4, 45.0);
  for (int k = 1; k < 4; ++k) m_fusion.SetGeoFrame(k, Truth(k));
  m_fusion.SetGeoFrame(3, Frame4d());  // a failed pair
  Set("Turntable", "NumberOfScans", "6");  // the table would turn by 60°
  Set("ShapeFusion/GlobalFineRegistration", "Iterations", "0");
  ASSERT_TRUE(m_jobs->StartAlignSequence_Async({0, 1, 2, 3}, "turntable_const_angle"));
  m_jobs->Wait();
  const AlignmentJobs::SequenceResult result = m_jobs->GetLastSequenceResult();
  EXPECT_NEAR(result.stepTurn, 45.0, 0.01);
  EXPECT_EQ(result.replacedLinks, (std::vector<bool>(4, false)));
  EXPECT_FALSE(result.refined);
  EXPECT_EQ(m_fusion.GetGeo(3)->GetFrame(), Frame4d());
  EXPECT_TRUE(Logged("not by the turntable's 60.00"));
}

TEST_F(Alignment, AboutAKnownAxisTheStepMustTurnTheTablesWay) {
  // The views turn by +45° about +z; scan 3 failed its pair.
  AddViews(4, 45.0);
  for (int k = 1; k < 4; ++k) m_fusion.SetGeoFrame(k, Truth(k));
  m_fusion.SetGeoFrame(3, Frame4d());
  Set("Turntable", "NumberOfScans", "8");
  Set("ShapeFusion/GlobalFineRegistration", "Iterations", "0");
  Set("ShapeFusion/Registration", "AxisKnown", "true");
  Set("ShapeFusion/Registration", "RotationAxisX", "0");
  Set("ShapeFusion/Registration", "RotationAxisY", "0");
  // A table whose axis points down turned by −45° about +z: not this run's
  // step, which stays unimposed.
  Set("ShapeFusion/Registration", "RotationAxisZ", "-1");
  ASSERT_TRUE(m_jobs->StartAlignSequence_Async({0, 1, 2, 3}, "turntable_const_angle"));
  m_jobs->Wait();
  EXPECT_EQ(m_jobs->GetLastSequenceResult().replacedLinks, (std::vector<bool>(4, false)));
  EXPECT_EQ(m_fusion.GetGeo(3)->GetFrame(), Frame4d());
  EXPECT_TRUE(Logged("turns by -45.00 degrees about the axis, not by the turntable's 45.00"));
  // With the axis up the step is the table's and puts scan 3 in place.
  Set("ShapeFusion/Registration", "RotationAxisZ", "1");
  ASSERT_TRUE(m_jobs->StartAlignSequence_Async({0, 1, 2, 3}, "turntable_const_angle"));
  m_jobs->Wait();
  EXPECT_EQ(m_jobs->GetLastSequenceResult().replacedLinks, (std::vector<bool>{false, false, false, true}));
  EXPECT_TRUE(m_jobs->GetLastSequenceResult().onTableModel);
  for (int k = 1; k < 4; ++k) EXPECT_LT(Error(k), 1e-4) << k;
  // Each step turns about the table's axis line, which stays in place.
  const Frame4d link = m_fusion.GetGeo(0)->GetFrame().GetInverse() * m_fusion.GetGeo(1)->GetFrame();
  EXPECT_LT((link.MultP(kAxisPoint + kAxis * 30.0) - (kAxisPoint + kAxis * 30.0)).Length(), 1e-6);
}

TEST_F(Alignment, ACancelledSequencePutsTheScansBack) {
  AddViews(3, 45.0);
  for (int k = 1; k < 3; ++k) m_fusion.SetGeoFrame(k, math::FTrans(0.5, 0.0, 0.0) * Truth(k));
  const Frame4d before = m_fusion.GetGeo(2)->GetFrame();
  m_progress.StartSession(1);
  m_progress.RequestCancel();
  ASSERT_TRUE(m_jobs->StartAlignSequence_Async({0, 1, 2}, "global"));
  m_jobs->Wait();
  EXPECT_TRUE(m_jobs->GetLastSequenceResult().cancelled);
  EXPECT_EQ(m_fusion.GetGeo(2)->GetFrame(), before);
}

}  // namespace
}  // namespace shell
