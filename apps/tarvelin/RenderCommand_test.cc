// `tarvelin render` as a user runs it: no display (DISPLAY unset), any mesh
// file, the colour modes, old OpenGL versions and bad input.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "foundation/img/ImageIO.h"
#include "surf/files/MeshFormats.h"
#include "surf/files/StlFile.h"
#include "surf/testing/TestMeshes.h"

namespace {

using surf::testing::TempFolder;

struct Result {
  int exitCode = -1;
  std::string output;
};

// Runs tarvelin with no X display; env is put before the command.
Result RunTarvelin(const std::string& arguments, const std::string& env = "") {
  const std::string command =
      "env -u DISPLAY -u WAYLAND_DISPLAY " + env + " " + std::string(TARVELIN_BINARY) + " " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  Result result;
  if (!pipe) return result;
  std::array<char, 4096> buffer;
  while (std::size_t n = fread(buffer.data(), 1, buffer.size(), pipe)) result.output.append(buffer.data(), n);
  const int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string Quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

// A sphere of radius 40 mm at (10, 20, 30) with per-vertex deviations
// (qualities are not stored by STL, so it goes through the own format).
surf::MeshArrays MakeSphere() {
  surf::MeshArrays mesh;
  const int segments = 48, rings = 24;
  for (int i = 0; i <= rings; ++i) {
    for (int j = 0; j < segments; ++j) {
      const double t = std::numbers::pi * i / rings, p = 2 * std::numbers::pi * j / segments;
      mesh.positions.push_back({static_cast<float>(10 + 40 * std::sin(t) * std::cos(p)),
                                static_cast<float>(20 + 40 * std::sin(t) * std::sin(p)),
                                static_cast<float>(30 + 40 * std::cos(t))});
    }
  }
  for (int i = 0; i < rings; ++i) {
    for (int j = 0; j < segments; ++j) {
      const std::uint32_t a = i * segments + j, b = i * segments + (j + 1) % segments, c = a + segments,
                          d = b + segments;
      mesh.indices.insert(mesh.indices.end(), {a, c, b, b, c, d});  // outward
    }
  }
  return mesh;
}

img::RGBImage Load(const std::filesystem::path& path) {
  img::RGBImage image;
  EXPECT_TRUE(img::LoadUniImage(image, path)) << path;
  return image;
}

// Background pixels are the view's dark grey; the object is anything else.
std::size_t ObjectPixels(const img::RGBImage& image) {
  const img::RGB8 background = image(0, 0);
  std::size_t n = 0;
  for (std::size_t i = 0; i < std::size_t(image.width) * image.height; ++i) n += !(image.data[i] == background);
  return n;
}

TEST(RenderCommand, DrawsMeshFilesWithoutADisplay) {
  TempFolder folder;
  ASSERT_TRUE(surf::SaveStl(folder / "sphere.stl", MakeSphere()));
  Result result = RunTarvelin("render " + Quoted(folder / "sphere.stl") + " --width 320 --height 240 --out " +
                      Quoted(folder / "sphere.png"));
  ASSERT_EQ(result.exitCode, 0) << result.output;
  EXPECT_NE(result.output.find("INFO: OpenGL "), std::string::npos) << result.output;
  const img::RGBImage image = Load(folder / "sphere.png");
  ASSERT_EQ(image.width, 320u);
  ASSERT_EQ(image.height, 240u);
  // The view fits the sphere of the bounding box (radius 40√3) into the 45°
  // field of view with 2 % to spare; the sphere's own disc has the radius
  // f·tan(asin(40 / d)).
  const double half = std::numbers::pi / 8, f = 120.0 / std::tan(half);
  const double d = 40.0 * std::sqrt(3.0) / std::sin(half) * 1.02;
  const double r = f * std::tan(std::asin(40.0 / d));
  EXPECT_NEAR(static_cast<double>(ObjectPixels(image)), std::numbers::pi * r * r, 2 * std::numbers::pi * r);
  EXPECT_FALSE(image(160, 120) == image(0, 0));

  // Files made from it by other commands draw the same way.
  ASSERT_EQ(RunTarvelin("convert " + Quoted(folder / "sphere.stl") + " " + Quoted(folder / "sphere.obj")).exitCode, 0);
  result = RunTarvelin("render " + Quoted(folder / "sphere.obj") + " --colour normals --azimuth 90 --elevation 0 --width 320 "
               "--height 240 --out " + Quoted(folder / "normals.png"));
  ASSERT_EQ(result.exitCode, 0) << result.output;
  // Seen from +x (azimuth 90) the middle of the sphere faces +x: (r, g, b) ≈ (255, 128, 128).
  const img::RGB8 middle = Load(folder / "normals.png")(160, 120);
  EXPECT_GT(middle.r, 240);
  EXPECT_NEAR(middle.g, 128, 12);
  EXPECT_NEAR(middle.b, 128, 12);
}

TEST(RenderCommand, TexturedMeshShowsItsTexture) {
  TempFolder folder;
  const surf::MeshArrays grid = surf::testing::MakeGrid(6, 5, true, 8, 8);
  ASSERT_TRUE(surf::SaveObj(folder / "grid.obj", grid));
  const Result result = RunTarvelin("render " + Quoted(folder / "grid.obj") + " --colour texture --elevation 90 --width 200 "
                            "--height 200 --out " + Quoted(folder / "grid.png"));
  ASSERT_EQ(result.exitCode, 0) << result.output;
  EXPECT_GT(ObjectPixels(Load(folder / "grid.png")), 1000u);
}

TEST(RenderCommand, OldOpenGlVersionsStillDraw) {
  TempFolder folder;
  ASSERT_TRUE(surf::SaveStl(folder / "sphere.stl", MakeSphere()));
  for (const char* version : {"1.4", "1.1"}) {
    const std::filesystem::path out = folder / (std::string("v") + version + ".png");
    const Result result = RunTarvelin("render " + Quoted(folder / "sphere.stl") + " --width 160 --height 120 --out " +
                                  Quoted(out),
                              std::string("MESA_GL_VERSION_OVERRIDE=") + version);
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find(std::string("INFO: OpenGL ") + version + " supported."), std::string::npos)
        << result.output;
    EXPECT_GT(ObjectPixels(Load(out)), 3000u) << version;  // a disc of about 32 pixels radius
  }
}

TEST(RenderCommand, BadInputGivesTheReasonAndAnExitCode) {
  TempFolder folder;
  ASSERT_TRUE(surf::SaveStl(folder / "sphere.stl", MakeSphere()));
  const std::string out = " --out " + Quoted(folder / "out.png");
  Result result = RunTarvelin("render " + Quoted(folder / "missing.stl") + out);
  EXPECT_EQ(result.exitCode, 1) << result.output;
  result = RunTarvelin("render " + Quoted(folder / "sphere.stl") + " --colour texture" + out);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.output.find("has no texture"), std::string::npos) << result.output;
  result = RunTarvelin("render " + Quoted(folder / "sphere.stl") + " --colour deviation" + out);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.output.find("no per-vertex deviations"), std::string::npos) << result.output;
  surf::testing::WriteFileBytes(folder / "empty.stl", std::string(80, ' ') + std::string(4, '\0'));
  result = RunTarvelin("render " + Quoted(folder / "empty.stl") + out);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.output.find("Error: "), std::string::npos) << result.output;
  EXPECT_FALSE(std::filesystem::exists(folder / "out.png"));
  EXPECT_EQ(RunTarvelin("render " + Quoted(folder / "sphere.stl") + " --out " + Quoted(folder / "out.jpg")).exitCode, 2);
  EXPECT_EQ(RunTarvelin("render " + Quoted(folder / "sphere.stl") + " --colour purple" + out).exitCode, 2);
  EXPECT_EQ(RunTarvelin("render " + Quoted(folder / "sphere.stl") + " --width 5" + out).exitCode, 2);
  EXPECT_EQ(RunTarvelin("render " + Quoted(folder / "notes.txt") + out).exitCode, 2);
}

}  // namespace
