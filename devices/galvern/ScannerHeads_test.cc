#include "devices/galvern/ScannerHeads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "cam/CameraModelOCV.h"
#include "cam/CameraModelTsai.h"
#include "devices/felvar/DeviceLibrary.h"
#include "devices/galvern/GrabberSpinnaker.h"
#include "foundation/math/Frame.h"
#include "foundation/utils/testing/TemporaryFolder.h"
#include "scan/SLSingleColorPattern.h"
#include "scan/testing/CaptureRig.h"
#include "sim/VirtualFelvarUnit.h"
#include "vid/testing/GenCPCameraDouble.h"
#include "vid/testing/ReplayV4l2Device.h"

namespace galvern {
namespace {

using vid::testing::GenCPCameraDouble;
using vid::testing::ReplayV4l2Bus;
constexpr const char* kCamera = "DMK 33UX178 (Tirra left)";

// A head camera on the replayed bus whose control channel is the double.
struct Head {
  utils::testing::TemporaryFolder folder{"galvern"};
  std::shared_ptr<ReplayV4l2Bus> bus = std::make_shared<ReplayV4l2Bus>();
  std::shared_ptr<GenCPCameraDouble> memory = std::make_shared<GenCPCameraDouble>();
  HeadDevices devices;

  Head() {
    vid::testing::ReplayDescriptor camera = vid::testing::MonoIndustrialCamera();
    camera.card = kCamera;
    bus->Plug("/dev/video0", camera, {.realTime = false});
    devices.v4l2 = bus;
    devices.usbOpener = [this](const std::string&) { return memory; };
  }
  std::unique_ptr<TirraStructuredLightScanner> Connect(std::uint32_t variant = 0) {
    auto scanner = std::make_unique<TirraStructuredLightScanner>(
        variant, scan::StructuredLightScanner::InitParams{folder.GetPath().string(), 0.0}, devices);
    const std::size_t index = scanner->AddCamera(kCamera, false);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(scanner->CreateImageCapture(index));
    ::testing::internal::GetCapturedStdout();
    lastErrors = ::testing::internal::GetCapturedStderr();
    return scanner;
  }
  std::string lastErrors;
};

std::shared_ptr<cam::CameraModelTsai> TsaiModel() {
  auto model = std::make_shared<cam::CameraModelTsai>();
  model->SetResolution(1920, 1200);
  model->SetIntrinsics(960.5, 600.25, 1850.0, 1.0001, -2.5e-8);
  model->SetFrame_wTc(math::FRotZ(0.3) * math::FTrans(math::Vec3d(10.0, -20.0, 400.0)));
  return model;
}

TEST(ScannerHeads, DescriptorsOfBothHeads) {
  Head head;
  const TirraStructuredLightScanner tirra0(0, {}), tirra1(1, {});
  const auto c0 = tirra0.GetSupportedCameras(), c1 = tirra1.GetSupportedCameras();
  ASSERT_EQ(c0.size(), 1u);
  EXPECT_EQ(c0[0].source.name, "33UX178");
  EXPECT_EQ(c0[0].allowedFormats, (std::vector<vid::Format>{{vid::subtype::Y800, 0, 0, 30.0}}));
  EXPECT_EQ(c1[0].allowedFormats, (std::vector<vid::Format>{{vid::subtype::Y800, 0, 0, 20.0}}));
  EXPECT_TRUE(c0[0].forceConfiguration);
  EXPECT_EQ(c0[0].defaultProperties.at("flip_horizontal").value, 1.0);
  EXPECT_EQ(c0[0].defaultProperties.at("flip_vertical_sw").value, 1.0);
  EXPECT_EQ(c1[0].defaultProperties.at("flip_horizontal").value, 0.0);
  EXPECT_EQ(c1[0].defaultProperties.at("flip_vertical_sw").value, 0.0);
  EXPECT_EQ(c0[0].defaultProperties.size(), 12u);
  EXPECT_EQ(c0[0].frameRateChoices.size(), 7u);
  EXPECT_EQ(c0[0].frameRateChoices[5], (std::pair<std::int32_t, double>{1, 7.5}));
  EXPECT_EQ(tirra0.GetProductName(), "Custom");
  EXPECT_TRUE(tirra0.IsHighQualityTextureSupported());
  EXPECT_EQ(tirra0.GetWhiteBalance(), (std::array<double, 3>{4.88462, 1.47381, 3.63748}));
  const auto p = tirra0.GetSupportedProjectors();
  ASSERT_EQ(p.size(), 1u);
  EXPECT_EQ(p[0].GetName(), "Orla Horizontal");
  EXPECT_EQ(p[0].GetResY(), 1080);

  const GalvernStructuredLightScanner galvern({});
  const auto g = galvern.GetSupportedCameras();
  ASSERT_EQ(g.size(), 1u);
  EXPECT_EQ(g[0].allowedFormats, (std::vector<vid::Format>{{vid::subtype::Y800, 0, 0, 30.0}}));
  EXPECT_EQ(g[0].defaultProperties.size(), 10u);
  EXPECT_EQ(g[0].defaultProperties.at("gain").value, 34.0);
  EXPECT_EQ(g[0].defaultProperties.count("brightness"), 0u);
  EXPECT_EQ(galvern.GetSupportedProjectors()[0].GetResY(), 1280);
  EXPECT_FALSE(galvern.IsHighQualityTextureSupported());
}

// The calibration written into the camera comes back when the head
// connects again: a new scanner has the same model without being told.
TEST(ScannerHeads, CalibrationWrittenToTheCameraComesBackAtConnect) {
  Head head;
  auto scanner = head.Connect();
  // A fresh camera memory holds no record: connecting says so and leaves the model unset.
  EXPECT_NE(head.lastErrors.find("Wrong version in camera file. Expected: 1, read: 0"),
            std::string::npos)
      << head.lastErrors;
  EXPECT_FALSE(scanner->GetCameraModel(0));
  const auto model = TsaiModel();
  scanner->SetCameraModel(model, 0);
  ASSERT_TRUE(scanner->WriteCalibrationToCamera(0, 7, "abc"));
  // 4 + 144 + 8 + 3 bytes and one of padding.
  const auto bytes = head.memory->GetMemory();
  EXPECT_EQ(bytes[0] | bytes[1] << 8, 1);
  EXPECT_EQ(bytes[2] | bytes[3] << 8, 156);
  scanner.reset();

  auto again = head.Connect();
  EXPECT_EQ(head.lastErrors.find("ReadCalibrationFromCamera"), std::string::npos)
      << head.lastErrors;
  const auto back = std::dynamic_pointer_cast<cam::CameraModelTsai>(again->GetCameraModel(0));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->GetIntrinsics(), model->GetIntrinsics());
  EXPECT_EQ(back->GetResX(), 1920u);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      EXPECT_DOUBLE_EQ(back->GetFrame_wTc()(r, c), model->GetFrame_wTc()(r, c));
  std::uint64_t value = 0;
  std::string text;
  ASSERT_TRUE(again->ReadCalibrationFromCamera(0, value, text));
  EXPECT_EQ(value, 7u);
  EXPECT_EQ(text, "abc");

