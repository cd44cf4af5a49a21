// The shipped settings schema (share/xaml/Settings.xaml).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "foundation/utils/testing/TemporaryFolder.h"
#include "shell/Settings.h"

namespace shell {
namespace {

namespace fs = std::filesystem;

class ShippedSchema : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_root / "xaml");
    fs::copy_file(fs::path(TARVELIN_SHARE_DIR) / "xaml" / "Settings.xaml", m_root / "xaml" / "Settings.xaml");
    SettingsOptions options;
    options.root = m_root;
    options.computerName = "pc";
    options.userName = "me";
    options.log = [](const std::string&) {};
    m_settings = std::make_unique<Settings>(options);
  }
  void TearDown() override {
    m_settings.reset();
  }

  utils::testing::TemporaryFolder m_temporary{"SettingsSchema_test"};
  const std::filesystem::path m_root = m_temporary.GetPath();
  std::unique_ptr<Settings> m_settings;
};

// Each default reads as the type its element names and is written back
// unchanged, so an untouched setting never reaches the user file.
template <class T>
void ExpectCanonicalDefault(Settings& settings, pugi::xml_node element) {
  const std::string text = element.attribute("defaultvalue").value();
  T value{};
  ASSERT_TRUE(ParseSettingText<T>(text, value)) << Settings::GetTitlePath(element) << " = " << text;
  EXPECT_EQ(FormatSettingText<T>(value), text) << Settings::GetTitlePath(element);
}

TEST_F(ShippedSchema, EveryDefaultHasItsTypeAndCanonicalText) {
  std::set<std::string> paths;
  int count = 0;
  for (const pugi::xpath_node& node : m_settings->GetXmlDocument().select_nodes("//*[@defaultvalue]")) {
    const pugi::xml_node element = node.node();
    const std::string type = element.name();
    EXPECT_TRUE(element.attribute("title")) << type;
    EXPECT_TRUE(paths.insert(Settings::GetTitlePath(element)).second)
        << "two settings share " << Settings::GetTitlePath(element);
    if (type == "Bool") ExpectCanonicalDefault<bool>(*m_settings, element);
    else if (type == "Int") ExpectCanonicalDefault<int>(*m_settings, element);
    else if (type == "Float") ExpectCanonicalDefault<float>(*m_settings, element);
    else if (type == "Double") ExpectCanonicalDefault<double>(*m_settings, element);
    else EXPECT_EQ(type, "Text") << Settings::GetTitlePath(element);
    ++count;
  }
  EXPECT_GT(count, 200);
}

// A range is on numbers only, reads as the setting's type, is not empty and
// holds the default; the dialog's choices start from there.
TEST_F(ShippedSchema, RangesAreOnNumbersAndHoldTheirDefaults) {
  int ranged = 0;
  for (const pugi::xpath_node& node : m_settings->GetXmlDocument().select_nodes("//*[@min or @max]")) {
    const pugi::xml_node element = node.node();
    const std::string path = Settings::GetTitlePath(element), type = element.name();
    EXPECT_TRUE(type == "Int" || type == "Float" || type == "Double") << path;
    ASSERT_TRUE(element.attribute("min") && element.attribute("max")) << path << ": both ends";
    double low = 0.0, high = 0.0, value = 0.0;
    ASSERT_TRUE(ParseSettingText<double>(element.attribute("min").value(), low)) << path;
    ASSERT_TRUE(ParseSettingText<double>(element.attribute("max").value(), high)) << path;
    ASSERT_TRUE(ParseSettingText<double>(element.attribute("defaultvalue").value(), value)) << path;
    if (type == "Int") {
      int whole = 0;
      EXPECT_TRUE(ParseSettingText<int>(element.attribute("min").value(), whole)) << path;
      EXPECT_TRUE(ParseSettingText<int>(element.attribute("max").value(), whole)) << path;
    }
    EXPECT_LT(low, high) << path;
    EXPECT_LE(low, value) << path;
    EXPECT_LE(value, high) << path;
    ++ranged;
  }
  EXPECT_GE(ranged, 30);
  // The fusion's resolution and hole-closing step, which users change most.
  const pugi::xml_node step =
      m_settings->FindSettingElement("/Settings/ShapeFusion/Fusion/*[@title='CloseHolesRelSizeStep']");
  EXPECT_STREQ(step.attribute("min").value(), "0");
  EXPECT_STREQ(step.attribute("max").value(), "6");
  const pugi::xml_node resolution =
      m_settings->FindSettingElement("/Settings/ShapeFusion/Fusion/*[@title='Resolution']");
  EXPECT_STREQ(resolution.attribute("max").value(), "2048");
}

