// The whole scan on a reduced default rig (a quarter of the image sizes):
// virtual cameras and projector, frame acceptance, decoding, triangulation,
// filtering, meshing, scored against the ground truth.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

#include "apps/tarvelin/Console.h"
#include "apps/tarvelin/ScanCommand.h"
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

}  // namespace
}  // namespace tarvelin
