// The whole scan on a reduced default rig (a quarter of the image sizes):
// virtual cameras and projector, frame acceptance, decoding, triangulation,
// filtering, meshing, scored against the ground truth.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "apps/tarvelin/Console.h"
#include "apps/tarvelin/ScanCommand.h"
#include "shell/Application.h"
#include "shell/ProductScanners.h"
#include "shell/SettingPath.h"
#include "sim/VirtualRig.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;

fs::path TempDir(const std::string& name) {
  const fs::path dir = fs::temp_directory_path() / ("tarvelin_scan_test_" + name + "_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  return dir;
}

TEST(ScanEndToEnd, ReducedDefaultRigMeetsLooseAccuracyBounds) {
  ScanCommand command;
  command.scale = 0.25;
  command.out = TempDir("default");
  ASSERT_EQ(command.Run(), kExitSuccess);
  for (const char* name : {"scan.ply", "depth_preview.png", "quality_preview.png", "report.json"})
    EXPECT_TRUE(fs::is_regular_file(command.out / name)) << name;
  std::ifstream file(command.out / "report.json");
  const nlohmann::json report = nlohmann::json::parse(file);
  const auto& camera = report["cameras"][0];
  // Projector and camera pixels are four times as large as on the full rig,
  // so the depth errors may be about four times as large as its targets.
  EXPECT_GT(camera["visible_pixels"].get<double>(), 5000.0);
  EXPECT_GE(camera["decoded_fraction_of_visible"].get<double>(), 0.95);
  EXPECT_LE(camera["depth_error_mm"]["rms"].get<double>(), 0.2);
  EXPECT_LE(camera["depth_error_mm"]["p99"].get<double>(), 0.6);
  // Border erosion and the grazing-angle filter drop more of a small image.
  EXPECT_GT(camera["valid_pixels"].get<double>(), 0.8 * camera["visible_pixels"].get<double>());
  EXPECT_GT(report["mesh"]["triangles"].get<double>(), 10000.0);
  fs::remove_all(command.out);
}

TEST(ScanEndToEnd, BadInputFailsWithExitCodeOne) {
  ScanCommand missingObject;
  missingObject.object = "/nonexistent/part.stl";
  missingObject.out = TempDir("missing");
  EXPECT_EQ(missingObject.Run(), kExitFailure);
  EXPECT_FALSE(fs::exists(missingObject.out / "report.json"));

  ScanCommand missingRig;
  missingRig.rig = "/nonexistent/rig";
  missingRig.out = TempDir("norig");
  EXPECT_EQ(missingRig.Run(), kExitFailure);

  // A rig whose scene does not parse, and one whose object stands out of view.
  const fs::path rig = TempDir("rig");
  fs::create_directories(rig);
  fs::copy_file(ShareDirectory() / "rigs" / "default" / sim::kRigSetupFile, rig / sim::kRigSetupFile);
  std::ofstream(rig / sim::kRigSceneFile) << "{\"objects\": [{\"type\": \"sphere\", \"radius\": -3}]}";
  ScanCommand badScene;
  badScene.rig = rig.string();
  badScene.scale = 0.25;
  badScene.out = TempDir("badscene");
  EXPECT_EQ(badScene.Run(), kExitFailure);
  std::ofstream(rig / sim::kRigSceneFile) << "{\"objects\": [{\"type\": \"sphere\", \"position\": [2000, 0, 0]}]}";
  ScanCommand outOfView;
  outOfView.rig = rig.string();
  outOfView.scale = 0.25;
  outOfView.out = TempDir("outofview");
  EXPECT_EQ(outOfView.Run(), kExitFailure);
  EXPECT_FALSE(fs::exists(outOfView.out / "report.json"));
  fs::remove_all(rig);

  // The unit's device library cannot be found: exit 1, nothing written.
  setenv("TARVELIN_VEMKO_LIBRARY", "/nonexistent/libtarvelin_vemko.so", 1);
  ScanCommand noLibrary;
  noLibrary.product = "Felvar";
  noLibrary.object = "sphere";
  noLibrary.out = TempDir("nolibrary");
  EXPECT_EQ(noLibrary.Run(), kExitFailure);
  unsetenv("TARVELIN_VEMKO_LIBRARY");
  EXPECT_FALSE(fs::exists(noLibrary.out / "report.json"));
}

// Every file below folder with its contents.
std::map<fs::path, std::string> Snapshot(const fs::path& folder) {
  std::map<fs::path, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream file(entry.path(), std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    files[fs::relative(entry.path(), folder)] = text.str();
  }
  return files;
}

std::string RunCapturingErrors(ScanCommand& command, int expectedExit) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(command.Run(), expectedExit);
  return ::testing::internal::GetCapturedStderr();
}

