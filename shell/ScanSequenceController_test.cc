// The scan machine against a scripted workflow, a fake turntable and a
// recording alignment page. The language table is empty, so every text is
// its localisation key.
#include "shell/ScanSequenceController.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "shell/testing/ShellFixture.h"

namespace shell {

void PrintTo(ScanStatus status, std::ostream* out) { *out << ToString(status); }

namespace {

using testing::FakeMotor;
using testing::MotorRecord;
using testing::SettingPath;

class ScanSequence : public ::testing::Test {
 protected:
  ScanSequence()
      : m_root("ScanSequenceController_test"),
        m_settings(testing::MakeSettings(m_root)),
        m_language([](const std::string&) {}),
        m_workflow(m_fusion) {}

  void SetUp() override {
    m_controller = std::make_unique<ScanSequenceController>(
        *m_settings, m_language, m_progress, m_workflow, m_fusion, m_alignment,
        [this](const std::string& text, const std::string& title) { m_notes.push_back(title + "|" + text); },
        [this](const std::string& line) { m_log.push_back(line); });
  }

  void Set(const std::string& group, const std::string& key, const std::string& value) {
    m_settings->SetValue(m_settings->FindSettingElement(SettingPath(group, key)), value);
  }
  template <class T>
  T Get(const std::string& group, const std::string& key) {
    return m_settings->GetSetting<T>(SettingPath(group, key)).Value();
  }

  // A turntable run of n scans over total degrees with the fake table.
  FakeMotor& Turntable(int n, int total) {
    Set("Scan", "ScanMode", "turntable");
    Set("Turntable", "NumberOfScans", std::to_string(n));
    Set("Turntable", "TotalScanAngle", std::to_string(total));
    auto motor = std::make_unique<FakeMotor>(m_motor);
    FakeMotor& raw = *motor;
    m_controller->SetTurntable(std::move(motor));
    return raw;
  }

  // Ticks until the machine is idle again; the statuses handled, in order.
  std::vector<ScanStatus> Run(int maxTicks = 2000) {
    std::vector<ScanStatus> seen;
    for (int tick = 0; tick < maxTicks; ++tick) {
      seen.push_back(m_controller->GetScanStatus());
      m_lines.push_back(m_progress.GetStatusLine());
      m_controller->Tick();
      if (m_controller->GetScanStatus() == ScanStatus::Idle) return seen;
    }
    ADD_FAILURE() << "the machine did not come back to Idle";
    return seen;
  }
  // Ticks until the machine reaches status; false when it ends first.
  bool RunUntil(ScanStatus status, int maxTicks = 2000) {
    for (int tick = 0; tick < maxTicks; ++tick) {
      if (m_controller->GetScanStatus() == status) return true;
      m_controller->Tick();
      if (m_controller->GetScanStatus() == ScanStatus::Idle) return false;
    }
    return false;
  }
  bool Logged(const std::string& line) const {
    return std::find(m_log.begin(), m_log.end(), line) != m_log.end();
  }

