#include "shell/Settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "foundation/utils/testing/TemporaryFolder.h"

namespace shell {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSchema = R"(<?xml version="1.0" encoding="utf-8"?>
<Window xmlns:x="http://schemas.microsoft.com/winfx/2006/xaml">
  <Window.Resources>
    <XmlDataProvider x:Key="Other"><x:XData><Settings><Int title="Decoy" defaultvalue="1"/></Settings></x:XData></XmlDataProvider>
    <XmlDataProvider x:Key="SettingsData">
      <x:XData>
        <Settings>
          <!-- a comment that is never saved -->
          <Group title="Group" IsExpanded="False">
            <Double title="Gamma" defaultvalue="2.2" IsSelected="False"/>
            <Int title="Count" defaultvalue="8"/>
            <Bool title="Flag" defaultvalue="false"/>
            <Float title="Ratio" defaultvalue="0.5"/>
            <Text title="Name" defaultvalue="Scan#"/>
            <Double title="Fixed" defaultvalue="1" saving="FALSE"/>
            <Int title="Kept" defaultvalue="2" saving="True"/>
            <Sub title="Sub"><Int title="Count" defaultvalue="3"/></Sub>
          </Group>
          <Other title="Other"><Int title="Count" defaultvalue="5"/></Other>
          <Untitled defaultvalue="u"/>
          <SettingsHandling title="SettingsHandling">
            <Bool title="perComputer" defaultvalue="false"/>
            <Bool title="perUser" defaultvalue="false"/>
          </SettingsHandling>
        </Settings>
      </x:XData>
    </XmlDataProvider>
  </Window.Resources>
</Window>
)";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Path(const std::string& group, const std::string& key) {
  return "/Settings/" + group + "/*[@title='" + key + "']";
}

class SettingsTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_root / "xaml");
    std::ofstream(m_root / "xaml" / "Settings.xaml") << kSchema;
  }

  std::unique_ptr<Settings> Open() {
    m_log.clear();
    m_errors.clear();
    SettingsOptions options;
    options.root = m_root;
    options.computerName = "pc";
    options.userName = "me";
    options.log = [this](const std::string& line) { m_log.push_back(line); };
    options.error = [this](const std::string& title, const std::string& message) {
      m_errors.push_back(title + ": " + message);
    };
    return std::make_unique<Settings>(options);
  }
  fs::path UserFile(const std::string& name = "UserSettings.xml") const { return m_root / "Settings" / name; }
  void WriteUserFile(const std::string& text, const std::string& name = "UserSettings.xml") {
    fs::create_directories(m_root / "Settings");
    std::ofstream(UserFile(name), std::ios::binary) << text;
  }
  bool Logged(const std::string& line) const { return std::find(m_log.begin(), m_log.end(), line) != m_log.end(); }

  utils::testing::TemporaryFolder m_temporary{"Settings_test"};
  const std::filesystem::path m_root = m_temporary.GetPath();
  std::vector<std::string> m_log;
  std::vector<std::string> m_errors;
};

TEST_F(SettingsTest, FirstStartUsesTheDefaultsAndLogsTheMachine) {
  auto settings = Open();
  ASSERT_GE(m_log.size(), 3u);
  EXPECT_EQ(m_log[0], "Computer:pc, User:me");
  EXPECT_EQ(m_log[1], "Loading " + UserFile().string() + " ...");
  EXPECT_EQ(m_log[2], " ...not found.");
  EXPECT_TRUE(fs::is_directory(m_root / "Settings"));
  EXPECT_FALSE(settings->UserSettingsFileExists());
  EXPECT_EQ(settings->GetUserSettingsFilePath(), UserFile());
  EXPECT_EQ(settings->GetSetting<double>(Path("Group", "Gamma")).Value(), 2.2);
  EXPECT_EQ(settings->GetSetting<int>(Path("Group", "Count")).Value(), 8);
  EXPECT_EQ(settings->GetSetting<bool>(Path("Group", "Flag")).Value(), false);
  EXPECT_EQ(settings->GetSetting<float>(Path("Group", "Ratio")).Value(), 0.5f);
  EXPECT_EQ(settings->GetSetting<std::string>(Path("Group", "Name")).Value(), "Scan#");
  EXPECT_EQ(settings->GetSetting<std::string>("/Settings/Untitled").Value(), "u");
  // The block with x:Key="SettingsData" is the schema, not the first one.
  EXPECT_THROW(settings->GetSetting<int>("/Settings/*[@title='Decoy']"), SettingNotFound);
  EXPECT_TRUE(m_errors.empty());
}

