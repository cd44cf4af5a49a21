// The calibration and flat-plate-view machines ticked as the main loop
// ticks them: on the virtual rig from a perturbed setup, cancelled in the
// middle, and with a station that cannot deliver.

#include "shell/CalibrationMachine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "foundation/utils/testing/TemporaryFolder.h"
#include "shell/RigCalibrationStation.h"
#include "shell/SettingPath.h"
#include "sim/CalibrationRig.h"
#include "sim/RigSetup.h"

namespace shell {
namespace {

namespace fs = std::filesystem;

struct Rig {
  scan::HardwareSetupIO truth;
  sim::SceneDescription description;
};

const Rig& DefaultRig() {
  static const Rig rig = [] {
    Rig r;
    std::string error;
    if (!sim::LoadRigFolder(sim::ResolveRigFolder("default"), r.truth, r.description, error))
      ADD_FAILURE() << error;
    return r;
  }();
  return rig;
}

// A station whose camera delivers nothing, or whose grab blocks until cancelled.
class FailingStation : public ICalibrationStation {
 public:
  std::size_t GetCameraCount() const override { return 1; }
  bool GrabCameraImage(std::size_t, img::GreyImage&, std::string& error) override {
    error = "camera 0 sent no image";
    return false;
  }
  std::vector<scan::SLScanEvaluationResultPtr> ScanPanels(const std::atomic<bool>&,
                                                          std::string& error) override {
    error = "no projector";
    return {};
  }
};

class CalibrationMachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_root / "xaml");
    fs::copy_file(fs::path(TARVELIN_SHARE_DIR) / "xaml" / "Settings.xaml",
                  m_root / "xaml" / "Settings.xaml");
    SettingsOptions options;
    options.root = m_root;
    options.log = [](const std::string&) {};
    m_settings = std::make_unique<Settings>(options);
    m_settings->GetSetting<bool>(SettingPath("Calibration/SetupIsCalibrated")).SetValue(false);
  }

  CalibrationMachine::Options MachineOptions() const {
    CalibrationMachine::Options o;
    o.setupFile = m_root / "setup.tarvelinsetup";
    o.calibrationFolder = m_root / "calibration";
    o.waitTimeMs = 0.0;
    return o;
  }

  // Ticks until the machine is idle again (1 ms apart, as the main loop),
  // recording every calibration status it passed through.
  std::vector<CalibStatus> RunToIdle(CalibrationMachine& machine,
                                     std::function<void(CalibStatus)> onTick = {}) {
    std::vector<CalibStatus> seen{machine.GetCalibStatus()};
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < end) {
      machine.Tick();
      if (seen.empty() || seen.back() != machine.GetCalibStatus())
        seen.push_back(machine.GetCalibStatus());
      if (onTick) onTick(machine.GetCalibStatus());
      if (machine.GetCalibStatus() == CalibStatus::Idle &&
          machine.GetFlatPlateViewStatus() == AddFlatPlateViewStatus::Idle)
        break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return seen;
  }

  utils::testing::TemporaryFolder m_temporary{"calibmachine"};
  const fs::path m_root = m_temporary.GetPath();
  std::unique_ptr<Settings> m_settings;
  std::vector<std::string> m_log;
};

TEST_F(CalibrationMachineTest, CalibratesTheRigTickByTick) {
  RigCalibrationStation station(DefaultRig().truth, DefaultRig().description);
  CalibrationMachine machine(*m_settings, station, MachineOptions(),
                             [this](const std::string& l) { m_log.push_back(l); });
  const scan::HardwareSetupIO start = sim::PerturbSetup(DefaultRig().truth, {}, 3);
  ASSERT_TRUE(machine.StartCalibration(start));
  EXPECT_FALSE(machine.StartCalibration(start));  // busy
  const auto seen = RunToIdle(machine);
  EXPECT_EQ(seen,
            (std::vector<CalibStatus>{
                CalibStatus::StartCalib, CalibStatus::WaitBeforeCamCalib, CalibStatus::CamCalib,
                CalibStatus::CamCalibDone, CalibStatus::WaitBeforeProjCalib, CalibStatus::ProjCalib,
                CalibStatus::ProjCalibDone, CalibStatus::AllDone, CalibStatus::Idle}))
      << machine.GetLastError();
  EXPECT_TRUE(m_settings->GetSetting<bool>(SettingPath("Calibration/SetupIsCalibrated")).Value());
  EXPECT_TRUE(fs::exists(m_root / "calibration" / scan::kHardwareSetupBeforeCalibration));
  EXPECT_TRUE(fs::exists(m_root / "calibration" / scan::kHardwareSetupAfterCalibration));

  // The stored setup is the calibrated one, near the truth.
  scan::HardwareSetupIO stored;
  ASSERT_TRUE(scan::LoadHardwareSetup(stored, (m_root / "setup.tarvelinsetup").string()));
  sim::ModelError camera, projector;
  ASSERT_TRUE(sim::CompareModels(*stored.cameras[0].cameraModel,
                                 *DefaultRig().truth.cameras[0].cameraModel, camera));
  ASSERT_TRUE(sim::CompareModels(*stored.projector.projectorModel,
                                 *DefaultRig().truth.projector.projectorModel, projector));
  EXPECT_LT(camera.focalRelative, 0.001);
  EXPECT_LT(camera.position, 0.5);
  EXPECT_LT(projector.focalRelative, 0.005);
  EXPECT_LT(projector.position, 2.0);
}

