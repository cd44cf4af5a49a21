#include "scan/HardwareSetupIO.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "cam/CameraModelOCV.h"
#include "cam/CameraModelTsai.h"
#include "foundation/math/Frame.h"

namespace scan {
namespace {

using ::testing::HasSubstr;

// Built once: the OCV projector's undistortion map takes a while.
const HardwareSetupIO& MakeSetup() {
  static const HardwareSetupIO setup = [] {
    HardwareSetupIO setup;
    setup.product = "Custom";
    setup.calibration = {1.25, "inner"};
    auto tsai = std::make_shared<cam::CameraModelTsai>();
    tsai->SetIntrinsics(651.3, 479.9, 2412.123456789, 1.0003, 3.1e-8);
    tsai->SetResolution(1280, 960);
    tsai->SetFrame_wTc(math::FRotY(0.3) * math::FRotX(-0.1) *
                       math::FTrans(12.5, -3.25, 400.0 / 3.0));
    HardwareSetupIO::Camera camera;
    camera.name = "Left camera";
    camera.cameraModel = tsai;
    camera.whiteBalanceFactors = {1.1f, 1.0f, 1.7f};
    camera.cameraProperties["exposure"] = vid::Property(-6.5, vid::Property::kAuto);
    camera.cameraProperties["gain"] = vid::Property(12.0, vid::Property::kManual);
    camera.imageRotation = -1;
    setup.cameras.push_back(camera);
    HardwareSetupIO::Camera second;
    second.name = "Right camera";
    second.imageRotation = 1;
    setup.cameras.push_back(second);

    auto ocv = std::make_shared<cam::CameraModelOCV>();
    cam::CameraModelOCVIntrinsics c;
    c.cx = 0.5;
    c.cy = -0.21;
    c.f = 1.9;
    c.sx = 0.5625;
    c.k1 = 0.01;
    c.k2 = -0.002;
    c.k3 = 1e-4;
    c.p1 = 3e-4;
    c.p2 = -2e-4;
    ocv->SetIntrinsics(c, 1, 1);
    ocv->SetFrame_wTc(math::FRotZ(0.05) * math::FTrans(-80.0, 10.0, 5.0));
    setup.projector.modelType = "CameraModelOCV";
    setup.projector.projectorModel = ocv;
    setup.projector.extendedDisplay = {"HDMI-1", 1, 1920, 0, 1280, 800, 59.94};
    return setup;
  }();
  return setup;
}

void ExpectSameFrame(const cam::CameraModel& a, const cam::CameraModel& b) {
  for (int i = 0; i < 16; ++i)
    EXPECT_EQ(a.GetFrame_wTc().data()[i], b.GetFrame_wTc().data()[i]) << i;
}

TEST(HardwareSetupIO, RoundTripKeepsEveryValueExactly) {
  const HardwareSetupIO setup = MakeSetup();
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / "HardwareSetupIO_test.tarvelinsetup";
  ASSERT_TRUE(SaveHardwareSetup(setup, path.string()));
  HardwareSetupIO read;
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(LoadHardwareSetup(read, path.string()));
  // Only the camera written without a model is reported.
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Error - Expected CameraModelTsai or CameraModelOCV as camera model type: \n"
            "Error - Could not read camera model from XML\n");
  std::filesystem::remove(path);

  EXPECT_EQ(read.product, "Custom");
  EXPECT_EQ(read.calibration.scale, 1.25);
  EXPECT_EQ(read.calibration.orientation, "inner");
  ASSERT_EQ(read.cameras.size(), 2u);
  const HardwareSetupIO::Camera& camera = read.cameras[0];
  EXPECT_EQ(camera.name, "Left camera");
  EXPECT_EQ(camera.imageRotation, -1);
  EXPECT_EQ(camera.whiteBalanceFactors, (std::array<float, 3>{1.1f, 1.0f, 1.7f}));
  EXPECT_EQ(camera.cameraProperties, setup.cameras[0].cameraProperties);
  auto tsai = std::dynamic_pointer_cast<cam::CameraModelTsai>(camera.cameraModel);
  ASSERT_TRUE(tsai);
  const auto& expectedTsai =
      static_cast<const cam::CameraModelTsai&>(*setup.cameras[0].cameraModel);
  EXPECT_EQ(tsai->GetIntrinsics(), expectedTsai.GetIntrinsics());
  EXPECT_EQ(tsai->GetResX(), 1280u);
  EXPECT_EQ(tsai->GetResY(), 960u);
  ExpectSameFrame(*tsai, expectedTsai);
  // A camera without a model is written without one and read back without.
  EXPECT_EQ(read.cameras[1].imageRotation, 1);
  EXPECT_FALSE(read.cameras[1].cameraModel);

