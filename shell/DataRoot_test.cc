#include "shell/DataRoot.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "foundation/utils/testing/TemporaryFolder.h"

namespace shell {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for one scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : m_name(name) {
    if (const char* old = getenv(name)) m_old = old, m_had = true;
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~ScopedEnvironment() {
    if (m_had) setenv(m_name, m_old.c_str(), 1);
    else unsetenv(m_name);
  }

 private:
  const char* m_name;
  std::string m_old;
  bool m_had = false;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(DataRoot, ResolveOrder) {
  ScopedEnvironment home("HOME", "/home/someone");
  {
    ScopedEnvironment tarvelin("TARVELIN_HOME", "/data/tarvelin");
    EXPECT_EQ(DataRoot::Resolve("/given"), fs::path("/given"));
    EXPECT_EQ(DataRoot::Resolve(""), fs::path("/data/tarvelin"));
  }
  ScopedEnvironment tarvelin("TARVELIN_HOME", "");
  EXPECT_EQ(DataRoot::Resolve(""), fs::path("/home/someone/.local/share/tarvelin"));
  EXPECT_EQ(DataRoot::Resolve("relative"), fs::current_path() / "relative");
}

class DataRootInstall : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_base / "share" / "xaml");
    fs::create_directories(m_base / "plugins");
    std::ofstream(m_base / "share" / "xaml" / "Settings.xaml") << "shipped schema";
    std::ofstream(m_base / "share" / "top.txt") << "top";
    std::ofstream(m_base / "plugins" / "motor_plugin1_64_a.so") << "library 1";
    std::ofstream(m_base / "plugins" / "notes.txt") << "not a library";
  }

  utils::testing::TemporaryFolder m_temporary{"DataRoot_test"};
  const std::filesystem::path m_base = m_temporary.GetPath();
};

TEST_F(DataRootInstall, CopiesWhatIsMissingAndNeverReplacesUserFiles) {
  const DataRoot root(m_base / "root");
  DataRoot::InstallResult result;
  std::string error;
  std::vector<std::string> log;
  ASSERT_TRUE(root.InstallDefaults(m_base / "share", m_base / "plugins",
                                   [&](const std::string& line) { log.push_back(line); }, result, error))
      << error;
  EXPECT_EQ(result.copied, 3);
  EXPECT_EQ(result.kept, 0);
  EXPECT_EQ(log.size(), 3u);
  EXPECT_EQ(ReadFile(root.GetXamlFolder() / "Settings.xaml"), "shipped schema");
  EXPECT_EQ(ReadFile(root.GetFolder() / "top.txt"), "top");
  EXPECT_EQ(ReadFile(root.GetPluginFolder() / "motor_plugin1_64_a.so"), "library 1");
  EXPECT_FALSE(fs::exists(root.GetPluginFolder() / "notes.txt"));
  EXPECT_TRUE(fs::is_directory(root.GetSettingsFolder()));
  EXPECT_TRUE(fs::is_directory(root.GetLogFolder()));

  // The user edits a file; a newer build ships a new library and a new file.
  std::ofstream(root.GetXamlFolder() / "Settings.xaml") << "edited";
  std::ofstream(m_base / "share" / "xaml" / "Strings_English.xaml") << "strings";
  std::ofstream(m_base / "plugins" / "motor_plugin1_64_a.so") << "library 2";
  fs::last_write_time(m_base / "plugins" / "motor_plugin1_64_a.so",
                      fs::last_write_time(root.GetPluginFolder() / "motor_plugin1_64_a.so") + std::chrono::seconds(5));
  ASSERT_TRUE(root.InstallDefaults(m_base / "share", m_base / "plugins", [](const std::string&) {}, result, error));
  EXPECT_EQ(result.copied, 2);
  EXPECT_EQ(result.kept, 2);
  EXPECT_EQ(ReadFile(root.GetXamlFolder() / "Settings.xaml"), "edited");
  EXPECT_EQ(ReadFile(root.GetXamlFolder() / "Strings_English.xaml"), "strings");
  EXPECT_EQ(ReadFile(root.GetPluginFolder() / "motor_plugin1_64_a.so"), "library 2");
  // Nothing half-copied is left over.
  for (const auto& entry : fs::recursive_directory_iterator(root.GetFolder()))
    EXPECT_EQ(entry.path().string().find(".installing"), std::string::npos);
}

TEST_F(DataRootInstall, FailuresAreReported) {
  std::ofstream(m_base / "blocked") << "a file";
  DataRoot::InstallResult result;
  std::string error;
  EXPECT_FALSE(DataRoot(m_base / "blocked" / "root")
                   .InstallDefaults(m_base / "share", {}, [](const std::string&) {}, result, error));
  EXPECT_NE(error.find("Can't create directory"), std::string::npos);
  EXPECT_FALSE(DataRoot(m_base / "root").InstallDefaults(m_base / "none", {}, [](const std::string&) {}, result, error));
  EXPECT_NE(error.find("No shipped share folder"), std::string::npos);
}

TEST(DataRoot, ShippedShareOfThisBuildHasTheSchemaAndTheStrings) {
  ScopedEnvironment share("TARVELIN_SHARE_DIR", nullptr);
  const fs::path shipped = DataRoot::FindShippedShare();
  EXPECT_TRUE(fs::exists(shipped / "xaml" / "Settings.xaml")) << shipped;
  EXPECT_TRUE(fs::exists(shipped / "xaml" / "Strings_English.xaml")) << shipped;
  EXPECT_TRUE(fs::exists(shipped / "Plugins" / "VirtualTurntable.xml")) << shipped;
  ScopedEnvironment other("TARVELIN_SHARE_DIR", "/opt/share");
  EXPECT_EQ(DataRoot::FindShippedShare(), fs::path("/opt/share"));
}

}  // namespace
}  // namespace shell