TEST_F(SettingsTest, CommaReadsAsDecimalPointAndTheTextStays) {
  WriteUserFile(R"(<Settings><Group title="Group"><Double title="Gamma" value="0,5"/>
                   <Float title="Ratio" value=" 1,25 "/></Group></Settings>)");
  auto settings = Open();
  const Setting<double> gamma = settings->GetSetting<double>(Path("Group", "Gamma"));
  EXPECT_EQ(gamma.Value(), 0.5);
  EXPECT_EQ(gamma.GetAttribute("value"), "0,5");
  EXPECT_EQ(settings->GetSetting<float>(Path("Group", "Ratio")).Value(), 1.25f);
}

TEST_F(SettingsTest, UnreadableTextFallsBackToTheDefaultWithALogLine) {
  WriteUserFile(R"(<Settings><Group title="Group"><Int title="Count" value="8.5"/><Bool title="Flag" value="yes"/>
                   <Double title="Gamma" value="1,2,3"/></Group></Settings>)");
  auto settings = Open();
  m_log.clear();
  EXPECT_EQ(settings->GetSetting<int>(Path("Group", "Count")).Value(), 8);
  EXPECT_EQ(settings->GetSetting<bool>(Path("Group", "Flag")).Value(), false);
  EXPECT_EQ(settings->GetSetting<double>(Path("Group", "Gamma")).Value(), 2.2);
  ASSERT_EQ(m_log.size(), 3u);
  EXPECT_EQ(m_log[0], "Invalid value '8.5' in Count. Using default value 8 instead.");
  EXPECT_EQ(m_log[1], "Invalid value 'yes' in Flag. Using default value false instead.");
  EXPECT_EQ(m_log[2], "Invalid value '1,2,3' in Gamma. Using default value 2.2 instead.");
  EXPECT_EQ(settings->GetSetting<int>(Path("Group", "Count")).GetAttribute("value"), "8.5");
}

TEST_F(SettingsTest, UserValuesMatchByTitlePathOnly) {
  WriteUserFile(R"(<Settings>
      <Other title="Other"><Int title="Count" value="7"/></Other>
      <Count title="Count" value="99"/>
      <Group title="Group"><Wrong title="Sub"><Int title="Count" value="4"/></Wrong></Group>
      <Untitled value="v"/>
    </Settings>)");
  auto settings = Open();
  EXPECT_EQ(settings->GetSetting<int>(Path("Other", "Count")).Value(), 7);
  EXPECT_EQ(settings->GetSetting<int>(Path("Group", "Count")).Value(), 8);
  // The element name of a group does not matter, its title does.
  EXPECT_EQ(settings->GetSetting<int>("/Settings/Group/Sub/*[@title='Count']").Value(), 4);
  EXPECT_EQ(settings->GetSetting<std::string>("/Settings/Untitled").Value(), "v");
  EXPECT_EQ(Settings::GetTitlePath(settings->GetSetting<int>("/Settings/Group/Sub/*[@title='Count']").GetElement()),
            "/Group/Sub/Count");
  EXPECT_EQ(Settings::GetTitlePath(settings->GetSetting<std::string>("/Settings/Untitled").GetElement()), "/Untitled");
}

TEST_F(SettingsTest, SavingFalseKeepsTheDefaultAndIsNeverWritten) {
  WriteUserFile(R"(<Settings><Group title="Group"><Double title="Fixed" value="5"/><Int title="Kept" value="6"/>
                   </Group></Settings>)");
  auto settings = Open();
  Setting<double> fixed = settings->GetSetting<double>(Path("Group", "Fixed"));
  EXPECT_EQ(fixed.Value(), 1);
  EXPECT_EQ(settings->GetSetting<int>(Path("Group", "Kept")).Value(), 6);
  fixed.SetValue(9);
  ASSERT_TRUE(settings->SaveSettings());
  EXPECT_EQ(ReadFile(UserFile()).find("Fixed"), std::string::npos);
  EXPECT_NE(ReadFile(UserFile()).find("Kept"), std::string::npos);
}

