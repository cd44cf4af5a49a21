// The unit as a scanner product: its camera modes and settings, factory
// models, projector bracket and texture capture, over a replayed camera
// bridge and a simulated unit behind the device library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "devices/felvar/DeviceLibrary.h"
#include "devices/felvar/FelvarStructuredLightScanner.h"
#include "devices/felvar/testing/ModelTexts.h"
#include "sim/VirtualFelvarUnit.h"
#include "vid/MediaType.h"
#include "vid/testing/ReplayV4l2Device.h"

namespace felvar {
namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

std::string CameraText() {
  return fixtures::TsaiModelText(4416, 3312, 2210.0, 1650.0, 3300.0, 0.0);
}

std::string ProjectorText() { return fixtures::ProjectorModelText(); }

class FelvarScanner : public testing::Test {
 protected:
  void SetUp() override {
    const DeviceLibrary::Calls* library = DeviceLibrary::Get();
    ASSERT_NE(library, nullptr);
    calls = library;
    unit = std::make_unique<sim::VirtualFelvarUnit>(CameraText(), ProjectorText());
    ASSERT_EQ(calls->setBackend(&unit->GetBackend()), VEMKO_OK);
    vid::testing::ReplayDescriptor d;
    d.card = FelvarStructuredLightScanner::kCameraName;
    d.formats = {
        {vid::fourcc::GREY, "GREY", false, {{1104, 828, {{1, 30}}}, {2208, 1656, {{1, 15}}}}},
        {vid::fourcc::RGB24, "RGB3", false, {{4416, 3312, {{1, 7}}}}}};
    d.render = [this](std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint64_t,
                      std::vector<std::uint8_t>& bytes) {
      std::memset(bytes.data(), level.load(), bytes.size());
    };
    bus->Plug("/dev/video0", d, {.realTime = false});
  }
  void TearDown() override { calls->setBackend(nullptr); }

  // timeout: the texture's; a loaded machine takes a second for the first 4416 × 3312 frame.
  std::unique_ptr<FelvarStructuredLightScanner> MakeScanner(std::uint32_t slsWidth = 1104,
                                                            double timeout = 20.0) {
    FelvarStructuredLightScanner::Options options;
    options.v4l2 = bus;
    options.slsWidth = slsWidth;
    options.exposure = 420;
    options.programData = "/nonexistent";
    options.textureTimeoutSeconds = timeout;
    return std::make_unique<FelvarStructuredLightScanner>(
        scan::StructuredLightScanner::InitParams{}, options);
  }

