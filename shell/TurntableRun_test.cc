// Turntable runs of the scan machine against the real virtual turntable
// plug-in (loaded from its description beside the built library) and the
// real alignment jobs. The scripted workflow "scans" a synthetic lumpy blob
// at the angle the table's channel shows when the scan starts, so the scans
// only fit together if the plug-in really turned the table by each step.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "shell/AlignmentJobs.h"
#include "shell/ScanSequenceController.h"
#include "shell/TurntableLoader.h"
#include "shell/testing/ShellFixture.h"
#include "shell/testing/TurntableBlob.h"
#include "sim/turntable/TurntableChannel.h"

namespace shell {
namespace {

namespace fs = std::filesystem;
using math::Frame4d;
using math::Vec3d;
using testing::SettingPath;

using testing::kDeg;
using testing::kRingRms;
const Vec3d& kAxis = testing::kTableAxis;
const Vec3d& kAxisPoint = testing::kTableAxisPoint;

class TurntableRun : public ::testing::Test {
 protected:
  TurntableRun()
      : m_root("TurntableRun_test"),
        m_settings(testing::MakeSettings(m_root)),
        m_language([](const std::string&) {}),
        m_workflow(m_fusion) {
    const fs::path plugins = m_root.GetPath() / "Plugins";
    fs::create_directories(plugins);
    fs::copy_file(fs::path(TARVELIN_SHARE_DIR) / "Plugins" / "VirtualTurntable.xml", plugins / "VirtualTurntable.xml");
    fs::copy_file(fs::path(TARVELIN_PLUGIN_DIR) / "motor_plugin1_64_virtualturntable.so",
                  plugins / "motor_plugin1_64_virtualturntable.so");
    Set("Scan", "ScanMode", "turntable");
    Set("Turntable", "TotalScanAngle", "360");
    Set("ShapeFusion/Registration", "UseSurfaceFeatures", "false");
    Set("ShapeFusion/GlobalFineRegistration", "Iterations", "15");
    surf::ShapeFusionParams params;
    params.seed = 3;
    m_fusion.SetShapeFusionParams(params);
    AlignmentJobs::Options options;
    options.seed = 17;
    options.effort = 0.1;
    m_jobs = std::make_unique<AlignmentJobs>(m_fusion, *m_settings, m_progress, Logger(), options);
    m_controller = std::make_unique<ScanSequenceController>(
        *m_settings, m_language, m_progress, m_workflow, m_fusion, *m_jobs,
        [this](const std::string& text, const std::string& title) { m_notes.push_back(title + "|" + text); },
        Logger());
    // A scan sees the table where it stands when the scan starts; it joins
    // the list after the table has started to turn again.
    m_workflow.onStart = [this] {
      sim::TurntableMotion motion;
      std::string error;
      ASSERT_TRUE(sim::ReadTurntableChannel(Channel(), motion, error)) << error;
      m_angles.push_back(motion.AngleAt(sim::MonotonicSeconds()));
    };
    m_workflow.addToFusion = [this] {
      surf::testing::ScanSpec spec = testing::BlobScanSpec(40 + m_angles.size());
      spec.objectPose = surf::testing::TurntablePose(kAxis, kAxisPoint, m_angles.back() * kDeg);
      return m_fusion.AddGeo(surf::GeoItem{surf::testing::MakeScan(m_blob, spec), {}});
    };
  }

  LogSink Logger() {
    return [this](const std::string& line) {
      std::lock_guard lock(m_logMutex);
      m_log.push_back(line);
    };
  }
  void Set(const std::string& group, const std::string& key, const std::string& value) {
    m_settings->SetValue(m_settings->FindSettingElement(SettingPath(group, key)), value);
  }
  std::string Channel() const { return (m_root.GetPath() / "table.state").string(); }

  // Loads the plug-in the way the shell does and hands it to the controller.
  void Connect(const std::string& extra) {
    LoadedTurntable loaded = LoadTurntablePlugin(m_root.GetPath() / "Plugins", m_root.GetPath() / "logs",
                                                 "channel=" + Channel() + " speed=3600 " + extra, m_language, Logger());
    ASSERT_EQ(loaded.result, 0);
    ASSERT_NE(loaded.motor, nullptr);
    EXPECT_EQ(loaded.info.name, "Virtual turntable");
    m_controller->SetTurntable(std::move(loaded.motor));
  }