TEST_F(SettingsTest, ValueEqualToTheDefaultWritesNothing) {
  WriteUserFile(R"(<Settings><Group title="Group"><Int title="Count" value="8"/></Group></Settings>)");
  auto settings = Open();
  settings->GetSetting<double>(Path("Group", "Gamma")).SetValue(2.2);
  ASSERT_TRUE(settings->SaveSettings());
  EXPECT_TRUE(fs::exists(UserFile()));
  EXPECT_EQ(fs::file_size(UserFile()), 0u);
  EXPECT_TRUE(Logged("Saving " + UserFile().string() + " ..."));
  EXPECT_TRUE(Logged("done."));
  // An empty user file reads as no values, not as a broken file.
  auto again = Open();
  EXPECT_TRUE(m_errors.empty());
  EXPECT_TRUE(fs::exists(UserFile()));
}

TEST_F(SettingsTest, SavedFileHoldsOnlyTitlesAndValuesThatDiffer) {
  {
    auto settings = Open();
    settings->GetSetting<double>(Path("Group", "Gamma")).SetValue(2.4);
    settings->GetSetting<std::string>(Path("Group", "Name")).SetValue("Vase #");
    settings->GetSetting<int>("/Settings/Group/Sub/*[@title='Count']").SetValue(-3);
    settings->GetSetting<std::string>("/Settings/Untitled").SetValue("w");
    ASSERT_TRUE(settings->SaveSettings());
  }
  pugi::xml_document saved;
  ASSERT_TRUE(saved.load_file(UserFile().c_str()));
  EXPECT_EQ(saved.select_nodes("//*").size(), 7u);  // Settings, Group, Gamma, Name, Sub, Count, Untitled
  EXPECT_FALSE(saved.select_node("//comment()"));
  const pugi::xml_node gamma = saved.select_node("/Settings/Group/*[@title='Gamma']").node();
  ASSERT_TRUE(gamma);
  EXPECT_STREQ(gamma.name(), "Double");
  EXPECT_STREQ(gamma.attribute("value").value(), "2.4");
  EXPECT_FALSE(gamma.attribute("defaultvalue"));
  EXPECT_FALSE(gamma.attribute("IsSelected"));
  EXPECT_FALSE(saved.select_node("//*[@title='Other']"));
  EXPECT_FALSE(saved.select_node("//*[@title='SettingsHandling']"));
  EXPECT_STREQ(saved.select_node("/Settings/Untitled").node().attribute("value").value(), "w");
  EXPECT_EQ(std::distance(fs::directory_iterator(m_root / "Settings"), fs::directory_iterator()), 1);

  auto reloaded = Open();
  EXPECT_EQ(reloaded->GetSetting<double>(Path("Group", "Gamma")).Value(), 2.4);
  EXPECT_EQ(reloaded->GetSetting<std::string>(Path("Group", "Name")).Value(), "Vase #");
  EXPECT_EQ(reloaded->GetSetting<int>("/Settings/Group/Sub/*[@title='Count']").Value(), -3);
  EXPECT_EQ(reloaded->GetSetting<int>(Path("Group", "Count")).Value(), 8);
}