  testing::TemporaryRoot m_root;
  std::unique_ptr<Settings> m_settings;
  Language m_language;
  ProgressReporter m_progress;
  surf::ShapeFusion m_fusion;
  testing::ScriptedWorkflow m_workflow;
  testing::RecordingAlignment m_alignment;
  std::shared_ptr<MotorRecord> m_motor = std::make_shared<MotorRecord>();
  std::vector<std::string> m_notes, m_log, m_lines;
  std::unique_ptr<ScanSequenceController> m_controller;
};

TEST(TurntableStepAngle, FollowsTheNumberOfScansAndTheTotalAngle) {
  EXPECT_EQ(ComputeTurntableStepAngle(8, 360), 45.0);
  EXPECT_EQ(ComputeTurntableStepAngle(8, 180), 180.0 / 7.0);
  EXPECT_EQ(ComputeTurntableStepAngle(1, 360), 0.0);
  EXPECT_EQ(ComputeTurntableStepAngle(0, 180), 0.0);
  EXPECT_EQ(ComputeTurntableStepAngle(2, 90), 90.0);
  EXPECT_EQ(ComputeTurntableStepAngle(3, 0), 0.0);
}

TEST(ScanStatusValues, AreTheDocumentedNumbers) {
  EXPECT_EQ(int(ScanStatus::AddToListAndAlignYAngle), 8);
  EXPECT_EQ(int(ScanStatus::Cancel), 14);
  EXPECT_EQ(int(CalibStatus::ProjCalibDone), 7);
  EXPECT_EQ(int(CalibStatus::AllDone), 9);
  EXPECT_EQ(int(AddFlatPlateViewStatus::Capture), 3);
  EXPECT_EQ(int(AddFlatPlateViewStatus::AllDone), 5);
  EXPECT_STREQ(ToString(ScanStatus::RotatingTurntable), "RotatingTurntable");
}

TEST_F(ScanSequence, EightScansOver360TurnBy45AndAlignEachToItsPredecessor) {
  Turntable(8, 360);
  EXPECT_TRUE(Get<bool>("SetupType", "TurntableConnected"));
  ASSERT_TRUE(m_controller->StartScan());
  EXPECT_FALSE(m_controller->StartScan());  // not idle
  const std::vector<ScanStatus> seen = Run();

  // One scan's road, and the end of the run.
  const std::vector<ScanStatus> road = {ScanStatus::StartScanning,   ScanStatus::StartScanning3,
                                        ScanStatus::Scanning,        ScanStatus::Scanning,
                                        ScanStatus::ScanningDone,    ScanStatus::StartTurntable,
                                        ScanStatus::AddToListAndAlignYAngle, ScanStatus::Aligning};
  EXPECT_TRUE(std::search(seen.begin(), seen.end(), road.begin(), road.end()) != seen.end());
  EXPECT_EQ(seen.front(), ScanStatus::Start);
  EXPECT_EQ(seen.back(), ScanStatus::AllDone);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), ScanStatus::TurntableDone), 8);

  // Seven turns: none after the last scan of a full circle.
  EXPECT_EQ(m_motor->targets, (std::vector<double>{45, 90, 135, 180, 225, 270, 315}));
  EXPECT_EQ(m_workflow.starts, 8);
  EXPECT_EQ(m_workflow.adds, 8);
  EXPECT_EQ(m_workflow.cancels, 0);

  // The first scan is added without alignment; scan k is aligned onto k − 1
  // with the step as the known turn and the alignment page's axis (none by
  // default).
  ASSERT_EQ(m_alignment.pairs.size(), 7u);
  for (int k = 1; k < 8; ++k) {
    const auto& pair = m_alignment.pairs[std::size_t(k - 1)];
    EXPECT_EQ(pair.a, k);
    EXPECT_EQ(pair.b, k - 1);
    EXPECT_TRUE(pair.settings.angleKnown);
    EXPECT_EQ(pair.settings.rotationAngle, 45.0);
    EXPECT_FALSE(pair.settings.axisKnown);
    EXPECT_FALSE(pair.settings.defineOnePointPair);
  }
  EXPECT_EQ(Get<int>("ShapeFusion", "AlignmentScanA"), 7);
  EXPECT_EQ(Get<int>("ShapeFusion", "AlignmentScanB"), 6);
  ASSERT_EQ(m_alignment.sequences.size(), 1u);
  EXPECT_EQ(m_alignment.sequences[0].first, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(m_alignment.sequences[0].second, "turntable_const_angle");
  ASSERT_EQ(m_controller->GetStateMachine().SequenceMeshIDs.size(), 8u);
  EXPECT_EQ(m_controller->GetStateMachine().SequenceMeshIDs[3], m_fusion.GeoIndex2NodeID(3));

  // The status bar counted the scans; everything is cleared at the end.
  EXPECT_NE(std::find(m_lines.begin(), m_lines.end(), "_l10n_Scanning_Scan_n01l_ 3/8: _l10n_TT_Status_Scanning_n01l_"),
            m_lines.end());
  EXPECT_EQ(m_progress.GetStatusLine(), "");
  EXPECT_FALSE(m_progress.IsSessionActive());
  EXPECT_TRUE(m_notes.empty());
  EXPECT_TRUE(Logged("Keeping the system awake during the scan (no-op on this platform)."));
  EXPECT_TRUE(Logged("The system may sleep again (no-op on this platform)."));
}

TEST_F(ScanSequence, EightScansOver180TurnBy180Over7) {
  Turntable(8, 180);
  EXPECT_DOUBLE_EQ(m_controller->GetStepAngle(), 180.0 / 7.0);
  m_controller->StartScan();
  Run();
  // A partial circle also turns after the last scan.
  ASSERT_EQ(m_motor->targets.size(), 8u);
  for (std::size_t k = 0; k < 8; ++k) EXPECT_NEAR(m_motor->targets[k], (k + 1) * 180.0 / 7.0, 1e-9);
  ASSERT_EQ(m_alignment.pairs.size(), 7u);
  EXPECT_EQ(m_alignment.pairs[0].settings.rotationAngle, 180.0 / 7.0);
}

