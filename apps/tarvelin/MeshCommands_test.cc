// `tarvelin convert`, `tarvelin info`, `tarvelin align` and `tarvelin fuse`, run as a user runs them.

#include <gtest/gtest.h>

#include <fstream>
#include <numbers>

#include <nlohmann/json.hpp>

#include "apps/tarvelin/testing/RunTarvelin.h"
#include "foundation/img/ImageIO.h"
#include "surf/files/MeshFormats.h"
#include "surf/files/StlFile.h"
#include "surf/testing/SyntheticScans.h"
#include "surf/testing/TestMeshes.h"

namespace {

using surf::testing::TempFolder;

using tarvelin::testing::Quoted;
using tarvelin::testing::RunTarvelin;
using Result = tarvelin::testing::CommandResult;

TEST(ConvertCommand, ChainsEveryFormatKeepingTextureWhereBothSidesHaveIt) {
  TempFolder folder;
  const surf::MeshArrays grid = surf::testing::MakeGrid(6, 5, true, 8, 8);
  ASSERT_TRUE(surf::SaveObj(folder / "in.obj", grid));

  ASSERT_EQ(RunTarvelin("convert " + Quoted(folder / "in.obj") + " " + Quoted(folder / "a.tarvelinmesh")).exitCode, 0);
  ASSERT_EQ(RunTarvelin("convert " + Quoted(folder / "a.tarvelinmesh") + " " + Quoted(folder / "b.OBJ")).exitCode, 0);
  surf::MeshArrays back;
  ASSERT_TRUE(surf::LoadObj(folder / "b.OBJ", back, {{}, nullptr}));
  EXPECT_EQ(back.positions, grid.positions);
  ASSERT_EQ(back.texCoords.size(), grid.texCoords.size());
  for (std::size_t i = 0; i < grid.texCoords.size(); ++i) {
    // OBJ's v grows upwards: 1 − v on each write and read rounds by at most
    // half an ulp of 1 each time.
    EXPECT_NEAR(back.texCoords[i][1], grid.texCoords[i][1], 2e-7f);
    EXPECT_EQ(back.texCoords[i][0], grid.texCoords[i][0]);
  }
  ASSERT_TRUE(back.texture.SameSize(grid.texture));
  EXPECT_TRUE(std::equal(back.texture.data, back.texture.data + back.texture.size, grid.texture.data));

  for (const char* out : {"c.stl", "d.ply", "e.3mf", "f.zentomesh"}) {
    const Result result = RunTarvelin("convert " + Quoted(folder / "a.tarvelinmesh") + " " + Quoted(folder / out));
    EXPECT_EQ(result.exitCode, 0) << out << ": " << result.output;
  }
  ASSERT_EQ(RunTarvelin("convert --ply-ascii " + Quoted(folder / "c.stl") + " " + Quoted(folder / "g.ply")).exitCode, 0);
  EXPECT_EQ(surf::testing::ReadFileBytes(folder / "g.ply").rfind("ply\nformat ascii 1.0\n", 0), 0u);

  // STL keeps only the geometry: the same 42 vertices after unification.
  const Result info = RunTarvelin("info " + Quoted(folder / "c.stl"));
  ASSERT_EQ(info.exitCode, 0) << info.output;
  EXPECT_NE(info.output.find("vertices: 42\ntriangles: 60\n"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("textures: 0"), std::string::npos);
}

TEST(ConvertCommand, UnreadableInputFailsAndUnknownFormatsAreUsageErrors) {
  TempFolder folder;
  surf::testing::WriteFileBytes(folder / "broken.stl", std::string(100, 'x'));
  Result result = RunTarvelin("convert " + Quoted(folder / "broken.stl") + " " + Quoted(folder / "out.obj"));
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.output.find("Error: could not read"), std::string::npos) << result.output;
  EXPECT_EQ(RunTarvelin("convert " + Quoted(folder / "missing.obj") + " " + Quoted(folder / "out.stl")).exitCode, 1);
  result = RunTarvelin("convert " + Quoted(folder / "broken.stl") + " " + Quoted(folder / "out.xyz"));
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_NE(result.output.find("writable formats are"), std::string::npos);
  result = RunTarvelin("convert " + Quoted(folder / "in.xyz") + " " + Quoted(folder / "out.stl"));
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_NE(result.output.find("readable formats are .tarvelinmesh, .zentomesh, .stl, .obj, .ply, .3mf"),
            std::string::npos);
  EXPECT_EQ(RunTarvelin("convert only-one-argument.obj").exitCode, 2);
  EXPECT_EQ(folder.FileNames(), std::vector<std::string>{"broken.stl"});
}

TEST(InfoCommand, DescribesMeshesAndProjects) {
  TempFolder folder;
  surf::ScanListData data;
  data.scans.push_back(surf::MakeGeoItem(surf::testing::MakeGrid(2, 1, true, 4, 2)));
  data.scans.back().geo->SetName("front");
  data.fusionResult = surf::MakeGeoItem(surf::testing::MakeGrid(1, 1, false));
  ASSERT_TRUE(surf::SaveGeoZentomesh(data, folder / "front.tarvelinmesh", 0));
  ASSERT_TRUE(surf::SaveProject(folder / "p.tarvelinproj", data));

  Result result = RunTarvelin("info " + Quoted(folder / "front.tarvelinmesh"));
  ASSERT_EQ(result.exitCode, 0) << result.output;
  for (const char* line : {"source: ScanList\n", "name: front\n", "vertices: 6\n", "triangles: 4\n",
                           "bounds min: 0 0 -0.25\n", "bounds max: 2 1 1\n",
                           "attributes (meshes of 1): normals 1, colours 1, texture coordinates 1, qualities 0\n",
                           "  texture 0: 4 x 2 BGR 8-bit, used by 1 mesh\n"}) {
    EXPECT_NE(result.output.find(line), std::string::npos) << line << "in\n" << result.output;
  }
  result = RunTarvelin("info " + Quoted(folder / "p.tarvelinproj"));
  ASSERT_EQ(result.exitCode, 0) << result.output;
  EXPECT_NE(result.output.find("scans: 1\n"), std::string::npos);
  EXPECT_NE(result.output.find("fusion result\n"), std::string::npos);

  surf::testing::WriteFileBytes(folder / "cut.tarvelinproj", surf::testing::ReadFileBytes(folder / "p.tarvelinproj").substr(0, 300));
  result = RunTarvelin("info " + Quoted(folder / "cut.tarvelinproj"));
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.output.find("ERROR: Could not get next file in project container."), std::string::npos);
  EXPECT_EQ(RunTarvelin("info " + Quoted(folder / "notes.txt")).exitCode, 2);
  EXPECT_EQ(RunTarvelin("info " + Quoted(folder / "missing.obj")).exitCode, 1);
}