TEST_F(SettingsTest, PerUserAndPerComputerRenameTheFileAndDeleteTheOldOne) {
  WriteUserFile(R"(<Settings><Group title="Group"><Int title="Count" value="11"/></Group></Settings>)");
  {
    auto settings = Open();
    settings->GetSetting<bool>(Path("SettingsHandling", "perUser")).SetValue(true);
    ASSERT_TRUE(settings->SaveSettings());
    EXPECT_TRUE(Logged("Delete old " + UserFile().string() + " ..."));
    EXPECT_FALSE(fs::exists(UserFile()));
    EXPECT_TRUE(fs::exists(UserFile("UserSettings.me.xml")));
    EXPECT_EQ(settings->GetUserSettingsFilePath(), UserFile("UserSettings.me.xml"));
  }
  {
    auto settings = Open();
    EXPECT_EQ(settings->GetUserSettingsFilePath(), UserFile("UserSettings.me.xml"));
    EXPECT_EQ(settings->GetSetting<int>(Path("Group", "Count")).Value(), 11);
    settings->GetSetting<bool>(Path("SettingsHandling", "perComputer")).SetValue(true);
    ASSERT_TRUE(settings->SaveSettings());
    EXPECT_FALSE(fs::exists(UserFile("UserSettings.me.xml")));
    EXPECT_TRUE(fs::exists(UserFile("UserSettings.pc.me.xml")));
  }
  {
    auto settings = Open();
    EXPECT_EQ(settings->GetSetting<int>(Path("Group", "Count")).Value(), 11);
    settings->GetSetting<bool>(Path("SettingsHandling", "perUser")).SetValue(false);
    ASSERT_TRUE(settings->SaveSettings());
    EXPECT_EQ(std::distance(fs::directory_iterator(m_root / "Settings"), fs::directory_iterator()), 1);
    EXPECT_TRUE(fs::exists(UserFile("UserSettings.pc.xml")));
  }
}

TEST_F(SettingsTest, UserFileChoiceOrder) {
  auto file = [](int count) {
    return R"(<Settings><Group title="Group"><Int title="Count" value=")" + std::to_string(count) +
           R"("/></Group></Settings>)";
  };
  WriteUserFile(file(1), "UserSettings.xml");
  EXPECT_EQ(Open()->GetSetting<int>(Path("Group", "Count")).Value(), 1);
  WriteUserFile(file(2), "UserSettings.me.xml");
  EXPECT_EQ(Open()->GetSetting<int>(Path("Group", "Count")).Value(), 2);
  WriteUserFile(file(3), "UserSettings.pc.xml");
  EXPECT_EQ(Open()->GetSetting<int>(Path("Group", "Count")).Value(), 3);
  WriteUserFile(file(4), "UserSettings.pc.me.xml");
  EXPECT_EQ(Open()->GetSetting<int>(Path("Group", "Count")).Value(), 4);
  EXPECT_EQ(Settings::GetUserSettingsFileName("pc", "me", true, false), "UserSettings.pc.xml");
}

TEST_F(SettingsTest, BrokenUserFileIsKeptAsideAndDefaultsAreUsed) {
  const std::string broken = R"(<Settings><Group title="Group"><Int title="Count" value="12"/></Group)";
  WriteUserFile(broken);
  {
    auto settings = Open();
    EXPECT_EQ(settings->GetSetting<int>(Path("Group", "Count")).Value(), 8);
    EXPECT_FALSE(fs::exists(UserFile()));
    EXPECT_EQ(ReadFile(UserFile("UserSettings.xml.broken")), broken);
    EXPECT_TRUE(Logged("Kept the unreadable file as " + UserFile("UserSettings.xml.broken").string() + "."));
    ASSERT_EQ(m_errors.size(), 1u);
    EXPECT_EQ(m_errors[0].rfind("Error: The settings file", 0), 0u);
    settings->GetSetting<int>(Path("Group", "Count")).SetValue(13);
    ASSERT_TRUE(settings->SaveSettings());
  }
  EXPECT_EQ(ReadFile(UserFile("UserSettings.xml.broken")), broken);
  EXPECT_EQ(Open()->GetSetting<int>(Path("Group", "Count")).Value(), 13);
  // A second broken file does not replace the first one kept aside.
  WriteUserFile("\x01garbage");
  Open();
  EXPECT_EQ(ReadFile(UserFile("UserSettings.xml.broken")), broken);
  EXPECT_EQ(ReadFile(UserFile("UserSettings.xml.broken.2")), "\x01garbage");
}

