#include "plugin/PluginLoader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "foundation/utils/testing/TemporaryFolder.h"
#include "plugin/MotorPlugin.h"

namespace plugin {
namespace {

namespace fs = std::filesystem;

std::string Description(const std::string& name, const std::string& type, const std::string& module,
                        const std::string& ignore = "false", const std::string& interfaceName = "motor_plugin1") {
  return "<?xml version=\"1.0\"?>\n<plugin>\n  <ignore>" + ignore + "</ignore>\n  <name>" + name +
         "</name>\n  <type>" + type + "</type>\n  <parameters>speed=30</parameters>\n  <interfaceName>" +
         interfaceName + "</interfaceName>\n  <moduleName>" + module +
         "</moduleName>\n  <initializationTimespan>2.5</initializationTimespan>\n</plugin>\n";
}

// A folder of descriptions beside copies of the fake libraries.
class PluginFolder : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* variant : {"complete", "failconnect", "nostop"}) {
      const std::string file = std::string("motor_plugin1_64_fake") + variant + ".so";
      fs::copy_file(fs::path(TARVELIN_FAKE_PLUGIN_DIR) / file, m_folder / file);
    }
  }

  void Write(const std::string& file, const std::string& text) { std::ofstream(m_folder / file) << text; }
  std::string Folder() const { return m_folder.string(); }
  std::string Logs() const { return (m_folder / "logs").string(); }

  utils::testing::TemporaryFolder m_temporary{"PluginLoader_test"};
  const std::filesystem::path m_folder = m_temporary.GetPath();
};

TEST_F(PluginFolder, ScanReadsDescriptionsAndDerivesTheLibraryPath) {
  Write("turntable.xml", Description("Table", "Turntable", "fakecomplete"));
  ASSERT_EQ(PluginLoader().Scan(Folder(), {}, ""), 1);
  PluginLoader loader;
  loader.Scan(Folder(), {}, "channel=/tmp/x");
  const PluginLoader::PluginInfo& info = loader.GetPlugins().at(0);
  EXPECT_EQ(info.name, "Table");
  EXPECT_EQ(info.type, "Turntable");
  EXPECT_EQ(info.parameters, "speed=30 channel=/tmp/x");
  EXPECT_EQ(info.interfaceName, "motor_plugin1");
  EXPECT_EQ(info.moduleName, "fakecomplete");
  EXPECT_EQ(info.initializationTimespan, "2.5");
  EXPECT_EQ(info.libraryPath, Folder() + "/motor_plugin1_64_fakecomplete.so");
}

TEST_F(PluginFolder, IgnoreFlagReadsOnlyTheFirstCharacter) {
  Write("a.xml", Description("A", "Turntable", "a", "True"));
  Write("b.xml", Description("B", "Turntable", "b", "false"));
  Write("c.xml", Description("C", "Turntable", "c", "1"));
  Write("d.xml", Description("D", "Turntable", "d", "yes"));
  Write("e.xml", Description("E", "Turntable", "e", "tRUE"));
  Write("f.XML", Description("F", "Turntable", "f", ""));
  PluginLoader loader;
  ASSERT_EQ(loader.Scan(Folder(), {}, ""), 3);
  EXPECT_EQ(loader.GetPlugins()[0].name, "B");
  EXPECT_EQ(loader.GetPlugins()[1].name, "D");
  EXPECT_EQ(loader.GetPlugins()[2].name, "F");
}

TEST_F(PluginFolder, BrokenAndForeignFilesAreSkipped) {
  Write("broken.xml", "<plugin><name>Half");
  Write("other.xml", "<?xml version=\"1.0\"?><settings><name>X</name></settings>");
  Write("empty.xml", "");
  Write("notes.txt", Description("Text", "Turntable", "t"));
  Write("partial.xml", "<plugin><type>Turntable</type></plugin>");
  PluginLoader loader;
  ASSERT_EQ(loader.Scan(Folder(), {}, ""), 1);
  const PluginLoader::PluginInfo& info = loader.GetPlugins()[0];
  EXPECT_EQ(info.type, "Turntable");
  EXPECT_EQ(info.name, "");
  EXPECT_EQ(info.parameters, "");
  EXPECT_EQ(info.libraryPath, Folder() + "/_64_.so");
  EXPECT_EQ(loader.Scan((m_folder / "missing").string(), {}, ""), 0);
  EXPECT_TRUE(loader.GetPlugins().empty());
}