TEST(AlignCommand, FindsTheTurntablePoseBetweenTwoBlobScans) {
  TempFolder folder;
  const auto a = folder / "a.tarvelinmesh", b = folder / "b.tarvelinmesh";
  surf::testing::LumpyBlob blob(40.0, 14, 7);
  surf::testing::ScanSpec spec;
  spec.samplesAround = 160;
  spec.noiseSigma = 0.02;
  auto views = surf::testing::MakeTurntableScans(blob, spec, 2, 45.0 * std::numbers::pi / 180.0,
                                                 math::Vec3d(0, 0, 1), math::Vec3d(0, 0, 0));
  const math::Frame4d truth = views.truth[1] * views.truth[0].GetInverse();
  std::shared_ptr<v3d::Geo> geoA(std::move(views.scans[0])), geoB(std::move(views.scans[1]));
  ASSERT_TRUE(surf::SaveMesh(a, surf::GeoItem{geoA, {}}));
  ASSERT_TRUE(surf::SaveMesh(b, surf::GeoItem{geoB, {}}));

  const Result result =
      RunTarvelin("align " + Quoted(a) + " " + Quoted(b) + " --seed 7 --out " + Quoted(folder / "moved.stl"));
  ASSERT_EQ(result.exitCode, 0) << result.output;
  std::ifstream reportFile(folder / "report.json");
  const auto report = nlohmann::json::parse(reportFile);
  math::Frame4d found;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) found(r, c) = report["transform"][r][c].get<double>();
  }
  // The noise (0.02 mm) and the grid (about 1.6 mm) bound what ICP can
  // recover; a wrong coarse pose would be off by tens of millimetres.
  EXPECT_LT(surf::testing::RmsDisplacement(*geoA, truth, found), 0.1);
  EXPECT_GT(report["inlier_fraction"].get<double>(), 0.3);
  EXPECT_LT(report["rms_point_to_plane_mm"].get<double>(), 0.1);
  EXPECT_TRUE(std::filesystem::exists(folder / "moved.stl"));
}

TEST(AlignCommand, BadInputIsAFailureAndBadOptionsAUsageError) {
  TempFolder folder;
  const surf::MeshArrays grid = surf::testing::MakeGrid(6, 5, false, 0, 0);
  ASSERT_TRUE(surf::SaveStl(folder / "flat.stl", grid));
  const std::string flat = Quoted(folder / "flat.stl");
  EXPECT_EQ(RunTarvelin("align " + Quoted(folder / "missing.stl") + " " + flat + " --out " +
                        Quoted(folder / "o.stl")).exitCode, 1);
  EXPECT_EQ(RunTarvelin("align " + flat + " " + flat + " --axis 1,2 --out " + Quoted(folder / "o.stl")).exitCode,
            2);
  EXPECT_EQ(RunTarvelin("align " + flat + " " + flat + " --out " + Quoted(folder / "o.xyz")).exitCode, 2);
  EXPECT_FALSE(std::filesystem::exists(folder / "o.stl"));
}

