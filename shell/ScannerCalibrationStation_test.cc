// A scanner calibrating itself before the corner target: the virtual rig's
// cameras and projector standing before the printed corner stand in for a
// user's hardware, and the station only knows the scanner and its pattern
// window, as with real devices.
#include "shell/ScannerCalibrationStation.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "scan/HardwareSetupIO.h"
#include "scan/SLCodedLightScan.h"
#include "shell/testing/ShellFixture.h"
#include "sim/CalibrationRig.h"
#include "sim/RigSetup.h"
#include "sim/TargetScene.h"
#include "sim/TargetShot.h"
#include "sim/VirtualRig.h"

namespace shell {
namespace {

namespace fs = std::filesystem;

// The rig before the corner, and a scanner made of its devices alone.
struct CornerStand {
  scan::HardwareSetupIO truth;
  std::unique_ptr<sim::VirtualRig> rig;
  std::shared_ptr<scan::StructuredLightScanner> scanner;
  std::shared_ptr<PatternWindow> window;
  PatternSettings patterns;

  CornerStand() {
    sim::SceneDescription description;
    std::string error;
    if (!sim::LoadRigFolder(sim::ResolveRigFolder("default"), truth, description, error))
      ADD_FAILURE() << error;
    rig = std::make_unique<sim::VirtualRig>(
        truth, description, sim::MakeTargetScene(sim::MakeCornerTargets(sim::CornerScale(truth))),
        sim::VirtualRig::Options{});
    const auto& projector = rig->GetProjector()->GetOptions();
    window = std::make_shared<MaskedPatternWindow>(rig->GetProjector(), projector.width,
                                                   projector.height);
    scanner =
        std::make_shared<scan::StructuredLightScanner>(scan::StructuredLightScanner::InitParams{});
    for (std::size_t c = 0; c < rig->GetCameraCount(); ++c) {
      const std::size_t index = scanner->AddCamera(rig->GetCamera(c)->GetName(), false);
      scanner->SetImageCapture(rig->GetCamera(c), index);
    }
    scanner->SetProjector("VirtualProjector", window->GetPatternDisplay());
    patterns.projectorGamma = projector.displayGamma;
  }
};

class ScannerCalibrationStationTest : public ::testing::Test {
 protected:
  testing::TemporaryRoot m_temporary{"scannerstation"};
  const fs::path m_root = m_temporary.GetPath();
  std::unique_ptr<Settings> m_settings = testing::MakeSettings(m_temporary);
};

TEST_F(ScannerCalibrationStationTest, TheScannerCalibratesItselfFromANominalSetup) {
  CornerStand stand;
  ScannerCalibrationStation station;
  station.Use(stand.scanner, stand.window, stand.patterns);
  const auto ownScan = std::make_shared<scan::SLCodedLightScan>(64, 48, 4, 16, 0, 5.0f);
  stand.scanner->SetSLScan(ownScan);

  CalibrationMachine::Options options;
  options.setupFile = m_root / "setup.tarvelinsetup";
  options.calibrationFolder = m_root / "calibration";
  options.waitTimeMs = 0.0;
  CalibrationMachine machine(*m_settings, station, options, {});
  ASSERT_TRUE(machine.StartCalibration(sim::PerturbSetup(stand.truth, {}, 5)));
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  bool passedAllDone = false;
  while (machine.GetCalibStatus() != CalibStatus::Idle && std::chrono::steady_clock::now() < end) {
    machine.Tick();
    passedAllDone = passedAllDone || machine.GetCalibStatus() == CalibStatus::AllDone;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(passedAllDone) << machine.GetLastError();

  // Against the rig's true models, which the station never saw.
  scan::HardwareSetupIO stored;
  ASSERT_TRUE(scan::LoadHardwareSetup(stored, options.setupFile.string()));
  sim::ModelError camera, projector;
  ASSERT_TRUE(sim::CompareModels(*stored.cameras[0].cameraModel,
                                 *stand.truth.cameras[0].cameraModel, camera));
  ASSERT_TRUE(sim::CompareModels(*stored.projector.projectorModel,
                                 *stand.truth.projector.projectorModel, projector));
  EXPECT_LT(camera.focalRelative, 0.0005);
  EXPECT_LT(std::hypot(camera.cx, camera.cy), 0.5);
  // One camera before the corner leaves the panels' height against the camera's
  // a weak direction (a few tenths of a millimetre, changing with the frames' noise).
  EXPECT_LT(camera.position, 1.0);
  EXPECT_LT(projector.focalRelative, 0.002);
  EXPECT_LT(projector.position, 2.0);
  // The scanner's own scan definition is back.
  EXPECT_EQ(stand.scanner->GetSLScan(), ownScan);
}

TEST_F(ScannerCalibrationStationTest, SaysWhatIsMissing) {
  ScannerCalibrationStation idle;
  img::GreyImage picture;
  std::string error;
  EXPECT_EQ(idle.GetCameraCount(), 0u);
  EXPECT_FALSE(idle.GrabCameraImage(0, picture, error));
  EXPECT_NE(error.find("there is no scanner"), std::string::npos) << error;

  CornerStand stand;
  ScannerCalibrationStation::Options options;
  options.frameTimeoutSeconds = 0.5;
  ScannerCalibrationStation station(options);
  station.Use(stand.scanner, stand.window, stand.patterns);
  ASSERT_TRUE(station.GrabCameraImage(0, picture, error)) << error;
  EXPECT_EQ(picture.width, stand.truth.cameras[0].cameraModel->GetResX());
  EXPECT_FALSE(station.GrabCameraImage(1, picture, error));
  EXPECT_EQ(error, "there is no camera 2");

  stand.rig->GetCamera(0)->SetUnplugged(true);
  EXPECT_FALSE(station.GrabCameraImage(0, picture, error));
  EXPECT_NE(
      error.find("camera \"" + stand.rig->GetCamera(0)->GetName() + "\" delivered no picture"),
      std::string::npos)
      << error;

  // Cancelled before it began: nothing, and no complaint.
  stand.rig->GetCamera(0)->SetUnplugged(false);
  const std::atomic<bool> cancelled{true};
  EXPECT_TRUE(station.ScanPanels(cancelled, error).empty());
  EXPECT_EQ(error, "");
}

}  // namespace
}  // namespace shell