  // An OCV model round-trips with its nine parameters.
  auto ocv = std::make_shared<cam::CameraModelOCV>();
  ocv->SetIntrinsics({950.0, 610.0, 1800.0, 1.0, -0.1, 0.02, 0.001, -0.002, 0.003}, 1920, 1200);
  again->SetCameraModel(ocv, 0);
  ASSERT_TRUE(again->WriteCalibrationToCamera(0, 9, ""));
  again->SetCameraModel(model, 0);
  ASSERT_TRUE(again->ReadCalibrationFromCamera(0, value, text));
  const auto ocvBack = std::dynamic_pointer_cast<cam::CameraModelOCV>(again->GetCameraModel(0));
  ASSERT_TRUE(ocvBack);
  EXPECT_EQ(ocvBack->GetIntrinsics(), ocv->GetIntrinsics());
  EXPECT_TRUE(text.empty());
}

// The record's limit: header and payload together at most 65535 bytes; the
// payload a multiple of 4. A text of 65377 bytes makes 4 + 65532 (padded):
// refused before any transfer. A long text that fits is kept whole in the
// camera, and 255 bytes of it are read back.
TEST(ScannerHeads, RecordsBeyondTheUserMemoryAreRefusedBeforeAnyTransfer) {
  Head head;
  auto scanner = head.Connect();
  scanner->SetCameraModel(TsaiModel(), 0);
  ASSERT_TRUE(scanner->WriteCalibrationToCamera(0, 1, std::string(700, 'x')));
  const auto bytes = head.memory->GetMemory();
  EXPECT_EQ(bytes[2] | bytes[3] << 8, 852);  // 144 + 8 + 700
  const std::size_t transfers = head.memory->GetTransferCount();
  EXPECT_FALSE(scanner->WriteCalibrationToCamera(0, 1, std::string(65377, 'x')));
  EXPECT_EQ(head.memory->GetTransferCount(), transfers);
  std::uint64_t value = 0;
  std::string text;
  ASSERT_TRUE(scanner->ReadCalibrationFromCamera(0, value, text));
  EXPECT_EQ(text, std::string(255, 'x')) << "at most 255 bytes of text are read back";
}

TEST(ScannerHeads, CorruptRecordsAndMisuse) {
  Head head;
  auto scanner = head.Connect();
  const auto model = TsaiModel();
  scanner->SetCameraModel(model, 0);
  std::uint64_t value = 0;
  std::string text;
  auto failure = [&] {
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(scanner->ReadCalibrationFromCamera(0, value, text));
    return ::testing::internal::GetCapturedStderr();
  };
  head.memory->SetMemory(0, {3, 0, 8, 0});
  EXPECT_EQ(
      failure(),
      "Error in ReadCalibrationFromCamera - Wrong version in camera file. Expected: 1, read: 3\n");
  head.memory->SetMemory(0, {1, 0, 0, 0});
  EXPECT_EQ(failure(), "Error in ReadCalibrationFromCamera - Could not read data from camera\n");
  // A payload shorter than the Tsai record, and one whose focal length is 0.
  head.memory->SetMemory(0, {1, 0, 8, 0, 1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_EQ(
      failure(),
      "Error in ReadCalibrationFromCamera - Could not create camera model from camera memory\n");
  auto zero = std::make_shared<cam::CameraModelTsai>();
  zero->SetResolution(1920, 1200);
  scanner->SetCameraModel(zero, 0);
  ASSERT_TRUE(scanner->WriteCalibrationToCamera(0, 0, ""));
  scanner->SetCameraModel(model, 0);
  EXPECT_EQ(
      failure(),
      "Error in ReadCalibrationFromCamera - Could not create camera model from camera memory\n");
  EXPECT_EQ(scanner->GetCameraModel(0), model) << "the previous model is kept";
  // A header that claims more than the memory holds.
  head.memory->SetMemory(0, {1, 0, 0xFC, 0xFF});
  EXPECT_FALSE(failure().empty());
  EXPECT_EQ(scanner->GetCameraModel(0), model);
  // The channel gone: read as version 0.
  head.memory->SetFaults({.unplugged = true});
  EXPECT_NE(failure().find("Error in ReadCalibrationFromCamera - Wrong version in camera file. "
                           "Expected: 1, read: 0\n"),
            std::string::npos);

  auto expectThrow = [](auto call, const std::string& message) {
    try {
      call();
      ADD_FAILURE() << "no exception for " << message;
    } catch (const std::exception& e) {
      EXPECT_EQ(e.what(), message);
    }
  };
  expectThrow([&] { scanner->WriteCalibrationToCamera(3, 0, ""); },
              "TirraStructuredLightScanner::WriteCalibrationToCamera - Invalid camera index.");
  expectThrow([&] { scanner->CreateImageCapture(3); },
              "TirraStructuredLightScanner::CreateImageCapture - Invalid camera index.");
  const std::size_t plain = scanner->AddCamera("no capture", false);
  expectThrow([&] { scanner->WriteCalibrationToCamera(plain, 0, ""); },
              "TirraStructuredLightScanner::WriteCalibrationToCamera - Camera model is not set.");
  scanner->SetCameraModel(model, plain);
  expectThrow([&] { scanner->WriteCalibrationToCamera(plain, 0, ""); },
              "TirraStructuredLightScanner::WriteCalibrationToCamera - Image capture is not set or "
              "of wrong type.");
  expectThrow([&] { scanner->ReadCalibrationFromCamera(plain, value, text); },
              "TirraStructuredLightScanner::ReadCalibrationFromCamera - Image capture is not set "
              "or of wrong type.");
  GalvernStructuredLightScanner galvern({});
  expectThrow([&] { galvern.CreateImageCapture(0); },
              "GalvernStructuredLightScanner::CreateImageCapture - Invalid camera index.");
}

// The dual-camera head's projector unit is found in the unit device
// library's listing by its USB IDs (one product ID for variant 0, another
// for the rest) and prepared around captures like the unit's projector.
TEST(ScannerHeads, TirraFindsItsProjectorUnitByVariant) {
  const felvar::DeviceLibrary::Calls* library = felvar::DeviceLibrary::Get();
  ASSERT_NE(library, nullptr);
  sim::VirtualFelvarUnit unit("", "");
  ASSERT_EQ(library->setBackend(&unit.GetBackend()), VEMKO_OK);
  {
    TirraStructuredLightScanner first(0, {}), second(1, {});
    EXPECT_FALSE(first.InitProjectorControl());  // no head listed
    EXPECT_EQ(first.GetProjectorControl(), nullptr);
    unit.AddDevice(0xF3E1, 0x0B02, "/dev/bus/usb/virtual/010");
    EXPECT_FALSE(first.InitProjectorControl());
    ASSERT_TRUE(second.InitProjectorControl());
    ASSERT_NE(second.GetProjectorControl(), nullptr);
    EXPECT_TRUE(second.GetProjectorControl()->Activate());
    EXPECT_EQ(unit.GetState().projectorState, 1);
    EXPECT_TRUE(unit.GetState().structuredLightMode);
    second.GetProjectorControl()->Deactivate();
    EXPECT_EQ(unit.GetState().projectorState, 0);

    // Listed but not to be opened: no control, the library's status named.
    unit.AddDevice(0xF3E1, 0x0B01, "/dev/bus/usb/virtual/011");
    sim::VirtualFelvarUnit::Faults faults;
    faults.open[VEMKO_PROJECTOR] = 0x13;
    unit.SetFaults(faults);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(first.InitProjectorControl());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "OPS! error 13 opening the projector\n");
    EXPECT_EQ(first.GetProjectorControl(), nullptr);
    unit.SetFaults({});
  }
  library->setBackend(nullptr);
}

}  // namespace
}  // namespace galvern