  EXPECT_EQ(read.projector.modelType, "CameraModelOCV");
  auto ocv = std::dynamic_pointer_cast<cam::CameraModelOCV>(read.projector.projectorModel);
  ASSERT_TRUE(ocv);
  const auto& expectedOcv =
      static_cast<const cam::CameraModelOCV&>(*setup.projector.projectorModel);
  EXPECT_EQ(ocv->GetIntrinsics(), expectedOcv.GetIntrinsics());
  EXPECT_TRUE(ocv->GetUndistortionMap());  // rebuilt by SetIntrinsics
  ExpectSameFrame(*ocv, expectedOcv);
  const auto& d = read.projector.extendedDisplay;
  EXPECT_EQ(d.name, "HDMI-1");
  EXPECT_EQ(d.screenID, 1);
  EXPECT_EQ(d.x, 1920);
  EXPECT_EQ(d.y, 0);
  EXPECT_EQ(d.resX, 1280);
  EXPECT_EQ(d.resY, 800);
  EXPECT_EQ(d.refreshRate, 59.94);
}

TEST(HardwareSetupIO, WriterUsesTheFileNames) {
  const std::string xml = WriteHardwareSetup(MakeSetup());
  for (const char* text :
       {"<hardwareSetup product=\"Custom\"", "<calibration scale=\"1.25\" orientation=\"inner\"",
        "<cameras>", "<camera name=\"Left camera\" rotation=\"Left\"",
        "<whiteBalanceFactors red=\"1.7\" green=\"1\" blue=\"1.1\"",
        "<cameraModel type=\"CameraModelTsai\"", "<intrinsics resX=\"1280\" resY=\"960\"",
        "<pose type=\"Frame4d\"", "<cameraProperties>",
        "<property name=\"exposure\" value=\"-6.5\" mode=\"auto\"", "<projectors>",
        "<projectorModel type=\"CameraModelOCV\"",
        "<extendedDisplay name=\"HDMI-1\" screenID=\"1\""}) {
    EXPECT_THAT(xml, HasSubstr(text));
  }
}

TEST(HardwareSetupIO, ModelTypesModesAndMissingValues) {
  const std::string xml = R"(<hardwareSetup product="P">
  <cameras>
    <camera name="a" rotation="left">
      <cameraModel type="CameraTsai"><intrinsics resX="640" resY="480" cx="320" cy="240" f="800" sx="1"/>
        <pose type="Frame4d"><n x="1"/><o y="1"/><a z="1"/><p x="1" y="2" z="3"/></pose></cameraModel>
      <cameraProperties><property name="gain" value="3" mode="Auto"/><property value="1"/>
        <property name="focus" value="7" mode="auto"/></cameraProperties>
    </camera>
    <camera name="b"><cameraModel type="Pinhole"/></camera>
    <camera name="c"><cameraModel type="CameraModelOCV"><intrinsics f="2"/><pose type="Frame3d"/></cameraModel></camera>
    <camera name="d"><cameraModel type="CameraModelTsai"><intrinsics f="2"/>
        <pose type="Frame4d"><n/><o/><a y="0.9655" z="-0.26"/><p/></pose></cameraModel></camera>
  </cameras>
</hardwareSetup>)";
  HardwareSetupIO setup;
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(ReadHardwareSetup(setup, xml));
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(errors,
            "Error - Expected CameraModelTsai or CameraModelOCV as camera model type: Pinhole\n"
            "Error - Could not read camera model from XML\n"
            "Error - Expected Frame4d as pose type: Frame3d\n"
            "Error - Could not read camera model from XML\n"
            "Error - The pose's axes do not span a rotation.\n"
            "Error - Could not read camera model from XML\n");
  ASSERT_EQ(setup.cameras.size(), 4u);
  EXPECT_EQ(setup.cameras[0].imageRotation, 0);  // "left" is not "Left"
  auto tsai = std::dynamic_pointer_cast<cam::CameraModelTsai>(setup.cameras[0].cameraModel);
  ASSERT_TRUE(tsai);
  EXPECT_EQ(tsai->GetIntrinsics().kappa1, 0.0);  // missing reads as 0
  EXPECT_EQ(tsai->GetFrame_wTc().GetTrans(), math::Vec3d(1, 2, 3));
  EXPECT_EQ(setup.cameras[0].cameraProperties.size(), 2u);  // the nameless entry is ignored
  EXPECT_FALSE(setup.cameras[0].cameraProperties["gain"].IsAuto());
  EXPECT_TRUE(setup.cameras[0].cameraProperties["focus"].IsAuto());
  EXPECT_EQ(setup.cameras[0].whiteBalanceFactors, (std::array<float, 3>{0.0f, 0.0f, 0.0f}));
  EXPECT_FALSE(setup.cameras[1].cameraModel);
  EXPECT_FALSE(setup.cameras[2].cameraModel);
  EXPECT_FALSE(setup.cameras[3].cameraModel);  // zero n and o axes: no rotation
  EXPECT_FALSE(setup.projector.projectorModel);
}

TEST(HardwareSetupIO, TruncatedAndCorruptFilesGiveAnEmptySetup) {
  const std::string xml = WriteHardwareSetup(MakeSetup());
  for (std::size_t cut :
       {std::size_t(0), std::size_t(1), xml.size() / 3, xml.size() / 2, xml.size() - 20}) {
    HardwareSetupIO setup = MakeSetup();
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(ReadHardwareSetup(setup, std::string_view(xml).substr(0, cut))) << cut;
    EXPECT_THAT(::testing::internal::GetCapturedStderr(),
                ::testing::StartsWith("Error: LoadHardwareSetup - "));
    EXPECT_TRUE(setup.product.empty());
    EXPECT_TRUE(setup.cameras.empty());
    EXPECT_FALSE(setup.projector.projectorModel);
  }
  // Well-formed but nonsensical values: numbers that do not parse or are
  // not finite read as 0.
  HardwareSetupIO setup;
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(
      ReadHardwareSetup(setup, R"(<hardwareSetup><calibration scale="nan"/><projectors><projector>
    <extendedDisplay resX="1e99" resY="12abc" refreshRate="inf"/></projector></projectors></hardwareSetup>)"));
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(setup.calibration.scale, 0.0);
  EXPECT_EQ(setup.projector.extendedDisplay.resX, 0);
  EXPECT_EQ(setup.projector.extendedDisplay.resY, 12);
  EXPECT_EQ(setup.projector.extendedDisplay.refreshRate, 0.0);
  HardwareSetupIO missing;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(LoadHardwareSetup(missing, "/nonexistent/setup.tarvelinsetup"));
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), ::testing::StartsWith("Error: "));
}

}  // namespace
}  // namespace scan