TEST_F(CalibrationMachineTest, CancelInTheMiddleChangesNothing) {
  RigCalibrationStation station(DefaultRig().truth, DefaultRig().description);
  CalibrationMachine machine(*m_settings, station, MachineOptions(), {});
  const scan::HardwareSetupIO start = sim::PerturbSetup(DefaultRig().truth, {}, 3);
  ASSERT_TRUE(machine.StartCalibration(start));
  bool requested = false;
  const auto seen = RunToIdle(machine, [&](CalibStatus s) {
    if (s == CalibStatus::CamCalib && !requested) machine.RequestCancel(), requested = true;
  });
  ASSERT_TRUE(requested);
  EXPECT_THAT(seen, ::testing::Contains(CalibStatus::Cancel));
  EXPECT_THAT(seen, ::testing::Not(::testing::Contains(CalibStatus::ProjCalib)));
  EXPECT_EQ(seen.back(), CalibStatus::Idle);
  EXPECT_EQ(machine.GetLastError(), "cancelled");
  EXPECT_FALSE(fs::exists(m_root / "setup.tarvelinsetup"));
  EXPECT_FALSE(m_settings->GetSetting<bool>(SettingPath("Calibration/SetupIsCalibrated")).Value());
  EXPECT_EQ(scan::WriteHardwareSetup(machine.GetSetup()), scan::WriteHardwareSetup(start));
}

TEST_F(CalibrationMachineTest, AStationWithoutImagesEndsInCancelWithTheReason) {
  FailingStation station;
  CalibrationMachine machine(*m_settings, station, MachineOptions(), {});
  scan::HardwareSetupIO one = DefaultRig().truth;
  ASSERT_TRUE(machine.StartCalibration(one));
  const auto seen = RunToIdle(machine);
  EXPECT_THAT(seen, ::testing::Contains(CalibStatus::Cancel));
  EXPECT_EQ(machine.GetLastError(), "camera 0 sent no image");
  EXPECT_FALSE(fs::exists(m_root / "setup.tarvelinsetup"));

  // A flat-plate view needs its calibration first; then fails the same way.
  EXPECT_FALSE(machine.StartFlatPlateView());
  cam::FlatPlateCalibrationTarget plate(sim::ShareDirectory() / "targets" / "plate.xml");
  auto calibration = std::make_shared<scan::FlatPlateCalibration>(plate);
  machine.SetFlatPlateCalibration(calibration);
  ASSERT_TRUE(machine.StartFlatPlateView());
  RunToIdle(machine);
  EXPECT_EQ(machine.GetLastError(), "camera 0 sent no image");
  EXPECT_TRUE(calibration->GetMultiViews().empty());
}

TEST_F(CalibrationMachineTest, FlatPlateViewAddsOneMultiView) {
  RigCalibrationStation station(DefaultRig().truth, DefaultRig().description);
  cam::FlatPlateCalibrationTarget plate(sim::ShareDirectory() / "targets" / "plate.xml");
  station.SetTargets({{"plate", plate,
                       sim::PlateFacingCamera(*DefaultRig().truth.cameras[0].cameraModel, plate,
                                              620.0, 0.5, 0.3, 0.1)}});
  CalibrationMachine machine(*m_settings, station, MachineOptions(), {});
  auto calibration = std::make_shared<scan::FlatPlateCalibration>(plate);
  machine.SetFlatPlateCalibration(calibration);
  ASSERT_TRUE(machine.StartFlatPlateView());
  std::vector<AddFlatPlateViewStatus> seen;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  do {
    machine.Tick();
    if (seen.empty() || seen.back() != machine.GetFlatPlateViewStatus())
      seen.push_back(machine.GetFlatPlateViewStatus());
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  } while (machine.GetFlatPlateViewStatus() != AddFlatPlateViewStatus::Idle &&
           std::chrono::steady_clock::now() < end);
  EXPECT_EQ(seen, (std::vector<AddFlatPlateViewStatus>{
                      AddFlatPlateViewStatus::WaitBeforeCapture, AddFlatPlateViewStatus::Capture,
                      AddFlatPlateViewStatus::AllDone, AddFlatPlateViewStatus::Idle}))
      << machine.GetLastError();
  ASSERT_EQ(calibration->GetMultiViews().size(), 1u);
  EXPECT_EQ(calibration->GetMultiViews()[0].cameraViews[0].markers.size(), 176u);
}

}  // namespace
}  // namespace shell