TEST_F(ScanSequence, TheTablesAxisFromTheAlignmentPageGoesWithTheStep) {
  Turntable(3, 360);
  Set("ShapeFusion/Registration", "AxisKnown", "true");
  Set("ShapeFusion/Registration", "RotationAxisY", "0");
  Set("ShapeFusion/Registration", "RotationAxisZ", "-1");
  m_controller->StartScan();
  Run();
  ASSERT_EQ(m_alignment.pairs.size(), 2u);
  for (const auto& pair : m_alignment.pairs) {
    EXPECT_TRUE(pair.settings.axisKnown);
    EXPECT_EQ(pair.settings.axis, math::Vec3d(0.0, 0.0, -1.0));
    EXPECT_EQ(pair.settings.rotationAngle, 120.0);
  }
}

TEST_F(ScanSequence, OneScanNeverTurnsNorAligns) {
  for (const int total : {360, 180}) {
    Turntable(1, total);
    m_controller->StartScan();
    Run();
  }
  EXPECT_TRUE(m_motor->targets.empty());
  EXPECT_TRUE(m_alignment.pairs.empty());
  EXPECT_TRUE(m_alignment.sequences.empty());
  EXPECT_EQ(m_workflow.adds, 2);
  // Without a turntable a single turntable scan still runs.
  m_controller->ReleaseTurntable();
  m_controller->StartScan();
  Run();
  EXPECT_EQ(m_workflow.adds, 3);
  EXPECT_TRUE(m_notes.empty());
}

TEST_F(ScanSequence, NoPowerAtTheThirdTurnCancelsTheRun) {
  FakeMotor& motor = Turntable(8, 360);
  motor.moveResults = {{3, -14}};
  m_controller->StartScan();
  const std::vector<ScanStatus> seen = Run();
  EXPECT_EQ(seen.back(), ScanStatus::Cancel);
  EXPECT_EQ(m_notes, (std::vector<std::string>{"_l10n_Title_Turntable_n01l_|_l10n_Error_Turntable_NoPower_n01l_"}));
  EXPECT_EQ(m_motor->targets, (std::vector<double>{45, 90}));
  EXPECT_EQ(m_workflow.starts, 3);
  EXPECT_EQ(m_workflow.adds, 2);  // the third scan is not added
  EXPECT_EQ(m_workflow.cancels, 1);
  EXPECT_EQ(m_motor->stops, 1);
  EXPECT_NE(m_controller->GetTurntable(), nullptr);  // still connected
  EXPECT_FALSE(Get<bool>("Scan/Status", "IsCurrentlyScanning"));
  EXPECT_TRUE(m_alignment.sequences.empty());
  EXPECT_EQ(m_progress.GetStatusLine(), "");
}

TEST_F(ScanSequence, LostConnectionMidRunReleasesThePlugin) {
  FakeMotor& motor = Turntable(4, 360);
  motor.moveResults = {{2, -10}};
  m_controller->StartScan();
  const std::vector<ScanStatus> seen = Run();
  EXPECT_EQ(seen.back(), ScanStatus::Cancel);
  EXPECT_EQ(m_notes,
            (std::vector<std::string>{"_l10n_Title_Turntable_n01l_|_l10n_Error_Turntable_LostConnection_n01l_"}));
  EXPECT_EQ(m_controller->GetTurntable(), nullptr);
  EXPECT_EQ(m_motor->disconnects, 1);
  EXPECT_EQ(m_motor->stops, 0);  // nothing left to stop
  EXPECT_FALSE(Get<bool>("SetupType", "TurntableConnected"));
  EXPECT_EQ(m_workflow.cancels, 1);

  // The next run is refused at the start.
  m_notes.clear();
  m_controller->StartScan();
  EXPECT_EQ(Run(), (std::vector<ScanStatus>{ScanStatus::Start, ScanStatus::Cancel}));
  EXPECT_EQ(m_workflow.starts, 2);
  EXPECT_EQ(m_notes,
            (std::vector<std::string>{"_l10n_Title_Turntable_n01l_|_l10n_Error_Turntable_LostConnection_n01l_"}));
}

TEST_F(ScanSequence, OtherTurntableCodesAreLoggedAndTheRunGoesOn) {
  FakeMotor& motor = Turntable(3, 360);
  motor.moveResults = {{1, -3}};
  m_controller->StartScan();
  EXPECT_EQ(Run().back(), ScanStatus::AllDone);
  EXPECT_TRUE(Logged("Turntable: the rotation command answered -3."));
  EXPECT_EQ(m_workflow.adds, 3);
}

// A cancel in any state of a run ends it on the next tick: the workflow is
// cancelled, the table stopped, and nothing is scanned or added after.
class CancelAt : public ScanSequence, public ::testing::WithParamInterface<ScanStatus> {};