TEST_F(SettingsTest, TruncatedUserFilesNeverCrashAndNeverLoseTheOriginal) {
  const std::string good = R"(<?xml version="1.0"?><Settings><Group title="Group"><Int title="Count" value="12"/>)"
                           R"(<Double title="Gamma" value="3"/></Group></Settings>)";
  for (std::size_t length = 1; length < good.size(); length += 7) {
    fs::remove_all(m_root / "Settings");
    WriteUserFile(good.substr(0, length));
    auto settings = Open();
    const int count = settings->GetSetting<int>(Path("Group", "Count")).Value();
    EXPECT_TRUE(count == 8 || count == 12) << length;
    // Whatever happened, the text is still on disk, in place or aside.
    const fs::path aside = UserFile("UserSettings.xml.broken");
    EXPECT_EQ(fs::exists(aside) ? ReadFile(aside) : ReadFile(UserFile()), good.substr(0, length)) << length;
  }
}

TEST_F(SettingsTest, UnwritableFolderIsReported) {
  fs::create_directories(m_root);
  std::ofstream(m_root / "Settings") << "a file where the folder should be";
  auto settings = Open();
  ASSERT_EQ(m_errors.size(), 1u);
  EXPECT_EQ(m_errors[0], "Error: Can't create directory '" + (m_root / "Settings").string() +
                             "'\nUsers settings will not be saved on exit!");
  EXPECT_TRUE(Logged("Can't create directory " + (m_root / "Settings").string() + " !"));
  settings->GetSetting<int>(Path("Group", "Count")).SetValue(1);
  EXPECT_FALSE(settings->SaveSettings());
  EXPECT_TRUE(Logged("failed!"));
  EXPECT_EQ(m_errors.back(), "Error: Can't save user settings to " + UserFile().string());
}

TEST_F(SettingsTest, MissingPathsAndReassignment) {
  auto settings = Open();
  try {
    settings->GetSetting<int>(Path("Group", "Nope"));
    FAIL();
  } catch (const SettingNotFound& e) {
    EXPECT_STREQ(e.what(), "Error: Could not find Setting /Settings/Group/*[@title='Nope']");
  }
  // A group has no value.
  EXPECT_THROW(settings->GetSetting<int>("/Settings/Group"), SettingNotFound);
  EXPECT_THROW(settings->GetSetting<int>("/Settings/Group/*[@title="), std::invalid_argument);
  Setting<int> count;
  EXPECT_FALSE(count.IsAssigned());
  EXPECT_THROW(count.Value(), std::logic_error);
  m_log.clear();
  settings->GetSetting(count, Path("Group", "Count"));
  EXPECT_TRUE(m_log.empty());
  settings->GetSetting(count, Path("Other", "Count"));
  EXPECT_EQ(m_log, std::vector<std::string>{"WARNING: An already assigned setting variable (Count) will be overwritten."});
  EXPECT_EQ(count.Value(), 5);
  EXPECT_EQ(count.DefaultValue(), 5);
}

TEST_F(SettingsTest, ChangeHandlersRunInOrderAndMarkInvalidValues) {
  auto settings = Open();
  std::vector<std::string> calls;
  settings->AddSettingChangedEvent(Path("Group", "Count"),
                                   [&](const std::string& value, const std::string& parent, pugi::xml_node element,
                                       bool& valid) {
                                     calls.push_back("first " + value + " " + parent + " " +
                                                     element.attribute("title").value());
                                     int number = 0;
                                     valid = ParseSettingText<int>(value, number) && number >= 0;
                                   },
                                   false);
  settings->AddSettingChangedEvent("/Settings/Group/*", [&](const std::string& value, const std::string&,
                                                            pugi::xml_node, bool& valid) {
    calls.push_back("second " + value + (valid ? " valid" : " invalid"));
  },
                                   false);
  Setting<int> count = settings->GetSetting<int>(Path("Group", "Count"));
  count.SetValue(-1);
  EXPECT_EQ(calls, (std::vector<std::string>{"first -1 Group Count", "second -1 invalid"}));
  EXPECT_EQ(count.GetAttribute("invalid"), "true");
  EXPECT_FALSE(settings->CloseDialog());
  EXPECT_EQ(m_errors.back(), "Error: Invalid value '-1' in /Group/Count");
  calls.clear();
  count.SetValue(3);
  EXPECT_EQ(calls, (std::vector<std::string>{"first 3 Group Count", "second 3 valid"}));
  EXPECT_EQ(count.GetAttribute("invalid"), "");
  EXPECT_TRUE(settings->CloseDialog());
  // Other elements do not reach the first handler.
  calls.clear();
  settings->GetSetting<bool>(Path("Group", "Flag")).SetValue(true);
  EXPECT_EQ(calls, (std::vector<std::string>{"second true valid"}));
}

