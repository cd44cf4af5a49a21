#include "shell/Application.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "shell/SettingPath.h"
#include "shell/testing/ShellFixture.h"
#include "shell/VirtualRigScanner.h"
#include "sim/VirtualRig.h"

namespace shell {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(CommandLine, OptionsProjectAndOthers) {
  CommandLine c;
  std::string error;
  ASSERT_TRUE(CommandLine::Parse({"-language", "German", "-screenshot", "shot.png", "/data/vase.tarvelinproj",
                                  "--root", "/tmp/r", "--rig-scale", "0,5", "-verbose"},
                                 c, error))
      << error;
  EXPECT_EQ(c.language, "German");
  EXPECT_EQ(c.screenshot, "shot.png");
  EXPECT_EQ(c.project, fs::path("/data/vase.tarvelinproj"));
  EXPECT_EQ(c.root, "/tmp/r");
  EXPECT_DOUBLE_EQ(c.rigImageScale, 0.5);
  EXPECT_EQ(c.ignored, std::vector<std::string>{"-verbose"});

  ASSERT_TRUE(CommandLine::Parse({"old.zentoproj"}, c, error));
  EXPECT_EQ(c.project, fs::path("old.zentoproj"));
  EXPECT_TRUE(c.language.empty());
  EXPECT_DOUBLE_EQ(c.rigImageScale, 1.0);

  EXPECT_FALSE(CommandLine::Parse({"-language"}, c, error));
  EXPECT_EQ(error, "-language needs a value");
  EXPECT_FALSE(CommandLine::Parse({"--root"}, c, error));
  EXPECT_FALSE(CommandLine::Parse({"--rig-scale", "2"}, c, error));
  EXPECT_FALSE(CommandLine::Parse({"--rig-scale", "fast"}, c, error));
}

class ApplicationTest : public ::testing::Test {
 protected:
  // The shipped files are copied in at start, except what is already there.
  void SetUp() override { testing::WriteRigScene(m_root, "default", testing::kFastVaseScene); }
  void TearDown() override { m_app.reset(); }

  std::vector<std::string> Arguments(std::vector<std::string> more = {}) const {
    std::vector<std::string> arguments{"--root", m_root.string(), "--rig-scale", "0.25"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
  }

  // Starts an application with the virtual rig registered (unless told not to).
  bool Start(const std::vector<std::string>& arguments, bool withRig = true) {
    CommandLine commandLine;
    std::string error;
    if (!CommandLine::Parse(arguments, commandLine, error)) return false;
    Application::Options options;
    if (withRig) RegisterVirtualRig(options);
    options.log = [this](const std::string& line) { m_log.push_back(line); };
    options.notify = [this](const std::string& text, const std::string& title) { m_notes.push_back(title + ": " + text); };
    options.computerName = "host";
    options.userName = "user";
    options.shippedShare = TARVELIN_SHARE_DIR;
    m_app = std::make_unique<Application>(commandLine, options);
    const bool started = m_app->Start(m_error);
    return started;
  }

  bool Logged(const std::string& part) const {
    return std::any_of(m_log.begin(), m_log.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; });
  }
  template <class T>
  Setting<T> At(const char* titlePath) {
    return m_app->GetSettings().GetSetting<T>(SettingPath(titlePath));
  }

