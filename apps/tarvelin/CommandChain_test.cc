// The commands chained as a user types them, each reading the file the one
// before wrote: two scans of the blob on the turntable rig 45° apart, the
// second aligned onto the first with the table's axis known, both fused,
// the result converted to every exchange format and described by `info`.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numbers>
#include <regex>

#include <nlohmann/json.hpp>

#include "apps/tarvelin/testing/RunTarvelin.h"
#include "surf/testing/TestMeshes.h"

namespace {

using tarvelin::testing::Quoted;
using tarvelin::testing::RunTarvelin;

nlohmann::json ReadReport(const std::filesystem::path& folder) {
  std::ifstream file(folder / "report.json");
  return nlohmann::json::parse(file);
}

// The "vertices: N" and "triangles: N" lines of `tarvelin info`.
std::pair<long, long> Counts(const std::string& info) {
  std::smatch vertices, triangles;
  if (!std::regex_search(info, vertices, std::regex("vertices: (\\d+)")) ||
      !std::regex_search(info, triangles, std::regex("triangles: (\\d+)"))) {
    return {-1, -1};
  }
  return {std::stol(vertices[1]), std::stol(triangles[1])};
}

TEST(CommandChain, ScanTwiceAlignFuseConvertAndDescribe) {
  surf::testing::TempFolder folder;
  const auto first = folder / "first", second = folder / "second";
  for (const auto& [out, angle] : {std::pair{first, "0"}, std::pair{second, "45"}}) {
    const auto scan =
        RunTarvelin("scan --object blob --scale 0.25 --turntable " + std::string(angle) + " --out " + Quoted(out));
    ASSERT_EQ(scan.exitCode, 0) << scan.output;
  }

  // The table turned the blob by +45° about its axis (z through the origin),
  // so the second scan goes onto the first by a turn of −45°.
  const auto moved = folder / "aligned" / "second.ply";
  std::filesystem::create_directories(moved.parent_path());
  const auto align = RunTarvelin("align " + Quoted(second / "scan.ply") + " " + Quoted(first / "scan.ply") +
                                 " --axis 0,0,1 --axis-point 0,0,0 --angle -45 --seed 3 --out " + Quoted(moved));
  ASSERT_EQ(align.exitCode, 0) << align.output;
  const auto aligned = ReadReport(moved.parent_path());
  const auto& t = aligned["transform"];
  const double turn = std::atan2(t[1][0].get<double>(), t[0][0].get<double>()) * 180.0 / std::numbers::pi;
  EXPECT_NEAR(turn, -45.0, 0.2);
  EXPECT_NEAR(t[2][2].get<double>(), 1.0, 1e-4);  // about z only
  EXPECT_LT(std::hypot(t[0][3].get<double>(), t[1][3].get<double>(), t[2][3].get<double>()), 0.2);
  // The scans' depth noise at a quarter of the image size is about 0.1 mm.
  EXPECT_LT(aligned["rms_point_to_plane_mm"].get<double>(), 0.2);

  const auto fused = folder / "fused" / "fused.ply";
  std::filesystem::create_directories(fused.parent_path());
  const auto fuse = RunTarvelin("fuse " + Quoted(first / "scan.ply") + " " + Quoted(moved) +
                                " --resolution 64 --close-holes-percent 100 --out " + Quoted(fused));
  ASSERT_EQ(fuse.exitCode, 0) << fuse.output;
  const auto fusion = ReadReport(fused.parent_path());
  EXPECT_EQ(fusion["scans"].get<int>(), 2);
  EXPECT_TRUE(fusion["closed"].get<bool>());

  const long triangles = fusion["triangles"].get<long>();
  const auto info = RunTarvelin("info " + Quoted(fused));
  ASSERT_EQ(info.exitCode, 0) << info.output;
  EXPECT_EQ(Counts(info.output), std::pair(fusion["vertices"].get<long>(), triangles));
  for (const char* extension : {".stl", ".obj", ".3mf"}) {
    const auto converted = folder / (std::string("fused") + extension);
    const auto convert = RunTarvelin("convert " + Quoted(fused) + " " + Quoted(converted));
    ASSERT_EQ(convert.exitCode, 0) << convert.output;
    const auto described = RunTarvelin("info " + Quoted(converted));
    ASSERT_EQ(described.exitCode, 0) << extension << ": " << described.output;
    // Every format keeps the closed mesh: the same vertices and triangles.
    EXPECT_EQ(Counts(described.output), Counts(info.output)) << extension;
  }
}

}  // namespace
