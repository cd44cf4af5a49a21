// `tarvelin demo` on a small run: three views of the blob at a quarter of
// the rig's image size, fused at a low resolution. Checks the report's
// keys, the files and loose bounds on the scores.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

TEST(DemoCommand, ThreeViewsTurnAlignFuseAndReport) {
  const fs::path out = fs::temp_directory_path() / ("Demo_test_" + std::to_string(getpid()));
  fs::remove_all(out);
  const std::string command = std::string(TARVELIN_BINARY) + " demo --views 3 --scale 0.25 --resolution 128 --out " +
                              out.string() + " > " + (out.string() + ".txt") + " 2>&1";
  const int status = std::system(command.c_str());
  std::ifstream transcript(out.string() + ".txt");
  const std::string printed((std::istreambuf_iterator<char>(transcript)), std::istreambuf_iterator<char>());
  ASSERT_EQ(status, 0) << printed;

  std::ifstream file(out / "report.json");
  ASSERT_TRUE(file) << printed;
  const nlohmann::json report = nlohmann::json::parse(file);
  ASSERT_EQ(report["per_view"].size(), 3u);
  for (const auto& view : report["per_view"]) {
    // A quarter-scale scan lies within a millimetre of the surface, and the
    // turntable steps (120°, axis known) are found within a few tenths of a
    // millimetre and a degree; view 0 is the reference.
    EXPECT_GT(view["scan_points_scored"].get<int>(), 1000);
    EXPECT_LT(view["scan_rms_mm"].get<double>(), 1.0);
    EXPECT_LT(view["alignment_rms_mm"].get<double>(), 1.0);
    EXPECT_LT(view["alignment_deg"].get<double>(), 1.0);
  }
  const auto& fused = report["fused"];
  EXPECT_TRUE(fused["closed"].get<bool>());
  EXPECT_GT(fused["triangles"].get<int>(), 1000);
  EXPECT_GT(fused["supported_vertices"].get<int>(), 100);
  // A 128-cell fusion of a 90 mm object has cells near 1 mm.
  EXPECT_LT(fused["rms_mm"].get<double>(), 1.5);
  EXPECT_LT(fused["p99_mm"].get<double>(), 4.0);
  for (const char* stage : {"turntable_run", "fusion", "export", "evaluation", "total"})
    EXPECT_TRUE(report["seconds"].contains(stage)) << stage;
  for (const char* name : {"fused.ply", "fused.obj", "fused.mtl", "fused.3mf", "demo.tarvelinproj"})
    EXPECT_TRUE(fs::is_regular_file(out / name)) << name;
  fs::remove_all(out);
  fs::remove(out.string() + ".txt");
}

}  // namespace