  utils::testing::TemporaryFolder m_folder{"Application_test"};
  const fs::path m_root = m_folder.GetPath();
  std::unique_ptr<Application> m_app;
  std::vector<std::string> m_log, m_notes;
  std::string m_error;
};

TEST_F(ApplicationTest, StartsTheVirtualRigAndScansThroughTheMainLoop) {
  ASSERT_TRUE(Start(Arguments())) << m_error;
  EXPECT_TRUE(Logged("Tarvelin version "));
  EXPECT_TRUE(Logged("Operating system: "));
  EXPECT_TRUE(fs::is_regular_file(m_root / "xaml" / "Settings.xaml"));
  EXPECT_TRUE(fs::is_regular_file(m_root / "rigs" / "default" / "rig.tarvelinsetup"));
  EXPECT_EQ(m_app->GetLanguage().GetName(), "English");
  EXPECT_EQ(At<std::string>("HardwareSetup/Product").Value(), "Virtual");
  EXPECT_EQ(m_app->GetHardwareSetupFile(), m_root / "rigs" / "default" / "rig.tarvelinsetup");
  ASSERT_EQ(m_app->GetHardwareSetup().cameras.size(), 1u);

  const auto& bundle = m_app->GetScannerBundle();
  sim::VirtualRig* rig = GetVirtualRig(bundle);
  ASSERT_NE(rig, nullptr);
  EXPECT_EQ(rig->GetCamera(0)->GetOptions().frameRateHz, 150.0);  // the scene of the data root
  EXPECT_EQ(bundle.patternWindow->GetWidth(), 480u);
  EXPECT_EQ(bundle.patternWindow->GetHeight(), 270u);
  EXPECT_EQ(m_app->GetScanner()->GetCameraCount(), 1u);
  EXPECT_TRUE(m_app->GetScanner()->IsCalibrated());

  // One quick scan, completed by the main loop's pump.
  int ticks = 0, done = 0;
  m_app->AddTimerHandler([&] { ++ticks; });
  m_app->GetScanWorkflow().SetScanDoneHandler([&] { ++done; });
  At<std::string>("StructuredLight/PatternParameters/Orientation").SetValue("vertical");
  At<bool>("Scan/AutoGrabTexture").SetValue(false);
  ASSERT_EQ(m_app->GetScanWorkflow().ScanStart(), 0);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(m_app->RunUntil([&] { return done > 0; }, 60s));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // The 5 ms timer ran throughout (not more often than every 5 ms).
  EXPECT_GT(ticks, 0);
  EXPECT_LE(ticks, int(seconds / 0.005) + 1);
  ASSERT_EQ(m_app->GetScanWorkflow().ScanAddToFusion(), 0);
  EXPECT_EQ(m_app->GetShapeFusion().GetNumGeos(), 1);

  // A predicate that never holds runs into the timeout.
  EXPECT_FALSE(m_app->RunUntil([] { return false; }, 20ms));

  // Exit saves what differs from the defaults and the language choice.
  m_app->Exit();
  const fs::path userFile = m_root / "Settings" / "UserSettings.xml";
  ASSERT_TRUE(fs::is_regular_file(userFile));
  std::ifstream in(userFile);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("ScanIndex"), std::string::npos);
  EXPECT_NE(text.find("vertical"), std::string::npos);
  EXPECT_EQ(Language::ReadLanguageChoice(m_root), "English");
}

TEST_F(ApplicationTest, ScannerOfEachKindOfProductName) {
  ASSERT_TRUE(Start(Arguments())) << m_error;
  auto& scanner = m_app->GetScanner();
  scanner->SetFrameRateLimit(25.0);

  // Empty: the plain scanner with the setup's camera and models, no capture.
  At<std::string>("HardwareSetup/Product").SetValue("");
  m_app->CreateScanner();
  EXPECT_EQ(GetVirtualRig(m_app->GetScannerBundle()), nullptr);
  ASSERT_EQ(m_app->GetScanner()->GetCameraCount(), 1u);
  EXPECT_EQ(m_app->GetScanner()->GetCameraName(0), m_app->GetHardwareSetup().cameras[0].name);
  EXPECT_TRUE(m_app->GetScanner()->GetCameraModel(0));
  EXPECT_TRUE(m_app->GetScanner()->GetProjectorModel());
  EXPECT_FALSE(m_app->GetScanner()->GetImageCapture(0));
  EXPECT_DOUBLE_EQ(m_app->GetScanner()->GetFrameRateLimit(), 25.0);  // handed on
  EXPECT_FALSE(m_app->GetScanner()->IsCalibrated());
  EXPECT_EQ(m_app->GetScanWorkflow().ScanStart(), -501);
  EXPECT_EQ(m_app->GetProgressReporter().GetResult(), -501);
  EXPECT_EQ(m_notes.size(), 1u);

  // A product of the table that has no implementation here, and an unknown one.
  for (const char* product : {"Galvern", "SomeOtherScanner"}) {
    m_log.clear();
    At<std::string>("HardwareSetup/Product").SetValue(product);
    m_app->CreateScanner();
    EXPECT_TRUE(Logged(std::string("Product \"") + product + "\" has no implementation")) << product;
    EXPECT_EQ(GetVirtualRig(m_app->GetScannerBundle()), nullptr);
    EXPECT_EQ(m_app->GetScanner()->GetCameraCount(), 1u);
  }

  // Back to the virtual rig.
  At<std::string>("HardwareSetup/Product").SetValue("Virtual");
  m_app->CreateScanner();
  EXPECT_NE(GetVirtualRig(m_app->GetScannerBundle()), nullptr);
  EXPECT_TRUE(m_app->GetScanner()->IsCalibrated());
}