  const DeviceLibrary::Calls* calls = nullptr;
  std::unique_ptr<sim::VirtualFelvarUnit> unit;
  std::shared_ptr<vid::testing::ReplayV4l2Bus> bus =
      std::make_shared<vid::testing::ReplayV4l2Bus>();
  std::atomic<int> level{100};
};

TEST_F(FelvarScanner, DescriptorsAndFactoryModelsInTheSensorMode) {
  CaptureStdout();
  auto scanner = MakeScanner();
  EXPECT_EQ(GetCapturedStdout(),
            "Load Felvar factory calibration....\nGet calibration data from projector...\n");
  ASSERT_TRUE(scanner->HasFactoryCalibration());
  EXPECT_EQ(scanner->GetProductName(), "Felvar");

  const auto cameras = scanner->GetSupportedCameras();
  ASSERT_EQ(cameras.size(), 1u);
  EXPECT_EQ(cameras[0].source.name, "USB Camera-OV580");
  ASSERT_EQ(cameras[0].allowedFormats.size(), 1u);
  EXPECT_EQ(cameras[0].allowedFormats[0], (vid::Format{utils::Guid(), 1104, 828, 0.0}));
  const auto projectors = scanner->GetSupportedProjectors();
  ASSERT_EQ(projectors.size(), 1u);
  EXPECT_EQ(projectors[0].GetName(), "Orla Horizontal");
  EXPECT_EQ(projectors[0].GetResX(), 1920);
  EXPECT_EQ(projectors[0].GetResY(), 1080);
  EXPECT_DOUBLE_EQ(projectors[0].GetRefreshRate(), 60.0);
  EXPECT_DOUBLE_EQ(projectors[0].GetGamma(), 2.2);
  EXPECT_TRUE(scanner->IsHighQualityTextureSupported());

  const std::size_t index = scanner->AddCamera(FelvarStructuredLightScanner::kCameraName, false);
  EXPECT_THROW(scanner->CreateImageCapture(5), std::invalid_argument);
  CaptureStdout();
  ASSERT_TRUE(scanner->CreateImageCapture(index));
  GetCapturedStdout();
  const auto grabber = std::dynamic_pointer_cast<GrabberFelvar>(scanner->GetImageCapture(index));
  ASSERT_NE(grabber, nullptr);
  EXPECT_EQ(grabber->GetFormat().width, 1104);
  // The unit's full-size model: 4416 → 2208 (cx/2 + 2, cy/2 − 2) when it is
  // loaded, then 2208 → 1104 (cx/2 + 1, cy/2) for the quarter mode.
  const auto model = std::dynamic_pointer_cast<CameraModelFelvar>(scanner->GetCameraModel(index));
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(model->GetResX(), 1104u);
  EXPECT_DOUBLE_EQ(model->GetIntrinsics().cx, (2210.0 / 2 + 2) / 2 + 1);
  EXPECT_DOUBLE_EQ(model->GetIntrinsics().cy, (1650.0 / 2 - 2) / 2);
  EXPECT_DOUBLE_EQ(model->GetIntrinsics().f, 3300.0 / 4);
  ASSERT_NE(scanner->GetProjectorModel(), nullptr);
  EXPECT_EQ(scanner->GetProjectorModel()->GetResX(), 1u);
}

TEST_F(FelvarScanner, CaptureBracketSwitchesProjectorAndCameraModes) {
  auto scanner = MakeScanner();
  const std::size_t index = scanner->AddCamera(FelvarStructuredLightScanner::kCameraName, false);
  CaptureStdout();
  ASSERT_TRUE(scanner->CreateImageCapture(index));
  scanner->SetProjector("Orla Horizontal",
                        std::make_shared<scan::SLCallbackPatternDisplay>(nullptr, nullptr));
  GetCapturedStdout();
  ASSERT_NE(scanner->GetProjectorControl(), nullptr);
  const auto grabber = std::dynamic_pointer_cast<GrabberFelvar>(scanner->GetImageCapture(index));

  CaptureStderr();
  scanner->OnCaptureStateChanged(1);
  EXPECT_EQ(GetCapturedStderr(), "");
  auto state = unit->GetState();
  EXPECT_EQ(state.projectorState, 1);
  EXPECT_TRUE(state.structuredLightMode);
  EXPECT_EQ(state.camera[VEMKO_AUTO_WHITE_BALANCE], 0);
  EXPECT_EQ(state.camera[VEMKO_AUTO_EXPOSURE], 0);
  EXPECT_EQ(state.camera[VEMKO_GAMMA_CORRECTION], 0);
  EXPECT_EQ(state.camera[VEMKO_GAIN], GrabberFelvar::kStructuredLightGain);
  EXPECT_EQ(state.camera[VEMKO_LENS_SHADING], 1);
  EXPECT_EQ(state.camera[VEMKO_EXPOSURE], 420);
  EXPECT_EQ(grabber->GetFormat(), (vid::Format{vid::subtype::Y800, 1104, 828, 30.0}));

  // The texture: the texture mode, the frame passed by the brightness
  // filter and the model scaled back to the full sensor (2 cx − 4, 2 cy + 4
  // from the half mode: the unit's own 2210, 1650).
  CaptureStdout();
  CaptureStderr();
  auto texture = scanner->CaptureHighQualityTexture();
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_NE(GetCapturedStdout().find("ImageTextureFilter, Y=100, Pass."), std::string::npos);
  ASSERT_NE(texture.image, nullptr);
  EXPECT_EQ(texture.image->width, 4416u);
  EXPECT_EQ(texture.image->height, 3312u);
  EXPECT_EQ((*texture.image)(4000, 3000).g, 100);
  ASSERT_NE(texture.cameraModel, nullptr);
  const auto* full = dynamic_cast<const CameraModelFelvar*>(texture.cameraModel.get());
  ASSERT_NE(full, nullptr);
  EXPECT_DOUBLE_EQ(full->GetIntrinsics().cx, 2210.0);
  EXPECT_DOUBLE_EQ(full->GetIntrinsics().cy, 1650.0);
  EXPECT_EQ(grabber->GetFormat(), GrabberFelvar::TextureFormat());
  state = unit->GetState();
  EXPECT_EQ(state.camera[VEMKO_AUTO_EXPOSURE], 1);
  EXPECT_EQ(state.camera[VEMKO_AUTO_WHITE_BALANCE], 1);

  CaptureStderr();
  scanner->OnCaptureStateChanged(0);
  EXPECT_EQ(GetCapturedStderr(), "");
  state = unit->GetState();
  EXPECT_EQ(state.projectorState, 0);
  EXPECT_FALSE(state.structuredLightMode);

  // A second scan starts again in the structured-light mode.
  scanner->OnCaptureStateChanged(1);
  EXPECT_EQ(grabber->GetFormat().width, 1104);
  scanner->OnCaptureStateChanged(0);
}

TEST_F(FelvarScanner, DarkTextureFramesTimeOutAndFailingSettingsSayWhich) {
  // Dark frames never pass, so the whole time-out is waited; it must be
  // long enough for frames to arrive at all on a loaded or instrumented run.
  auto scanner = MakeScanner(2208, 4.0);
  const std::size_t index = scanner->AddCamera(FelvarStructuredLightScanner::kCameraName, false);
  CaptureStdout();
  ASSERT_TRUE(scanner->CreateImageCapture(index));
  GetCapturedStdout();
  EXPECT_EQ(scanner->GetImageCapture(index)->GetFormat().width, 2208);

  level = 30;  // below the threshold of 40
  CaptureStdout();
  CaptureStderr();
  const auto texture = scanner->CaptureHighQualityTexture();
  EXPECT_EQ(texture.image, nullptr);
  EXPECT_EQ(GetCapturedStderr(), "Capture texture image timeout!!!\n");
  EXPECT_NE(GetCapturedStdout().find("ImageTextureFilter, Y=30, Fail."), std::string::npos);

  sim::VirtualFelvarUnit::Faults faults;
  faults.set[VEMKO_EXPOSURE] = 0x33;
  unit->SetFaults(faults);
  CaptureStderr();
  scanner->OnCaptureStateChanged(1);
  EXPECT_EQ(GetCapturedStderr(),
            "OPS! error 33 setting exposure of the HiResCamera\n"
            "Failed in capture images.\n"
            "Error setting structured light settings\n");
  faults = {};
  faults.set[VEMKO_AUTO_EXPOSURE] = 0x44;
  unit->SetFaults(faults);
  CaptureStderr();
  scanner->OnCaptureStateChanged(0);
  EXPECT_EQ(GetCapturedStderr(),
            "OPS! error 44 enabling auto exposure of the HiResCamera\n"
            "Error setting texture capture settings\n");
}

TEST_F(FelvarScanner, TheUnitsCameraPropertiesGoThroughTheLibrary) {
  auto scanner = MakeScanner();
  const std::size_t index = scanner->AddCamera(FelvarStructuredLightScanner::kCameraName, false);
  CaptureStdout();
  ASSERT_TRUE(scanner->CreateImageCapture(index));
  GetCapturedStdout();
  const auto grabber = std::dynamic_pointer_cast<GrabberFelvar>(scanner->GetImageCapture(index));
  ASSERT_TRUE(grabber->SetProperty("exposure", vid::Property(250.4)));
  ASSERT_TRUE(grabber->SetProperty("lens_color_shading", vid::Property(1.0)));
  ASSERT_TRUE(grabber->SetProperty("gamma_correction", vid::Property(0.0)));
  auto state = unit->GetState();
  EXPECT_EQ(state.camera[VEMKO_EXPOSURE], 250);
  EXPECT_EQ(state.camera[VEMKO_LENS_COLOR_SHADING], 1);
  EXPECT_EQ(state.camera[VEMKO_GAMMA_CORRECTION], 0);
  state.camera[VEMKO_GAIN] = 48;
  unit->SetState(state);
  EXPECT_DOUBLE_EQ(grabber->GetProperty("gain").value, 48.0);
  EXPECT_DOUBLE_EQ(grabber->GetProperty("exposure").value, 250.0);
  EXPECT_DOUBLE_EQ(grabber->GetProperty("lens_color_shading").value, 1.0);
  // Listed once each, after the video device's own names; the unit reports no
  // ranges, so a slider list leaves them out.
  const auto names = grabber->GetPropertyNames(false);
  const std::vector<std::string> unitNames{"exposure",         "gain",
                                           "lens_shading",     "lens_color_shading",
                                           "gamma_correction", "auto_white_balance"};
  ASSERT_GE(names.size(), unitNames.size());
  EXPECT_EQ(std::vector<std::string>(names.end() - 6, names.end()), unitNames);
  for (const auto& name : unitNames)
    EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << name;
  EXPECT_NE(std::find(names.begin(), names.end(), "flip_vertical_sw"), names.end());
  const auto adjustable = grabber->GetPropertyNames(true);
  for (const auto& name : unitNames)
    EXPECT_EQ(std::count(adjustable.begin(), adjustable.end(), name), 0) << name;
  const auto values = grabber->GetProperties();
  ASSERT_TRUE(values.count("gain"));
  EXPECT_DOUBLE_EQ(values.at("gain").value, 48.0);
  // The sensor modes only.
  EXPECT_FALSE(grabber->setSLSFormat(1000));
  EXPECT_EQ(grabber->GetSLSWidth(), 1104u);
  EXPECT_TRUE(grabber->setSLSFormat(4416));
}

TEST_F(FelvarScanner, WithoutTheUnitItSaysSoAndHasNoModels) {
  calls->setBackend(nullptr);
  CaptureStdout();
  CaptureStderr();
  auto scanner = MakeScanner();
  // The unit cannot be opened, and the SDK folder has no files either.
  EXPECT_EQ(GetCapturedStderr(),
            "FeHalHelper::GetCalibrationData: Can't load calibration data from files.\n"
            "Error - Could not connect to Felvar camera.\n");
  EXPECT_EQ(GetCapturedStdout(),
            "Load Felvar factory calibration....\n"
            "FeHalHelper::GetCalibrationData: Error e0000001 opening the projector\n"
            "Get calibration data from files...\n");
  EXPECT_FALSE(scanner->HasFactoryCalibration());
  EXPECT_EQ(scanner->GetFactoryCameraModel(), nullptr);
  CaptureStderr();
  EXPECT_FALSE(scanner->InitProjectorControl());
  EXPECT_EQ(GetCapturedStderr(), "OPS! error e0000001 opening the projector\n");
}

}  // namespace
}  // namespace felvar