TEST_F(ShippedSchema, KeysTheShellReadsAreThereWithTheirDefaults) {
  Settings& s = *m_settings;
  auto path = [](const std::string& group, const std::string& key) {
    return "/Settings/" + group + "/*[@title='" + key + "']";
  };
  EXPECT_EQ(s.GetSetting<int>(path("ShapeFusion/Fusion", "Resolution")).Value(), 512);
  EXPECT_EQ(s.GetSetting<float>(path("ShapeFusion/Fusion", "CloseHolesRelSizePercent")).Value(), 10.0f);
  EXPECT_EQ(s.GetSetting<int>(path("ShapeFusion/Fusion", "CloseHolesRelSizeStep")).Value(), 4);
  EXPECT_EQ(s.GetSetting<int>(path("ShapeFusion/Fusion", "ResolutionLog")).Value(), 9);
  EXPECT_EQ(s.GetSetting<int>(path("ShapeFusion/Fusion", "Sharpness")).Value(), 0);
  EXPECT_EQ(s.GetSetting<int>(path("Turntable", "NumberOfScans")).Value(), 8);
  EXPECT_EQ(s.GetSetting<int>(path("Turntable", "TotalScanAngle")).Value(), 360);
  EXPECT_EQ(s.GetSetting<double>(path("Turntable", "RotationAngle")).Value(), 45.0);
  EXPECT_EQ(s.GetSetting<std::string>(path("HardwareSetup", "Product")).Value(), "Virtual");
  EXPECT_EQ(s.GetSetting<std::string>(path("Scan", "ScanMode")).Value(), "turntable");
  EXPECT_EQ(s.GetSetting<std::string>(path("Scan", "ScanName")).Value(), "Scan#");
  EXPECT_EQ(s.GetSetting<double>(path("StructuredLight/PatternParameters", "ProjectorGamma")).Value(), 2.2);
  EXPECT_EQ(s.GetSetting<std::string>(path("StructuredLight/PatternParameters", "PatternMode")).Value(), "coded");
  EXPECT_EQ(s.GetSetting<std::string>(path("StructuredLight/Acquisition", "ImageSkipCount")).Value(), "auto");
  EXPECT_EQ(s.GetSetting<double>(path("StructuredLight/ResultFiltering", "QualityCheck")).Value(), 0.3);
  EXPECT_EQ(s.GetSetting<std::string>(path("StructuredLight/PatternParameters/CustomProfile/PSK", "SymbolCount")).Value(),
            "4");
  EXPECT_EQ(s.GetSetting<double>(path("Calibration/CalibrationPanels/RightCalibrationPattern", "rot_z")).Value(), 0.0);
  EXPECT_EQ(s.GetSetting<double>(path("Calibration/VerificationDuringScan", "ExtendedViewDistThresFactor")).Value(), 1.0);
  EXPECT_EQ(s.GetSetting<double>(path("Tesselation", "DepthThresholdFactor")).Value(), 0.5);
  EXPECT_EQ(s.GetSetting<int>(path("Texturing/WhiteBalance", "Version")).Value(), 1);
  EXPECT_EQ(s.GetSetting<std::string>(path("HardwareSetupProfiles", "VirtualDefault")).Value(), "rigs/default");
  EXPECT_TRUE(s.GetSetting<bool>(path("Language", "Language_English")).Value());
  EXPECT_FALSE(s.GetSetting<bool>(path("SettingsHandling", "perUser")).Value());
  EXPECT_FALSE(s.GetSetting<bool>(path("SetupType", "TurntableConnected")).Value());
  EXPECT_EQ(s.GetSetting<int>(path("ConsoleWindow", "Bottom")).Value(), 600);
  EXPECT_FALSE(s.GetSetting<bool>(path("Scan/Status", "IsCurrentlyScanning")).Value());
}

TEST_F(ShippedSchema, UntouchedSettingsSaveAnEmptyFileAndRunTimeStateIsNeverSaved) {
  ASSERT_TRUE(m_settings->SaveSettings());
  EXPECT_EQ(fs::file_size(m_root / "Settings" / "UserSettings.xml"), 0u);
  m_settings->GetSetting<bool>("/Settings/Scan/Status/*[@title='IsCurrentlyScanning']").SetValue(true);
  m_settings->GetSetting<bool>("/Settings/SetupType/*[@title='TurntableConnected']").SetValue(true);
  m_settings->GetSetting<int>("/Settings/Scan/*[@title='ScanIndex']").SetValue(5);
  ASSERT_TRUE(m_settings->SaveSettings());
  pugi::xml_document saved;
  ASSERT_TRUE(saved.load_file((m_root / "Settings" / "UserSettings.xml").c_str()));
  EXPECT_EQ(saved.select_nodes("//*[@value]").size(), 1u);
  EXPECT_STREQ(saved.select_node("/Settings/Scan/*[@title='ScanIndex']").node().attribute("value").value(), "5");
}

}  // namespace
}  // namespace shell