// A user's data root as the studio leaves it: made at the shell's first
// start, the user's choices (the stereo profile and product) saved in its
// settings. `scan --root` takes its profile's rig and its product, and
// changes nothing in the root. Roots that cannot be used say why.
TEST(ScanEndToEnd, ScansWithTheSettingsOfAUsersDataRoot) {
  const fs::path root = TempDir("userroot");
  {
    shell::CommandLine commandLine;
    std::string error;
    ASSERT_TRUE(shell::CommandLine::Parse({"--root", root.string()}, commandLine, error)) << error;
    shell::Application::Options options;
    shell::RegisterProducts(options);
    options.log = [](const std::string&) {};
    shell::Application app(commandLine, options);
    ASSERT_TRUE(app.Start(error)) << error;
    app.GetSettings()
        .GetSetting<std::string>(shell::SettingPath("HardwareSetup/CurrentProfile"))
        .SetValue("VirtualStereo");
    app.GetSettings()
        .GetSetting<std::string>(shell::SettingPath("HardwareSetup/Product"))
        .SetValue("VirtualStereo");
  }  // saved at exit
  const auto before = Snapshot(root);

  ScanCommand command;
  command.root = root;
  command.scale = 0.25;
  command.object = "sphere";
  command.out = TempDir("rootscan");
  ASSERT_EQ(command.Run(), kExitSuccess);
  std::ifstream file(command.out / "report.json");
  const nlohmann::json report = nlohmann::json::parse(file);
  EXPECT_EQ(report["product"], "VirtualStereo");
  EXPECT_EQ(report["root"], root.string());
  EXPECT_EQ(fs::path(report["rig"].get<std::string>()), root / "rigs" / "stereo");
  ASSERT_EQ(report["cameras"].size(), 2u);
  EXPECT_GE(report["cameras"][1]["decoded_fraction_of_visible"].get<double>(), 0.9);
  EXPECT_EQ(Snapshot(root), before) << "the user's root is left as it was";
  fs::remove_all(command.out);

  ScanCommand missing;
  missing.root = root / "nothing";
  missing.out = TempDir("rootmissing");
  std::string errors = RunCapturingErrors(missing, kExitFailure);
  EXPECT_NE(errors.find("Error: the data root " + missing.root.string() + " does not exist"),
            std::string::npos)
      << errors;
  EXPECT_FALSE(fs::exists(missing.out));

  ScanCommand notAFolder;
  notAFolder.root = root / "Settings.txt";
  std::ofstream(notAFolder.root) << "x";
  notAFolder.out = TempDir("rootfile");
  errors = RunCapturingErrors(notAFolder, kExitFailure);
  EXPECT_NE(errors.find(notAFolder.root.string() + " is not a folder"), std::string::npos)
      << errors;

  ScanCommand empty;
  empty.root = root / "empty";
  fs::create_directories(empty.root);
  empty.out = TempDir("rootempty");
  errors = RunCapturingErrors(empty, kExitFailure);
  EXPECT_NE(errors.find("holds no settings schema"), std::string::npos) << errors;

  // The profile's rig folder without its scene is no rig to score against.
  fs::remove(root / "rigs" / "stereo" / sim::kRigSceneFile);
  ScanCommand noScene;
  noScene.root = root;
  noScene.out = TempDir("rootnoscene");
  errors = RunCapturingErrors(noScene, kExitFailure);
  EXPECT_NE(errors.find("is no virtual rig"), std::string::npos) << errors;
  EXPECT_NE(errors.find((root / "rigs" / "stereo" / sim::kRigSetupFile).string()),
            std::string::npos)
      << errors;
  fs::remove_all(root);
}

}  // namespace
}  // namespace tarvelin