TEST_P(CancelAt, EndsTheRunOnTheNextTick) {
  const ScanStatus state = GetParam();
  if (state == ScanStatus::StartScanning2) Set("ActiveUIPart", "StructuredLight", "false");
  if (state == ScanStatus::AddToList) {
    Set("Scan", "ScanMode", "sequence");
    m_controller->SetTurntable(std::make_unique<FakeMotor>(m_motor));
  } else {
    Turntable(3, 360);
  }
  m_controller->StartScan();
  ASSERT_TRUE(RunUntil(state)) << ToString(state);
  // A second scan's state where possible, so that a run is in the middle.
  if (state != ScanStatus::AddToList && state != ScanStatus::StartScanning2 && state != ScanStatus::AllDone) {
    m_controller->Tick();
    ASSERT_TRUE(RunUntil(state)) << ToString(state);
  }
  const int starts = m_workflow.starts, adds = m_workflow.adds;
  m_controller->RequestCancel();
  m_controller->Tick();
  EXPECT_EQ(m_controller->GetScanStatus(), ScanStatus::Idle) << ToString(state);
  EXPECT_EQ(m_workflow.cancels, 1);
  EXPECT_EQ(m_motor->stops, 1);
  EXPECT_FALSE(m_progress.IsSessionActive());
  EXPECT_FALSE(Get<bool>("Scan/Status", "IsCurrentlyScanning"));
  for (int tick = 0; tick < 50; ++tick) m_controller->Tick();
  EXPECT_EQ(m_workflow.starts, starts);
  EXPECT_EQ(m_workflow.adds, adds);
  EXPECT_TRUE(m_alignment.sequences.empty());
}

INSTANTIATE_TEST_SUITE_P(
    EveryState, CancelAt,
    ::testing::Values(ScanStatus::StartScanning, ScanStatus::StartScanning2, ScanStatus::StartScanning3,
                      ScanStatus::Scanning, ScanStatus::ScanningDone, ScanStatus::StartTurntable,
                      ScanStatus::AddToListAndAlignYAngle, ScanStatus::AddToList, ScanStatus::Aligning,
                      ScanStatus::RotatingTurntable, ScanStatus::TurntableDone, ScanStatus::AllDone),
    [](const ::testing::TestParamInfo<ScanStatus>& info) { return std::string(ToString(info.param)); });

TEST_F(ScanSequence, ACancelPendingAtStartIsClearedByTheNewSession) {
  Turntable(2, 360);
  m_controller->StartScan();
  m_controller->RequestCancel();
  EXPECT_EQ(Run().back(), ScanStatus::AllDone);
  EXPECT_EQ(m_workflow.adds, 2);
}

TEST_F(ScanSequence, TheStructuredLightPageComesUpBeforeTheScan) {
  Set("Scan", "ScanMode", "single");
  Set("ActiveUIPart", "StructuredLight", "false");
  m_controller->StartScan();
  ASSERT_TRUE(RunUntil(ScanStatus::StartScanning2));
  EXPECT_TRUE(Get<bool>("ActiveUIPart", "StructuredLight"));
  EXPECT_EQ(m_progress.GetStatusLine(), "_l10n_TT_Status_PreparingScan_n01l_");
  EXPECT_EQ(m_controller->GetStateMachine().WaitTime, 500.0);
  utils::Timer waited;
  while (m_controller->GetScanStatus() == ScanStatus::StartScanning2 && waited.ElapsedSeconds() < 5.0) {
    m_controller->Tick();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(m_controller->GetScanStatus(), ScanStatus::StartScanning3);
  EXPECT_GT(waited.ElapsedSeconds(), 0.45);
  EXPECT_LT(waited.ElapsedSeconds(), 2.0);
}

TEST_F(ScanSequence, SingleScanIsNotAddedByTheMachine) {
  Set("Scan", "ScanMode", "single");
  m_controller->StartScan();
  const std::vector<ScanStatus> seen = Run();
  EXPECT_EQ(seen.back(), ScanStatus::AllDone);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), ScanStatus::ScanningDone), 1);
  EXPECT_EQ(m_workflow.adds, 0);
  EXPECT_TRUE(m_alignment.pairs.empty());
}

TEST_F(ScanSequence, ProjectorRecalibrationForcesSingleMode) {
  Turntable(8, 360);
  Set("Calibration", "ProjectorRecalibration", "true");
  m_controller->StartScan();
  Run();
  EXPECT_EQ(Get<std::string>("Scan", "ScanMode"), "single");
  EXPECT_EQ(m_workflow.starts, 1);
  EXPECT_TRUE(m_motor->targets.empty());
}