TEST_F(PluginFolder, AllowedInterfacesFilter) {
  Write("a.xml", Description("A", "Turntable", "a"));
  Write("b.xml", Description("B", "Turntable", "b", "false", "camera_plugin1"));
  PluginLoader loader;
  EXPECT_EQ(loader.Scan(Folder(), {"motor_plugin1"}, ""), 1);
  EXPECT_EQ(loader.GetPlugins()[0].name, "A");
  EXPECT_EQ(loader.Scan(Folder(), {"motor_plugin1", "camera_plugin1"}, ""), 2);
  EXPECT_EQ(loader.Scan(Folder(), {"other"}, ""), 0);
}

TEST_F(PluginFolder, FirstMatchingEntryFailsSecondLoads) {
  Write("1.xml", Description("Broken table", "Turntable", "fakefailconnect"));
  Write("2.xml", Description("Camera", "Camera", "fakecomplete"));
  Write("3.xml", Description("Good table", "Turntable", "fakecomplete"));
  PluginLoader loader;
  ASSERT_EQ(loader.Scan(Folder(), {}, ""), 3);
  MotorPlugin motor;
  testing::internal::CaptureStderr();
  const auto [result, info] = loader.LoadPlugin(motor, "Turntable", "", Logs());
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(info.name, "Good table");
  EXPECT_TRUE(motor.IsConnected());
  EXPECT_TRUE(fs::exists(fs::path(Logs()) / "Broken table.txt"));
  EXPECT_TRUE(fs::exists(fs::path(Logs()) / "Good table.txt"));
  EXPECT_FALSE(fs::exists(fs::path(Logs()) / "Camera.txt"));
}

TEST_F(PluginFolder, AllFailingReturnsTheLastFailure) {
  Write("1.xml", Description("Fails", "Turntable", "fakefailconnect"));
  Write("2.xml", Description("No stop", "Turntable", "fakenostop"));
  Write("3.xml", Description("No library", "Turntable", ""));
  PluginLoader loader;
  loader.Scan(Folder(), {}, "");
  MotorPlugin motor;
  testing::internal::CaptureStderr();
  auto [result, info] = loader.LoadPlugin(motor, "Turntable", "", Logs());
  EXPECT_EQ(result, -1);
  EXPECT_EQ(info.name, "No library");
  std::tie(result, info) = loader.LoadPlugin(motor, "Turntable", "No stop", Logs());
  EXPECT_EQ(result, -2);
  EXPECT_EQ(info.name, "No stop");
  std::tie(result, info) = loader.LoadPlugin(motor, "Turntable", "Fails", Logs());
  EXPECT_EQ(result, -7);
  testing::internal::GetCapturedStderr();
}

TEST_F(PluginFolder, NothingMatchingReturnsMinusOneAndAnEmptyEntry) {
  Write("1.xml", Description("Table", "Turntable", "fakecomplete"));
  Write("2.xml", Description("Other", "Turntable", "fakecomplete", "false", "motor_plugin2"));
  PluginLoader loader;
  loader.Scan(Folder(), {}, "");
  MotorPlugin motor;
  for (const auto& [type, name] : std::vector<std::pair<std::string, std::string>>{
           {"Camera", ""}, {"Turntable", "Nope"}, {"Turntable", "Other"}}) {
    const auto [result, info] = loader.LoadPlugin(motor, type, name, Logs());
    EXPECT_EQ(result, -1) << type << " " << name;
    EXPECT_EQ(info.name, "");
    EXPECT_EQ(info.libraryPath, "");
  }
  EXPECT_FALSE(fs::exists(Logs()));
}

TEST_F(PluginFolder, LogFileGetsAHeaderPerLoadAndTheLibrarysLines) {
  Write("1.xml", Description("Table", "Turntable", "fakecomplete"));
  PluginLoader loader;
  loader.Scan(Folder(), {}, "");
  MotorPlugin motor;
  ASSERT_EQ(loader.LoadPlugin(motor, "Turntable", "Table", Logs()).first, 0);
  ASSERT_EQ(loader.LoadPlugin(motor, "Turntable", "Table", Logs()).first, 0);
  std::ifstream in(fs::path(Logs()) / "Table.txt");
  std::stringstream text;
  text << in.rdbuf();
  const std::string header = "\n" + std::string(68, '=') + "\n[^\n]+\nPlugin name: Table\nDLL path:    " + Folder() +
                             "/motor_plugin1_64_fakecomplete\\.so\n" + std::string(68, '-') +
                             "\nconnect parameters=speed=30\n";
  EXPECT_TRUE(std::regex_match(text.str(), std::regex(header + header))) << text.str();
}

}  // namespace
}  // namespace plugin