  // The main loop: a tick every millisecond until the run is over, then the
  // closing alignment.
  void RunToTheEnd() {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (m_controller->GetScanStatus() != ScanStatus::Idle && std::chrono::steady_clock::now() < end) {
      m_controller->Tick();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(m_controller->GetScanStatus(), ScanStatus::Idle);
    m_jobs->Wait();
  }

  // RMS distance of scan k from where the true table angles put it relative
  // to scan 0.
  double Error(int k) const {
    const Frame4d truth = surf::testing::TurntablePose(kAxis, kAxisPoint, m_angles[0] * kDeg) *
                          surf::testing::TurntablePose(kAxis, kAxisPoint, m_angles[std::size_t(k)] * kDeg).GetInverse();
    const Frame4d relative = m_fusion.GetGeo(0)->GetFrame().GetInverse() * m_fusion.GetGeo(k)->GetFrame();
    return surf::testing::RmsDisplacement(*m_fusion.GetGeo(k), relative, truth);
  }

  testing::TemporaryRoot m_root;
  std::unique_ptr<Settings> m_settings;
  Language m_language;
  ProgressReporter m_progress;
  surf::ShapeFusion m_fusion;
  testing::ScriptedWorkflow m_workflow;
  const surf::testing::LumpyBlob m_blob{40.0, 14, 7};
  std::unique_ptr<AlignmentJobs> m_jobs;
  std::unique_ptr<ScanSequenceController> m_controller;
  std::vector<double> m_angles;
  std::vector<std::string> m_notes;
  std::mutex m_logMutex;
  std::vector<std::string> m_log;
};

TEST_F(TurntableRun, SixViewsTurnAlignAndCloseTheRing) {
  Set("Turntable", "NumberOfScans", "6");
  Connect("");
  ASSERT_TRUE(m_controller->StartScan());
  RunToTheEnd();
  EXPECT_TRUE(m_notes.empty());
  ASSERT_EQ(m_angles, (std::vector<double>{0, 60, 120, 180, 240, 300}));
  ASSERT_EQ(m_fusion.GetNumGeos(), 6);
  // Each scan was aligned to its predecessor and kept; the closing step
  // found every neighbour step in agreement.
  for (int k = 1; k < 6; ++k) {
    const std::string line = "Alignment of scan " + std::to_string(k) + " to scan " + std::to_string(k - 1) + ": coarse";
    EXPECT_EQ(std::count_if(m_log.begin(), m_log.end(), [&](const std::string& l) { return l.rfind(line, 0) == 0; }), 1)
        << line;
  }
  EXPECT_EQ(m_jobs->GetLastSequenceResult().replacedLinks, std::vector<bool>(6, false));
  // The average of the pairwise steps, before the refinement: each pair is
  // within the agreement limit (2°) of the others.
  EXPECT_NEAR(m_jobs->GetLastSequenceResult().stepTurn, 60.0, 1.0);
  EXPECT_TRUE(m_jobs->GetLastSequenceResult().refined);
  for (int k = 1; k < 6; ++k) EXPECT_LT(Error(k), kRingRms) << k;
  // The table stands where the last scan saw it: no turn after the last
  // scan of a full circle.
  sim::TurntableMotion motion;
  std::string error;
  ASSERT_TRUE(sim::ReadTurntableChannel(Channel(), motion, error)) << error;
  EXPECT_EQ(motion.AngleAt(sim::MonotonicSeconds()), 300.0);
  EXPECT_TRUE(fs::exists(m_root.GetPath() / "logs" / "Virtual turntable.txt"));
}

TEST_F(TurntableRun, ATableWithoutPowerEndsTheRunAtTheThirdTurn) {
  Set("Turntable", "NumberOfScans", "5");
  Connect("power_fail_after=2");
  m_controller->StartScan();
  RunToTheEnd();
  EXPECT_EQ(m_notes, (std::vector<std::string>{"_l10n_Title_Turntable_n01l_|_l10n_Error_Turntable_NoPower_n01l_"}));
  EXPECT_EQ(m_angles, (std::vector<double>{0, 72, 144}));
  EXPECT_EQ(m_fusion.GetNumGeos(), 2);
  EXPECT_NE(m_controller->GetTurntable(), nullptr);
  EXPECT_EQ(m_workflow.cancels, 1);
}

TEST_F(TurntableRun, ALostChannelMidRunReleasesTheTurntable) {
  Set("Turntable", "NumberOfScans", "4");
  Connect("");
  const auto scanStart = m_workflow.onStart;
  m_workflow.onStart = [this, scanStart] {
    scanStart();
    if (m_angles.size() == 2) fs::remove(Channel());  // the cable is pulled during scan 2
  };
  m_controller->StartScan();
  RunToTheEnd();
  EXPECT_EQ(m_notes,
            (std::vector<std::string>{"_l10n_Title_Turntable_n01l_|_l10n_Error_Turntable_LostConnection_n01l_"}));
  EXPECT_EQ(m_controller->GetTurntable(), nullptr);
  EXPECT_FALSE(m_settings->GetSetting<bool>(SettingPath("SetupType", "TurntableConnected")).Value());
  EXPECT_EQ(m_fusion.GetNumGeos(), 1);
  EXPECT_EQ(m_workflow.starts, 2);
}

}  // namespace
}  // namespace shell
