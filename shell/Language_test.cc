#include "shell/Language.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "foundation/utils/testing/TemporaryFolder.h"

namespace shell {
namespace {

namespace fs = std::filesystem;

class LanguageTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_root / "xaml");
    fs::copy_file(fs::path(TARVELIN_SHARE_DIR) / "xaml" / "Strings_English.xaml",
                  m_root / "xaml" / "Strings_English.xaml");
  }
  void Write(const std::string& name, const std::string& text) { std::ofstream(m_root / "xaml" / name) << text; }
  LogSink Sink() {
    return [this](const std::string& line) { m_log.push_back(line); };
  }

  utils::testing::TemporaryFolder m_temporary{"Language_test"};
  const std::filesystem::path m_root = m_temporary.GetPath();
  std::vector<std::string> m_log;
};

// The keys the scan workflow, the sequence controller and the fusion page
// show; each must have an English text.
TEST_F(LanguageTest, EnglishHasEveryKeyTheShellShows) {
  Language language(Sink());
  std::string error;
  ASSERT_TRUE(language.LoadFromRoot(m_root, "English", error)) << error;
  EXPECT_EQ(language.GetName(), "English");
  for (const char* key :
       {"_l10n_Error_Turntable_LostConnection_n01l_", "_l10n_Error_Turntable_NoPower_n01l_",
        "_l10n_FusionResult_DefaultName_n01l_", "_l10n_Scanning_Scan_n01l_",
        "_l10n_Setting_Calibration_VerificationDuringScan_Info_n01l_", "_l10n_ShapeFusion_VertexSpacing_n01l_",
        "_l10n_TT_Status_AddingToList_n01l_", "_l10n_TT_Status_Aligning_n01l_", "_l10n_TT_Status_PreparingScan_n01l_",
        "_l10n_TT_Status_RotatingTurntable_n01l_", "_l10n_TT_Status_Scanning_n01l_", "_l10n_Title_Calibration_n01l_",
        "_l10n_Title_Turntable_n01l_", "_l10n_Error_ScannerNotCalibrated_n01l_", "_l10n_Error_ScanFailed_n01l_",
        "_l10n_Plugins_Found_n01l_"}) {
    EXPECT_TRUE(language.Contains(key)) << key;
    EXPECT_FALSE(language.Get(key).empty()) << key;
    EXPECT_EQ(language.Get(key).find("_l10n_"), std::string::npos) << key;
  }
  EXPECT_EQ(language.Format("_l10n_Plugins_Found_n01l_", {"3"}), "3 plugins found.");
  EXPECT_TRUE(m_log.empty());
}

TEST_F(LanguageTest, MissingKeyReturnsItselfAndIsLoggedOnce) {
  Language language(Sink());
  std::string error;
  ASSERT_TRUE(language.LoadFromRoot(m_root, "English", error)) << error;
  EXPECT_EQ(language.Get("_l10n_Nope_n01l_"), "_l10n_Nope_n01l_");
  EXPECT_EQ(language.Get("_l10n_Nope_n01l_"), "_l10n_Nope_n01l_");
  EXPECT_EQ(m_log, std::vector<std::string>{"Missing text for _l10n_Nope_n01l_ in English"});
}

TEST_F(LanguageTest, FormatAndLocalize) {
  Write("Strings_Test.xaml", R"(<Strings language="Test">
      <String key="_l10n_A_n01l_">{1} of {0}, {2} and {x} and {0}</String>
      <String key="_l10n_Scan_n01l_">Scan</String>
    </Strings>)");
  Language language(Sink());
  std::string error;
  ASSERT_TRUE(language.LoadFromRoot(m_root, "Test", error)) << error;
  EXPECT_EQ(language.Format("_l10n_A_n01l_", {"8", "3"}), "3 of 8, {2} and {x} and 8");
  EXPECT_EQ(language.Localize("_l10n_Scan_n01l_ 3/8: _l10n_Scan_n01l_"), "Scan 3/8: Scan");
  EXPECT_EQ(language.Localize("plain {0} _l10n_ unfinished"), "plain {0} _l10n_ unfinished");
  EXPECT_EQ(Language::ListLanguages(m_root / "xaml"), (std::vector<std::string>{"English", "Test"}));
}

TEST_F(LanguageTest, BadTablesAreRejectedAndTheOldTableStays) {
  Language language(Sink());
  std::string error;
  ASSERT_TRUE(language.LoadFromRoot(m_root, "English", error));
  const std::size_t size = language.GetSize();
  Write("Strings_Broken.xaml", R"(<Strings><String key="_l10n_A_n01l_">A</Str)");
  Write("Strings_Twice.xaml", R"(<Strings><String key="_l10n_A_n01l_">A</String><String key="_l10n_A_n01l_">B</String></Strings>)");
  Write("Strings_BadKey.xaml", R"(<Strings><String key="A">A</String></Strings>)");
  Write("Strings_Other.xaml", R"(<Settings/>)");
  for (const char* name : {"Broken", "Twice", "BadKey", "Other", "Missing"}) {
    EXPECT_FALSE(language.Load(m_root / "xaml" / ("Strings_" + std::string(name) + ".xaml"), error)) << name;
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(language.GetName(), "English");
    EXPECT_EQ(language.GetSize(), size);
  }
  // A language whose table fails falls back to English.
  m_log.clear();
  EXPECT_TRUE(language.LoadFromRoot(m_root, "Twice", error));
  EXPECT_EQ(language.GetName(), "English");
  ASSERT_EQ(m_log.size(), 1u);
  EXPECT_NE(m_log[0].find("appears twice"), std::string::npos);
}

TEST_F(LanguageTest, ChoiceIsKeptInTheSettingsFolder) {
  EXPECT_EQ(Language::ReadLanguageChoice(m_root), "English");
  ASSERT_TRUE(Language::SaveLanguageChoice(m_root, "German"));
  EXPECT_EQ(Language::ReadLanguageChoice(m_root), "German");
  std::ofstream(m_root / "Settings" / "Language.xml") << "<Language name=";
  EXPECT_EQ(Language::ReadLanguageChoice(m_root), "English");
}

TEST(LanguageKey, Form) {
  EXPECT_TRUE(Language::IsKey("_l10n_X_n01l_"));
  EXPECT_FALSE(Language::IsKey("_l10n__n01l_"));
  EXPECT_FALSE(Language::IsKey("_l10n_X"));
  EXPECT_FALSE(Language::IsKey("X_n01l_"));
}

}  // namespace
}  // namespace shell
