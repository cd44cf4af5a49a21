#include "shell/ProductScanners.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "devices/galvern/ScannerHeads.h"
#include "devices/sls/GenericStructuredLightScanner.h"
#include "foundation/utils/testing/TemporaryFolder.h"
#include "shell/SettingPath.h"
#include "shell/VirtualRigScanner.h"
#include "shell/testing/ShellFixture.h"

namespace shell {
namespace {

// The application on a data root with the reduced default rig as hardware
// setup, all products registered.
struct Shell {
  utils::testing::TemporaryFolder root{"products"};
  std::vector<std::string> log;
  std::unique_ptr<Application> app;

  explicit Shell(const std::string& product) {
    testing::WriteRigScene(root.GetPath(), "default", testing::kFastVaseScene);
    CommandLine commandLine;
    std::string error;
    EXPECT_TRUE(CommandLine::Parse(
        {"--root", root.GetPath().string(), "--rig-scale", "0.25", "--product", product},
        commandLine, error));
    Application::Options options;
    RegisterProducts(options);
    options.log = [this](const std::string& line) { log.push_back(line); };
    options.computerName = "host";
    options.userName = "user";
    options.shippedShare = TARVELIN_SHARE_DIR;
    app = std::make_unique<Application>(commandLine, options);
    EXPECT_TRUE(app->Start(error)) << error;
  }
  bool Logged(const std::string& part) const {
    return std::any_of(log.begin(), log.end(),
                       [&](const std::string& l) { return l.find(part) != std::string::npos; });
  }
};

// The product table of the shell: each name gives its scanner class, the
// setup's camera comes with its model, and a camera no device answers for
// is named in the log (there is no video device of the rig's name).
TEST(ProductScanners, EachProductNameCreatesItsScanner) {
  for (const char* name : {"Custom", "ScannerModelA", "Workshop kit"}) {
    Shell shell(name);
    const auto* generic =
        dynamic_cast<sls::GenericStructuredLightScanner*>(shell.app->GetScanner().get());
    ASSERT_TRUE(generic) << name;
    EXPECT_EQ(generic->GetProductName(), name);
    EXPECT_FALSE(
        dynamic_cast<galvern::TirraStructuredLightScanner*>(shell.app->GetScanner().get()));
    ASSERT_EQ(generic->GetCameraCount(), 1u);
    EXPECT_TRUE(generic->GetCameraModel(0)) << "the setup's calibration is kept";
    EXPECT_FALSE(generic->GetImageCapture(0));
    EXPECT_TRUE(shell.Logged("Camera \"VirtualCamera0\" is not connected")) << name;
    EXPECT_FALSE(shell.Logged("has no implementation"));
  }
  {
    Shell shell("Galvern");
    EXPECT_TRUE(
        dynamic_cast<galvern::GalvernStructuredLightScanner*>(shell.app->GetScanner().get()));
  }
  for (const char* name : {"ScannerModelF", "TirraForFelvar"}) {
    Shell shell(name);
    const auto* tirra =
        dynamic_cast<galvern::TirraStructuredLightScanner*>(shell.app->GetScanner().get());
    ASSERT_TRUE(tirra) << name;
    EXPECT_EQ(tirra->GetProductName(), "Custom");
    const std::string mode =
        shell.app->GetSettings().GetSetting<std::string>(SettingPath("Scan/ScanMode")).Value();
    EXPECT_EQ(mode, std::string(name) == "TirraForFelvar" ? "background" : "turntable") << name;
    // The workflow's two-camera update is the head's; the rig setup has one camera.
    const auto& update = shell.app->GetScannerBundle().updateSystemCalibration;
    ASSERT_TRUE(update) << name;
    EXPECT_EQ(update(), -1) << name;
    EXPECT_FALSE(std::filesystem::exists(shell.root.GetPath() / "calibration")) << name;
  }
  {
    Shell shell("Custom");
    shell.app->GetSettings()
        .GetSetting<std::string>(SettingPath("HardwareSetup/Product"))
        .SetValue("");
    shell.app->CreateScanner();
    EXPECT_FALSE(dynamic_cast<sls::GenericStructuredLightScanner*>(shell.app->GetScanner().get()));
    EXPECT_EQ(GetVirtualRig(shell.app->GetScannerBundle()), nullptr);
  }
  {
    Shell shell("Virtual");
    EXPECT_NE(GetVirtualRig(shell.app->GetScannerBundle()), nullptr);
  }
  {
    // "Felvar" is the unit's own product, no generic scanner: on the reduced
    // rig it cannot keep its sensor modes, says so and is not created.
    Shell shell("Felvar");
    EXPECT_TRUE(shell.Logged(
        "the scanner of product \"Felvar\" could not be created (the Felvar unit on the "
        "virtual rig runs at the full rig scale"));
    EXPECT_FALSE(dynamic_cast<sls::GenericStructuredLightScanner*>(shell.app->GetScanner().get()));
  }
}

}  // namespace
}  // namespace shell