TEST_F(SettingsTest, FireNowCallsTheHandlerOnceWithTheCurrentValue) {
  WriteUserFile(R"(<Settings><Other title="Other"><Int title="Count" value="6"/></Other></Settings>)");
  auto settings = Open();
  std::vector<std::string> values;
  settings->AddSettingChangedEvent(Path("Other", "Count"),
                                   [&](const std::string& value, const std::string&, pugi::xml_node, bool&) {
                                     values.push_back(value);
                                   },
                                   true);
  EXPECT_EQ(values, std::vector<std::string>{"6"});
  // A handler may change other settings; their subscribers run too.
  settings->AddSettingChangedEvent(Path("Group", "Count"),
                                   [&](const std::string& value, const std::string&, pugi::xml_node, bool&) {
                                     settings->GetSetting<int>(Path("Other", "Count")).SetValue(std::stoi(value) * 2);
                                   },
                                   false);
  settings->GetSetting<int>(Path("Group", "Count")).SetValue(21);
  EXPECT_EQ(values, (std::vector<std::string>{"6", "42"}));
}

TEST_F(SettingsTest, BindingAndReset) {
  auto settings = Open();
  std::string shown;
  settings->SetBinding([&](const std::string& value) { shown = value; }, Path("Group", "Name"));
  EXPECT_EQ(shown, "Scan#");
  settings->GetSetting<std::string>(Path("Group", "Name")).SetValue("Cup#");
  EXPECT_EQ(shown, "Cup#");
  settings->GetSetting<int>(Path("Other", "Count")).SetValue(1);

  EXPECT_TRUE(settings->HasUserValue("/Settings/Group"));
  EXPECT_TRUE(settings->HasUserValue(Path("Other", "Count")));
  EXPECT_FALSE(settings->HasUserValue(Path("Group", "Gamma")));
  settings->ResetToDefaultValue("/Settings/Group");
  EXPECT_EQ(shown, "Scan#");
  EXPECT_FALSE(settings->HasUserValue("/Settings/Group"));
  EXPECT_EQ(settings->GetSetting<int>(Path("Other", "Count")).Value(), 1);
  settings->ResetToDefaultValue("/Settings");
  EXPECT_EQ(settings->GetSetting<int>(Path("Other", "Count")).Value(), 5);
}

TEST_F(SettingsTest, SynchronizerKeepsMembersEqual) {
  auto settings = Open();
  {
    SettingsSynchronizer synchronizer(*settings);
    synchronizer.Add(Path("Group", "Count"));
    synchronizer.Add(Path("Other", "Count"));
    synchronizer.Add("/Settings/Group/Sub/*[@title='Count']");
    EXPECT_THROW(synchronizer.Add(Path("Other", "Nope")), SettingNotFound);
    synchronizer.Sync();
    EXPECT_EQ(settings->GetSetting<int>(Path("Other", "Count")).Value(), 8);
    EXPECT_EQ(settings->GetSetting<int>("/Settings/Group/Sub/*[@title='Count']").Value(), 8);
    settings->GetSetting<int>("/Settings/Group/Sub/*[@title='Count']").SetValue(17);
    EXPECT_EQ(settings->GetSetting<int>(Path("Group", "Count")).Value(), 17);
    EXPECT_EQ(settings->GetSetting<int>(Path("Other", "Count")).Value(), 17);
  }
  // Gone with the synchronizer: the members are independent again.
  settings->GetSetting<int>(Path("Other", "Count")).SetValue(2);
  EXPECT_EQ(settings->GetSetting<int>(Path("Group", "Count")).Value(), 17);
}