namespace galvern {
namespace {

// The other camera family's capture: nothing to start, nothing to ask; the
// store handed to it is let go at once; every capture has its own GUID.
TEST(GrabberSpinnaker, DoesNothingButHaveItsOwnGuid) {
  EXPECT_FALSE(GrabberSpinnaker::IsAvailable());
  GrabberSpinnaker a, b;
  EXPECT_NE(a.GetSourceGuid(), utils::Guid());
  EXPECT_NE(a.GetSourceGuid(), b.GetSourceGuid());
  EXPECT_EQ(a.GetSourceGuid(), a.GetSourceGuid());
  struct Store : vid::ImageStore {
    bool PushImage(vid::ImagePtr) override { return true; }
  };
  auto store = std::make_shared<Store>();
  a.StartCapture(store, nullptr);
  EXPECT_EQ(store.use_count(), 1);
  EXPECT_FALSE(a.IsCapturing());
  EXPECT_FALSE(a.IsReady());
  EXPECT_TRUE(a.GetName().empty());
  EXPECT_TRUE(a.GetFormat().IsEmpty());
  EXPECT_TRUE(a.GetProperties().empty());
  EXPECT_TRUE(a.GetPropertyNames(false).empty());
  EXPECT_FALSE(a.GetProperty("exposure").valid);
  EXPECT_FALSE(a.GetPropertyRange("exposure").valid);
  EXPECT_FALSE(a.SetProperty("exposure", vid::Property(10.0)));
  std::string text = "old";
  EXPECT_FALSE(a.FormatPropertyValue(text, 1.0, "exposure"));
  EXPECT_TRUE(text.empty());
  a.StopCapture();
}

// The two-camera update needs models for cameras 0 and 1 (-1 otherwise) and
// a scan with decoded images of both (-2, saying so, no error image).
TEST(ScannerHeads, TirraSystemCalibrationUpdateNeedsModelsAndAScan) {
  utils::testing::TemporaryFolder folder("tirra");
  TirraStructuredLightScanner tirra(0, {});
  tirra.SetCalibrationFolder(folder.GetPath() / "calibration");
  EXPECT_EQ(tirra.UpdateSystemCalibration(), -1);
  tirra.AddCamera("DMK 33UX178 left", false);
  tirra.AddCamera("DMK 33UX178 right", false);
  tirra.SetCameraModel(TsaiModel(), 0);
  EXPECT_EQ(tirra.UpdateSystemCalibration(), -1);
  tirra.SetCameraModel(TsaiModel(), 1);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(tirra.UpdateSystemCalibration(), -2);
  EXPECT_NE(::testing::internal::GetCapturedStdout().find(
                "UpdateSystemCalibration - no pixel of camera 0 was matched in camera 1"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(folder.GetPath() / "calibration"));
}

}  // namespace
}  // namespace galvern

namespace galvern {
namespace {

// A scan through the scanner's capture: the projector unit is on while the
// patterns run and off afterwards; the texture is taken under a white field
// by camera 0 (a camera that films the display, 15 ms behind it), uniform
// at the white level, with camera 0's model at the frame's size.
TEST(ScannerHeads, TirraCaptureSwitchesItsProjectorAndTakesTheTextureUnderWhite) {
  const felvar::DeviceLibrary::Calls* library = felvar::DeviceLibrary::Get();
  ASSERT_NE(library, nullptr);
  sim::VirtualFelvarUnit unit("", "");
  ASSERT_EQ(library->setBackend(&unit.GetBackend()), VEMKO_OK);
  unit.AddDevice(0xF3E1, 0x0B01, "/dev/bus/usb/virtual/011");
  {
    TirraStructuredLightScanner tirra(0, {});
    ASSERT_TRUE(tirra.InitProjectorControl());
    // The scan's grey patterns at their levels, any other (the white field) at 240.
    auto levels = std::make_shared<scan::testing::LevelScan>(5, 20, 40);
    auto display = std::make_shared<scan::testing::RecordingPatternDisplay>(
        [levels](const scan::SLPatternPtr& p) {
          const std::uint8_t level = levels->LevelOf(p);
          return level != 0 ? level : std::uint8_t(240);
        },
        250);
    tirra.SetSLScan(levels);
    tirra.SetProjector("Orla Horizontal", display);
    scan::testing::DisplayFollowingCamera::Options options;
    options.width = 80;
    options.height = 60;
    options.period = 0.01;
    options.latency = 0.015;
    auto camera = std::make_shared<scan::testing::DisplayFollowingCamera>(display, options);
    const std::size_t index = tirra.AddCamera("DMK 33UX178 left", false);
    tirra.SetImageCapture(camera, index);
    auto model = TsaiModel();  // 1920 × 1200
    tirra.SetCameraModel(model, index);
    scan::AcquisitionParameters parameters;
    parameters.imageContentSensitivity = 90;
    parameters.imageSkipCount = 1;
    parameters.maxPatternHoldingTime = 2.0;
    tirra.SetAcquisitionParameters(parameters);
    tirra.SetTextureCaptureMode(2);
    ASSERT_EQ(tirra.GetTextureCaptureMode(), 2);

    std::vector<int> projectorDuringCapture;
    tirra.CapturePatternSequence([&](double fraction) {
      if (fraction > 0.0 && fraction < 1.0)
        projectorDuringCapture.push_back(unit.GetState().projectorState);
      return false;
    });
    ASSERT_FALSE(projectorDuringCapture.empty());
    EXPECT_TRUE(std::all_of(projectorDuringCapture.begin(), projectorDuringCapture.end(),
                            [](int s) { return s == 1; }));
    EXPECT_EQ(unit.GetState().projectorState, 0);
    const auto shown = display->PatternsShown();
    ASSERT_EQ(shown.size(), 6u);
    const auto* last = dynamic_cast<const scan::SLSingleColorPattern*>(shown.back().get());
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->BGRA(), (std::array<std::uint8_t, 4>{255, 255, 255, 255}));

    ASSERT_TRUE(tirra.HasHighQualityTexture());
    const auto image = tirra.GetHighQualityTextureImage();
    ASSERT_TRUE(image);
    ASSERT_EQ(image->width, 80u);
    ASSERT_EQ(image->height, 60u);
    for (const auto& [x, y] : {std::pair{0u, 0u}, std::pair{79u, 59u}, std::pair{40u, 30u}}) {
      EXPECT_EQ((*image)(x, y).r, 240);
      EXPECT_EQ((*image)(x, y).g, 240);
    }
    const auto textureModel = tirra.GetHighQualityTextureCameraModel();
    ASSERT_TRUE(textureModel);
    EXPECT_EQ(textureModel->GetResX(), 80u);
    // cx of 960.5 at 1920 pixels, scaled to 80 (the pixel-centre convention of the model's
    // scaling).
    auto scaled = std::shared_ptr<cam::CameraModel>(model->CloneModel());
    scaled->ScaleToResolution(80, 60);
    EXPECT_DOUBLE_EQ(dynamic_cast<const cam::CameraModelTsai&>(*textureModel).GetIntrinsics().cx,
                     dynamic_cast<const cam::CameraModelTsai&>(*scaled).GetIntrinsics().cx);

    // Without a frame in time: no texture, and why.
    camera->SetPaused(true);
    tirra.SetTextureTimeout(0.2);
    testing::internal::CaptureStderr();
    const auto none = tirra.CaptureHighQualityTexture();
    EXPECT_FALSE(none.image);
    EXPECT_NE(
        testing::internal::GetCapturedStderr().find("camera 0 delivered no frame within 0.2 s"),
        std::string::npos);
  }
  library->setBackend(nullptr);
}

}  // namespace
}  // namespace galvern