TEST_F(ScanSequence, BackgroundScanSwitchesBackgroundRemovalOn) {
  Set("Scan", "ScanMode", "background");
  EXPECT_FALSE(Get<bool>("BackgroundRemoval", "BackgroundRemovalEnabled"));
  m_controller->StartScan();
  EXPECT_EQ(Run().back(), ScanStatus::AllDone);
  EXPECT_TRUE(Get<bool>("BackgroundRemoval", "BackgroundRemovalEnabled"));
  EXPECT_EQ(m_workflow.adds, 0);
}

TEST_F(ScanSequence, SequenceModeCollectsScansAcrossStartsAndStartsTheNextByItself) {
  Set("Scan", "ScanMode", "sequence");
  m_controller->StartScan();
  std::vector<ScanStatus> seen = Run();
  EXPECT_NE(std::find(seen.begin(), seen.end(), ScanStatus::AddToList), seen.end());
  EXPECT_TRUE(Get<bool>("Scan/Status", "IsScanSequenceInProgress"));
  EXPECT_FALSE(m_controller->IsAutoNextScanPending());
  m_controller->StartScan();
  Run();
  EXPECT_EQ(m_controller->GetStateMachine().SequenceMeshIDs.size(), 2u);
  EXPECT_TRUE(m_alignment.pairs.empty());  // a free-hand sequence is aligned by the user

  // With AutoNextScan the next scan starts after the delay.
  Set("Scan", "AutoNextScan", "true");
  Set("StructuredLight/Acquisition/MovementDetection", "AutoNextScanDelay", "0");
  m_controller->StartScan();
  Run();
  EXPECT_TRUE(m_controller->IsAutoNextScanPending());
  m_controller->Tick();
  EXPECT_EQ(m_controller->GetScanStatus(), ScanStatus::Start);
  EXPECT_TRUE(Logged("Scan sequence: automatic next scan."));
  m_controller->Tick();
  m_controller->RequestCancel();
  Run();
  EXPECT_EQ(m_workflow.cancels, 1);
  EXPECT_FALSE(m_controller->IsAutoNextScanPending());
  EXPECT_EQ(m_controller->GetStateMachine().SequenceMeshIDs.size(), 3u);
}

TEST_F(ScanSequence, AFailedStartOrAddCancels) {
  Set("Scan", "ScanMode", "sequence");
  m_workflow.startResult = -501;
  m_controller->StartScan();
  EXPECT_EQ(Run().back(), ScanStatus::Cancel);
  EXPECT_TRUE(Logged("Scan sequence: the scan could not be started (result -501)."));
  EXPECT_EQ(m_workflow.adds, 0);

  m_workflow.startResult = 0;
  m_workflow.addToFusion = [] { return -104; };
  m_controller->StartScan();
  EXPECT_EQ(Run().back(), ScanStatus::Cancel);
  EXPECT_TRUE(Logged("Could not add data to Shapefusion. Scan cancelled."));
  EXPECT_EQ(m_workflow.cancels, 2);
}

TEST_F(ScanSequence, RecalibrationAdviceAtTheEndOfASingleScan) {
  Set("Scan", "ScanMode", "single");
  Set("Calibration", "UpdateSystemCalibration", "true");
  m_workflow.recalibrationNeeded = true;
  m_controller->StartScan();
  Run();
  EXPECT_EQ(m_notes, (std::vector<std::string>{
                         "_l10n_Title_Calibration_n01l_|_l10n_Setting_Calibration_VerificationDuringScan_Info_n01l_"}));
  EXPECT_EQ(m_workflow.resets, 1);
  EXPECT_FALSE(m_workflow.recalibrationNeeded);
  // A sequence scan gets no advice.
  Set("Scan", "ScanMode", "sequence");
  m_workflow.recalibrationNeeded = true;
  m_controller->StartScan();
  Run();
  EXPECT_EQ(m_notes.size(), 1u);
}

TEST_F(ScanSequence, ARunWaitsAtStartWhileTheLastRunIsAligned) {
  Turntable(2, 360);
  m_alignment.busyPolls = 20;
  m_controller->StartScan();
  Run();
  ASSERT_EQ(m_alignment.sequences.size(), 1u);
  m_controller->StartScan();
  for (int tick = 0; tick < 10; ++tick) m_controller->Tick();
  EXPECT_EQ(m_controller->GetScanStatus(), ScanStatus::Start);
  EXPECT_EQ(m_workflow.starts, 2);
  Run();
  EXPECT_EQ(m_workflow.starts, 4);
}

}  // namespace
}  // namespace shell