TEST_F(ApplicationTest, VirtualWithoutTheRigLibraryOrWithoutASetupFallsBack) {
  ASSERT_TRUE(Start(Arguments(), false)) << m_error;
  EXPECT_TRUE(Logged("Product \"Virtual\" has no implementation"));
  EXPECT_EQ(GetVirtualRig(m_app->GetScannerBundle()), nullptr);
  // A profile that is no entry of HardwareSetupProfiles names a folder
  // itself; this one does not exist. The choice is saved at exit.
  At<std::string>("HardwareSetup/CurrentProfile").SetValue("rigs/missing");
  m_app.reset();

  m_log.clear();
  ASSERT_TRUE(Start(Arguments({"-language", "Klingon", "-screenshot", "shot.png"}))) << m_error;
  EXPECT_TRUE(Logged("-screenshot shot.png: there is no main window to capture in the headless shell."));
  EXPECT_TRUE(Logged("No hardware setup"));
  EXPECT_TRUE(Logged("could not be created"));
  EXPECT_EQ(m_app->GetScanner()->GetCameraCount(), 0u);
  EXPECT_EQ(m_app->GetLanguage().GetName(), "English");  // the unknown language falls back
}

TEST_F(ApplicationTest, OpensTheProjectArgument) {
  const fs::path project = m_root / "parts.tarvelinproj";
  {
    surf::ShapeFusion fusion;
    ASSERT_EQ(fusion.AddGeo({0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2}, {}, "Triangle"), 0);
    ASSERT_TRUE(fusion.SaveProject(project));
  }
  ASSERT_TRUE(Start(Arguments({project.string()}))) << m_error;
  ASSERT_EQ(m_app->GetShapeFusion().GetNumGeos(), 1);
  EXPECT_EQ(m_app->GetShapeFusion().GetGeo(0)->GetName(), "Triangle");
  m_app.reset();

  // A project that cannot be read leaves an empty list and a log line.
  std::ofstream(m_root / "broken.tarvelinproj") << "not a project";
  m_log.clear();
  ASSERT_TRUE(Start(Arguments({(m_root / "broken.tarvelinproj").string()}))) << m_error;
  EXPECT_EQ(m_app->GetShapeFusion().GetNumGeos(), 0);
  EXPECT_TRUE(Logged("could not be opened"));
}

TEST_F(ApplicationTest, UnusableDataRootFailsToStart) {
  fs::remove_all(m_root);
  fs::create_directories(m_root.parent_path());
  std::ofstream(m_root) << "a file, not a folder";
  EXPECT_FALSE(Start(Arguments()));
  EXPECT_FALSE(m_error.empty());
  EXPECT_FALSE(m_app->IsStarted());
  fs::remove(m_root);
}

}  // namespace
}  // namespace shell