// Six turntable views of a blob, each file carrying its node frame.
std::string SaveBlobViews(const TempFolder& folder) {
  surf::testing::LumpyBlob blob(30.0, 8, 3);
  surf::testing::ScanSpec spec;
  spec.samplesAround = 100;
  spec.viewDirection = math::Vec3d(1.0, 0.0, 0.6).GetNormalized();
  auto views = surf::testing::MakeTurntableScans(blob, spec, 6, std::numbers::pi / 3, math::Vec3d(0, 0, 1),
                                                 math::Vec3d(0, 0, 0));
  std::string arguments;
  for (std::size_t k = 0; k < views.scans.size(); ++k) {
    std::shared_ptr<v3d::Geo> geo(std::move(views.scans[k]));
    geo->SetFrame(views.truth[k].GetInverse());
    const auto path = folder / ("view" + std::to_string(k) + ".tarvelinmesh");
    EXPECT_TRUE(surf::SaveMesh(path, surf::GeoItem{geo, {}}));
    arguments += Quoted(path) + " ";
  }
  return arguments;
}

TEST(FuseCommand, FusesPlacedViewsIntoOneClosedMesh) {
  TempFolder folder;
  const std::string views = SaveBlobViews(folder);
  const Result result =
      RunTarvelin("fuse " + views + "--resolution 64 --close-holes-percent 100 --out " + Quoted(folder / "f.ply"));
  ASSERT_EQ(result.exitCode, 0) << result.output;
  std::ifstream reportFile(folder / "report.json");
  const auto report = nlohmann::json::parse(reportFile);
  EXPECT_EQ(report["scans"].get<int>(), 6);
  EXPECT_TRUE(report["closed"].get<bool>());
  EXPECT_GT(report["triangles"].get<int>(), 1000);
  // 1.2 × the blob's extent (about 60 mm, bumps included) / 64.
  EXPECT_NEAR(report["voxel_size_mm"].get<double>(), 1.2 * 60.0 / 64, 0.4);
  EXPECT_TRUE(std::filesystem::exists(folder / "f.ply"));
  // A picture of the result beside it, drawn without any display.
  EXPECT_EQ(report["preview"], "preview.png");
  img::RGBImage preview;
  ASSERT_TRUE(img::LoadUniImage(preview, folder / "preview.png"));
  EXPECT_EQ(preview.width, 1280u);
  EXPECT_EQ(preview.height, 960u);
}

TEST(FuseCommand, BadInputIsAFailureAndBadOptionsAUsageError) {
  TempFolder folder;
  const std::string out = " --out " + Quoted(folder / "f.ply");
  EXPECT_EQ(RunTarvelin("fuse " + Quoted(folder / "missing.stl") + out).exitCode, 1);
  const surf::MeshArrays grid = surf::testing::MakeGrid(6, 5, false, 0, 0);
  ASSERT_TRUE(surf::SaveStl(folder / "flat.stl", grid));
  const std::string flat = Quoted(folder / "flat.stl");
  EXPECT_EQ(RunTarvelin("fuse " + flat + " --resolution 0" + out).exitCode, 2);
  EXPECT_EQ(RunTarvelin("fuse " + flat + " --resolution 100000" + out).exitCode, 2);
  EXPECT_EQ(RunTarvelin("fuse " + flat + " --out " + Quoted(folder / "f.xyz")).exitCode, 2);
  EXPECT_FALSE(std::filesystem::exists(folder / "f.ply"));
}

// A turntable run saved by `tarvelin scan` fuses with `tarvelin fuse`: two
// views of the vase half a turn apart need no placing (its 16 ribs make it
// look the same after half a turn), and tarvelinmesh scan files keep their
// texture, so the result is textured; its texture seams split vertices but
// leave the surface closed.
TEST(FuseCommand, FusesASavedRigRunWithItsTexture) {
  TempFolder folder;
  const Result scan = RunTarvelin(
      "scan --object vase --views 2 --step-deg 180 --scale 0.25 --texture --format tarvelinmesh --out " +
      Quoted(folder / "run"));
  ASSERT_EQ(scan.exitCode, 0) << scan.output;
  const Result fuse = RunTarvelin("fuse " + Quoted(folder / "run" / "scan_000.tarvelinmesh") + " " +
                                  Quoted(folder / "run" / "scan_001.tarvelinmesh") +
                                  " --texture --resolution 64 --close-holes-percent 100 --out " +
                                  Quoted(folder / "fused.tarvelinmesh"));
  ASSERT_EQ(fuse.exitCode, 0) << fuse.output;
  std::ifstream reportFile(folder / "report.json");
  const auto report = nlohmann::json::parse(reportFile);
  EXPECT_EQ(report["scans"].get<int>(), 2);
  EXPECT_TRUE(report["closed"].get<bool>());
  EXPECT_TRUE(report["textured"].get<bool>());
  // 1.2 × the seen height (about 118 of the vase's 120 mm) over 64 cells.
  EXPECT_NEAR(report["voxel_size_mm"].get<double>(), 1.2 * 118.0 / 64, 0.1);
  surf::GeoItem fused;
  ASSERT_TRUE(surf::LoadMesh(folder / "fused.tarvelinmesh", fused));
  EXPECT_FALSE(fused.textures.empty());
}

}  // namespace
