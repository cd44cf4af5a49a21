// The unit's device library, its detection and factory calibration, and the
// projector preparation, against a simulated unit behind the library.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "devices/felvar/CameraModelFelvar.h"
#include "devices/felvar/DeviceLibrary.h"
#include "devices/felvar/FeHalHelper.h"
#include "devices/felvar/ProjectorFelvar.h"
#include "devices/felvar/Vemko.h"
#include "devices/felvar/testing/ModelTexts.h"
#include "sim/VirtualFelvarUnit.h"

namespace felvar {
namespace {

namespace fs = std::filesystem;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

const DeviceLibrary::Calls& Library() {
  std::string error;
  const DeviceLibrary::Calls* calls = DeviceLibrary::Get(error);
  if (!calls) throw std::runtime_error(error);
  return *calls;
}

// A Tsai camera at the full sensor size and a projector model, as texts.
std::string CameraText() {
  return fixtures::TsaiModelText(4416, 3312, 2210.0, 1650.0, 3300.0, 2e-9);
}

std::string ProjectorText() { return fixtures::ProjectorModelText(); }

// The simulated unit installed as the library's back-end for one test.
class SimulatedUnit : public testing::Test {
 protected:
  void SetUp() override {
    unit = std::make_unique<sim::VirtualFelvarUnit>(CameraText(), ProjectorText());
    ASSERT_EQ(Library().setBackend(&unit->GetBackend()), VEMKO_OK);
  }
  void TearDown() override { Library().setBackend(nullptr); }
  void SetFaults(const sim::VirtualFelvarUnit::Faults& faults) { unit->SetFaults(faults); }
  std::unique_ptr<sim::VirtualFelvarUnit> unit;
};

TEST(DeviceLibrary, LoadsFromTheVariableOrSaysWhereItLooked) {
  // Found without the variable (the build tree's copy), every call resolved.
  unsetenv(DeviceLibrary::kPathVariable);
  std::string error;
  const DeviceLibrary::Calls* calls = DeviceLibrary::Get(error);
  ASSERT_NE(calls, nullptr) << error;
  EXPECT_EQ(calls->apiVersion(), VEMKO_API_VERSION);

  // The variable is the only place then, even when the library was loaded.
  setenv(DeviceLibrary::kPathVariable, "/nonexistent/libtarvelin_vemko.so", 1);
  EXPECT_EQ(DeviceLibrary::SearchPaths(),
            std::vector<std::string>{"/nonexistent/libtarvelin_vemko.so"});
  EXPECT_EQ(DeviceLibrary::Get(error), nullptr);
  EXPECT_NE(error.find("libtarvelin_vemko.so could not be loaded "
                       "(/nonexistent/libtarvelin_vemko.so: no such file)"),
            std::string::npos)
      << error;
  EXPECT_NE(error.find("set TARVELIN_VEMKO_LIBRARY"), std::string::npos);
  // Every call of the unit then fails with the no-library status.
  vemko::Projector projector;
  EXPECT_EQ(projector.open(), vemko::kNoLibrary);
  vemko_device_id* ids = nullptr;
  std::uint32_t count = 7;
  EXPECT_EQ(vemko::System::device_ids(ids, count), vemko::kNoLibrary);
  EXPECT_EQ(count, 0u);
  CaptureStderr();
  EXPECT_FALSE(FeHalHelper::IsFelvar());
  EXPECT_EQ(GetCapturedStderr(),
            "FeHalHelper::GetDevicePaths: Error e00000ff listing the devices\n");
  unsetenv(DeviceLibrary::kPathVariable);
  EXPECT_NE(DeviceLibrary::Get(), nullptr);
}

TEST(DeviceLibrary, RefusesAFileThatIsNotTheLibrary) {
  // A real shared object without the library's calls.
  std::string error;
  EXPECT_EQ(DeviceLibrary::LoadFile("libm.so.6", error), nullptr);
  EXPECT_NE(error.find("libm.so.6 is not the unit's device library: it lacks vemko_api_version"),
            std::string::npos)
      << error;
  // A file that is no shared object at all.
  const fs::path bad = fs::temp_directory_path() / "tarvelin_not_a_library.so";
  std::ofstream(bad) << "not an ELF file";
  EXPECT_EQ(DeviceLibrary::LoadFile(bad.string(), error), nullptr);
  EXPECT_FALSE(error.empty());
  fs::remove(bad);
}

TEST(DeviceLibrary, WithoutBackEndListsNothingAndOpensNothing) {
  const auto& lib = Library();
  lib.setBackend(nullptr);
  vemko_device_id* ids = nullptr;
  std::uint32_t count = 5;
  EXPECT_EQ(lib.deviceIds(&ids, &count), VEMKO_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(ids, nullptr);
  std::uint64_t handle = 0;
  EXPECT_EQ(lib.open(VEMKO_PROJECTOR, 0, &handle), VEMKO_ERROR_NO_DEVICE);
  // A back-end of another version or with a call missing is refused.
  sim::VirtualFelvarUnit unit("", "");
  vemko_backend backend = unit.GetBackend();
  backend.version = 99;
  EXPECT_EQ(lib.setBackend(&backend), VEMKO_ERROR_BAD_ARGUMENT);
  backend = unit.GetBackend();
  backend.subscribe = nullptr;
  EXPECT_EQ(lib.setBackend(&backend), VEMKO_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(lib.open(VEMKO_PROJECTOR, 0, &handle), VEMKO_ERROR_NO_DEVICE);
}

TEST_F(SimulatedUnit, ListsTheUnitsFunctionsAndDetectsIt) {
  EXPECT_TRUE(FeHalHelper::IsFelvar());
  EXPECT_EQ(FeHalHelper::GetDevicePaths(0x05A9, 0xF580),
            std::vector<std::string>{"/dev/bus/usb/virtual/001"});
  EXPECT_TRUE(FeHalHelper::GetDevicePaths(0x05A9, 0xF581).empty());
  // Without its touch-mat function it is not the unit.
  sim::VirtualFelvarUnit::Faults faults;
  faults.noTouchMat = true;
  SetFaults(faults);
  EXPECT_FALSE(FeHalHelper::IsFelvar());
}

TEST_F(SimulatedUnit, CalibrationFromTheUnitOrFromFiles) {
  std::string camera, projector, folder;
  CaptureStdout();
  ASSERT_TRUE(FeHalHelper::GetCalibrationData(camera, projector, folder));
  EXPECT_EQ(GetCapturedStdout(), "Get calibration data from projector...\n");
  EXPECT_EQ(camera, CameraText());
  EXPECT_EQ(projector, ProjectorText());
  EXPECT_EQ(unit->GetState().openCount[VEMKO_PROJECTOR], 0);  // closed again

  // The unit has no calibration stored: its status in hex, the device closed.
  sim::VirtualFelvarUnit::Faults faults;
  faults.calibration = VEMKO_ERROR_NO_DATA;
  SetFaults(faults);
  CaptureStdout();
  EXPECT_FALSE(FeHalHelper::GetCalibrationData(camera, projector, folder));
  EXPECT_EQ(
      GetCapturedStdout(),
      "Get calibration data from projector...\n"
      "FeHalHelper::GetCalibrationData: Error e0000005 getting calibration data from projector.\n");
  EXPECT_EQ(unit->GetState().openCount[VEMKO_PROJECTOR], 0);
  faults = {};
  faults.open[VEMKO_PROJECTOR] = 0x8000000000000001ull;
  SetFaults(faults);
  CaptureStdout();
  EXPECT_FALSE(FeHalHelper::GetCalibrationData(camera, projector, folder));
  EXPECT_EQ(GetCapturedStdout(),
            "FeHalHelper::GetCalibrationData: Error 8000000000000001 opening the projector\n");

  // From the files of a folder; the folder is cleared.
  const fs::path dir = fs::temp_directory_path() / "tarvelin_felvar_sdk";
  fs::create_directories(dir);
  std::ofstream(dir / "3DcamCal.cal") << "camera text";
  std::ofstream(dir / "3DprojCal.cal") << "projector text";
  folder = dir.string() + "/";
  CaptureStdout();
  ASSERT_TRUE(FeHalHelper::GetCalibrationData(camera, projector, folder));
  EXPECT_EQ(GetCapturedStdout(), "Get calibration data from files...\n");
  EXPECT_EQ(camera, "camera text");
  EXPECT_EQ(projector, "projector text");
  EXPECT_TRUE(folder.empty());
  fs::remove(dir / "3DprojCal.cal");
  folder = dir.string() + "/";
  CaptureStderr();
  EXPECT_FALSE(FeHalHelper::GetCalibrationData(camera, projector, folder));
  EXPECT_EQ(GetCapturedStderr(),
            "FeHalHelper::GetCalibrationData: Can't load calibration data from files.\n");
  EXPECT_TRUE(folder.empty());
  fs::remove_all(dir);
}

TEST_F(SimulatedUnit, DeviceModelsComeScaledToTheHalfMode) {
  cam::CameraModelTsai camera, projector;
  CaptureStdout();
  ASSERT_TRUE(FeHalHelper::LoadDeviceModels(camera, projector, ""));
  GetCapturedStdout();
  EXPECT_EQ(camera.GetResX(), 2208u);
  EXPECT_EQ(camera.GetResY(), 1656u);
  EXPECT_DOUBLE_EQ(camera.GetIntrinsics().cx,
                   1105.0);  // 2210 / 2 (a plain Tsai model: no mode shift)
  EXPECT_DOUBLE_EQ(camera.GetIntrinsics().f, 1650.0);
  EXPECT_EQ(projector.GetResX(), 1u);
  EXPECT_DOUBLE_EQ(projector.GetIntrinsics().f, 1.4);

  // The unit without calibration: the folder's files are used instead.
  sim::VirtualFelvarUnit::Faults faults;
  faults.calibration = VEMKO_ERROR_NO_DATA;
  SetFaults(faults);
  const fs::path dir = fs::temp_directory_path() / "tarvelin_felvar_models";
  fs::create_directories(dir);
  std::ofstream(dir / "3DcamCal.cal") << CameraText();
  std::ofstream(dir / "3DprojCal.cal") << ProjectorText();
  CameraModelFelvar felvar;
  CaptureStdout();
  ASSERT_TRUE(FeHalHelper::LoadDeviceModels(felvar, projector, dir.string() + "/"));
  const std::string out = GetCapturedStdout();
  EXPECT_NE(out.find("Get calibration data from files...\n"), std::string::npos) << out;
  // The unit's model scaled from the full to the half mode: cx/2 + 2, cy/2 − 2.
  EXPECT_DOUBLE_EQ(felvar.GetIntrinsics().cx, 2210.0 / 2.0 + 2.0);
  EXPECT_DOUBLE_EQ(felvar.GetIntrinsics().cy, 1650.0 / 2.0 - 2.0);
  // A corrupt camera text is refused.
  std::ofstream(dir / "3DcamCal.cal", std::ios::trunc) << CameraText().substr(0, 20);
  CaptureStdout();
  EXPECT_FALSE(FeHalHelper::LoadDeviceModels(felvar, projector, dir.string() + "/"));
  GetCapturedStdout();
  fs::remove_all(dir);
}

TEST_F(SimulatedUnit, ActivationPreparesAndDeactivationRestores) {
  sim::VirtualFelvarUnit::State before = unit->GetState();
  before.keystone.v[0] = 2;
  before.keystone.v[1] = 12;
  before.keystone.v[3] = -7;
  unit->SetState(before);
  ProjectorFelvar projector;
  CaptureStderr();
  ASSERT_TRUE(projector.Activate());
  EXPECT_TRUE(projector.IsActive());
  sim::VirtualFelvarUnit::State during = unit->GetState();
  EXPECT_EQ(during.projectorState, 1);
  EXPECT_EQ(during.keystone.v[0], 2);  // the 2D keystone set last, neutral
  for (int i = 1; i < 8; ++i) EXPECT_EQ(during.keystone.v[i], 0);
  EXPECT_TRUE(during.structuredLightMode);
  EXPECT_EQ(during.touchMat.v[0], 0);
  EXPECT_EQ(during.touchMat.v[1], 0);
  EXPECT_TRUE(during.projectorSubscribed);
  EXPECT_GE(projector.GetNotificationCount(), 1u);  // switched on

  projector.Deactivate();
  const sim::VirtualFelvarUnit::State after = unit->GetState();
  EXPECT_EQ(after.projectorState, 0);  // off before, off again
  for (int i = 0; i < 8; ++i) EXPECT_EQ(after.keystone.v[i], before.keystone.v[i]) << i;
  EXPECT_FALSE(after.structuredLightMode);
  EXPECT_EQ(after.touchMat.v[0], 1);
  EXPECT_EQ(after.touchMat.v[1], 1);
  projector.Close();
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(unit->GetState().openCount[VEMKO_PROJECTOR], 0);
  EXPECT_EQ(unit->GetState().openCount[VEMKO_TOUCHMAT], 0);
}

TEST_F(SimulatedUnit, AProjectorThatWasOnStaysOn) {
  sim::VirtualFelvarUnit::State state = unit->GetState();
  state.projectorState = 1;
  unit->SetState(state);
  ProjectorFelvar projector;
  ASSERT_TRUE(projector.Activate());
  projector.Deactivate();
  EXPECT_EQ(unit->GetState().projectorState, 1);
}

TEST_F(SimulatedUnit, AUnitWithoutTouchMatActivatesAndLeavesTheMatAlone) {
  sim::VirtualFelvarUnit::Faults faults;
  faults.noTouchMat = true;
  SetFaults(faults);
  ProjectorFelvar projector;
  CaptureStderr();
  ASSERT_TRUE(projector.Activate());
  EXPECT_EQ(GetCapturedStderr(), "OPS! error e0000001 opening the touchmat\n");
  EXPECT_TRUE(projector.IsActive());
  EXPECT_FALSE(projector.IsTouchMatOpen());
  projector.Deactivate();
  for (const std::string& call : unit->GetCalls())
    EXPECT_NE(call, "set 10") << "the touch mat was touched";
  EXPECT_EQ(unit->GetState().projectorState, 0);
}

TEST_F(SimulatedUnit, FailingCallsPrintTheirLines) {
  // The state cannot be read: activation fails at once.
  sim::VirtualFelvarUnit::Faults faults;
  faults.get[VEMKO_PROJECTOR_STATE] = 0x42;
  SetFaults(faults);
  {
    ProjectorFelvar projector;
    CaptureStderr();
    EXPECT_FALSE(projector.Activate());
    EXPECT_EQ(GetCapturedStderr(), "OPS! error 42 getting projector state\n");
    EXPECT_FALSE(projector.IsActive());
  }
  // The keystone cannot be read (so it is not restored) and the 1D keystone
  // cannot be set.
  faults = {};
  faults.get[VEMKO_KEYSTONE] = 0x10;
  unit->SetFaults(faults);
  sim::VirtualFelvarUnit::State state = unit->GetState();
  state.keystone.v[0] = 1;
  state.keystone.v[1] = 30;
  unit->SetState(state);
  {
    ProjectorFelvar projector;
    CaptureStderr();
    ASSERT_TRUE(projector.Activate());
    projector.Deactivate();
    EXPECT_EQ(GetCapturedStderr(), "OPS! error 10 getting projector keystone\n");
    EXPECT_EQ(unit->GetState().keystone.v[0], 2);  // left neutral
    EXPECT_EQ(unit->GetState().keystone.v[1], 0);
  }
  faults = {};
  faults.set[VEMKO_KEYSTONE] = 0xBAD;
  faults.close[VEMKO_TOUCHMAT] = 0x77;
  unit->SetFaults(faults);
  {
    ProjectorFelvar projector;
    CaptureStderr();
    ASSERT_TRUE(projector.Activate());
    projector.Close();
    EXPECT_EQ(GetCapturedStderr(),
              "OPS! error bad setting 1D keystone\n"
              "OPS! error bad setting 2D keystone\n"
              "OPS! error disabling keystone correction\n"
              "OPS! error bad restoring projector keystone\n"
              "OPS! error 77 closing the touchmat\n");
  }
  // Further operations.
  faults = {};
  faults.set[VEMKO_FLASH] = 0x5;
  faults.set[VEMKO_GRAYSCALE] = 0x6;
  faults.subscribe = 0x9;
  unit->SetFaults(faults);
  ProjectorFelvar projector;
  CaptureStderr();
  EXPECT_TRUE(projector.Open());
  EXPECT_FALSE(projector.SetFlash(true));
  EXPECT_FALSE(projector.EnableGrayscale());
  EXPECT_TRUE(projector.TurnOn());
  EXPECT_EQ(GetCapturedStderr(),
            "OPS! error 9 subscribing to projector notifications\n"
            "Error 5 setting flash on felvar projector.\n"
            "OPS! error 6 enabling grayscale mode\n");
  vemko::ProjectorState now;
  ASSERT_TRUE(projector.GetState(now));
  EXPECT_EQ(now, vemko::ProjectorState::kOn);
}

}  // namespace
}  // namespace felvar