TEST_F(SettingsTest, ShowDialogSelectsThePathAndExpandsItsGroups) {
  auto settings = Open();
  settings->ShowDialog("/Settings/Group/Sub/*[@title='Count']");
  pugi::xml_document& document = settings->GetXmlDocument();
  EXPECT_STREQ(document.select_node("/Settings/Group").node().attribute("IsExpanded").value(), "True");
  EXPECT_STREQ(document.select_node("/Settings/Group/Sub").node().attribute("IsExpanded").value(), "True");
  EXPECT_STREQ(document.select_node("/Settings/Group/Sub/Int").node().attribute("IsSelected").value(), "True");
  settings->ShowDialog(Path("Other", "Count"));
  EXPECT_STREQ(document.select_node("/Settings/Group").node().attribute("IsExpanded").value(), "False");
  EXPECT_STREQ(document.select_node("/Settings/Group/Sub/Int").node().attribute("IsSelected").value(), "False");
  EXPECT_STREQ(document.select_node("/Settings/Other").node().attribute("IsExpanded").value(), "True");
}

TEST_F(SettingsTest, MissingOrForeignSchemaIsAnError) {
  std::ofstream(m_root / "xaml" / "Settings.xaml") << "<Window><Grid/></Window>";
  EXPECT_THROW(Open(), std::runtime_error);
  std::ofstream(m_root / "xaml" / "Settings.xaml") << "<Window><Grid/>";
  EXPECT_THROW(Open(), std::runtime_error);
  fs::remove(m_root / "xaml" / "Settings.xaml");
  try {
    Open();
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Settings::Settings - Could not read the settings schema", 0), 0u);
  }
}

TEST(SettingText, ParsesTheInvariantFormsAndRejectsTheRest) {
  bool flag = false;
  EXPECT_TRUE(ParseSettingText<bool>(" True ", flag) && flag);
  EXPECT_TRUE(ParseSettingText<bool>("FALSE", flag) && !flag);
  EXPECT_FALSE(ParseSettingText<bool>("1", flag));
  int number = 0;
  EXPECT_TRUE(ParseSettingText<int>("+42", number) && number == 42);
  EXPECT_TRUE(ParseSettingText<int>("-2147483648", number) && number == -2147483647 - 1);
  EXPECT_FALSE(ParseSettingText<int>("2147483648", number));
  EXPECT_FALSE(ParseSettingText<int>("4,0", number));
  EXPECT_FALSE(ParseSettingText<int>("", number));
  EXPECT_FALSE(ParseSettingText<int>("+-1", number));
  double value = 0;
  EXPECT_TRUE(ParseSettingText<double>("1e3", value) && value == 1000);
  EXPECT_TRUE(ParseSettingText<double>("-0,125", value) && value == -0.125);
  EXPECT_FALSE(ParseSettingText<double>("nan", value));
  EXPECT_FALSE(ParseSettingText<double>("inf", value));
  EXPECT_FALSE(ParseSettingText<double>("1e400", value));
  EXPECT_FALSE(ParseSettingText<double>("2.2.", value));
  EXPECT_EQ(FormatSettingText<bool>(true), "true");
  EXPECT_EQ(FormatSettingText<float>(0.1f), "0.1");
  EXPECT_EQ(FormatSettingText<double>(2.2), "2.2");
}

TEST(SettingText, NumbersRoundTripExactly) {
  std::mt19937_64 random(20240611);
  std::uniform_real_distribution<double> exponent(-30, 30);
  std::uniform_real_distribution<double> mantissa(-1, 1);
  for (int i = 0; i < 2000; ++i) {
    const double value = mantissa(random) * std::pow(10.0, exponent(random));
    double read = 0;
    ASSERT_TRUE(ParseSettingText<double>(FormatSettingText(value), read));
    EXPECT_EQ(read, value);
    const float single = static_cast<float>(value);
    float readSingle = 0;
    ASSERT_TRUE(ParseSettingText<float>(FormatSettingText(single), readSingle));
    EXPECT_EQ(readSingle, single);
  }
}

}  // namespace
}  // namespace shell
