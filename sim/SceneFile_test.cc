#include "sim/SceneFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>

#include "foundation/img/ImageIO.h"
#include "sim/RayCaster.h"

namespace sim {
namespace {

// The example of the scene-file format, with a mesh object.
const char* const kExample = R"({
  "version": 1,
  "objects": [
    {"type": "vase", "radius": 40, "height": 120, "ribs": 16, "rib_depth": 1.5,
     "position": [0, 0, 0], "rotation_deg": [0, 0, 0], "resolution": 2,
     "albedo": 0.8, "texture": {"checker": [16, 8], "albedo2": 0.3}},
    {"type": "sphere", "radius": 20, "position": [100, 0, 0], "resolution": 2},
    {"type": "torus", "major_radius": 40, "minor_radius": 15, "resolution": 2,
     "rotation_deg": [90, 0, 0], "position": [0, 200, 0]},
    {"type": "box", "size": [80, 60, 40], "chamfer": 5, "resolution": 5, "albedo": [0.9, 0.5, 0.1]},
    {"type": "blob", "radius": 45, "bumps": 12, "bump_height": 0.12, "bump_widths": [0.2, 0.4], "seed": 1,
     "resolution": 2},
    {"type": "mesh", "file": "part.ply", "scale": 2, "name": "part"}
  ],
  "panels": [{"size": [400, 300], "position": [0, 150, 0], "rotation_deg": [90, 0, 0],
              "albedo": 0.5}],
  "turntable": {"centre": [10, 0, 0], "axis": [0, 0, 1], "angle_deg": 30},
  "ambient_light": 0.05, "noise_sigma": 2, "latency_ms": 40, "frame_rate_hz": 30
}
)";

// A loader that returns one triangle with unit legs, whatever the path.
TriMesh LoadTriangle(const std::filesystem::path&) {
  TriMesh mesh;
  mesh.positions = {{0.f, 0.f, 0.f}, {1.f, 0.f, 0.f}, {0.f, 1.f, 0.f}};
  mesh.triangles = {{0u, 1u, 2u}};
  return mesh;
}

std::string ErrorOf(const std::string& text) {
  try {
    ParseSceneDescription(text, "t.json");
  } catch (const SceneFileError& e) {
    return e.what();
  }
  return "(no error)";
}

std::string BuildErrorOf(const std::string& text, const MeshLoader& loader = {}) {
  try {
    BuildScene(ParseSceneDescription(text, "t.json"), loader, "t.json");
  } catch (const SceneFileError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(SceneFile, ExampleParsesAndBuilds) {
  const SceneDescription d = ParseSceneDescription(kExample, "example", "/data/rigs");
  ASSERT_EQ(d.objects.size(), 6u);
  EXPECT_EQ(d.objects[0].kind, ObjectKind::kVase);
  EXPECT_EQ(d.objects[0].vase.ribs, 16);
  EXPECT_TRUE(d.objects[0].hasTexture);
  EXPECT_EQ(d.objects[0].texture.cellsS, 16);
  EXPECT_EQ(d.objects[3].albedo, Albedo(0.9f, 0.5f, 0.1f));
  EXPECT_EQ(d.objects[4].blob.seed, 1u);
  EXPECT_EQ(d.objects[4].blob.minBumpWidth, 0.2);
  EXPECT_EQ(d.objects[4].blob.maxBumpWidth, 0.4);
  EXPECT_EQ(d.objects[5].file, "part.ply");
  EXPECT_EQ(d.objects[5].name, "part");
  EXPECT_EQ(d.objects[1].name, "sphere");
  ASSERT_EQ(d.panels.size(), 1u);
  EXPECT_EQ(d.panels[0].spec.width, 400);
  EXPECT_EQ(d.turntableAngleDeg, 30);
  EXPECT_EQ(d.settings.frameRateHz, 30);
  EXPECT_EQ(d.baseDirectory, "/data/rigs");

  std::filesystem::path loaded;
  const Scene scene = BuildScene(d, [&](const std::filesystem::path& p) {
    loaded = p;
    return LoadTriangle(p);
  });
  EXPECT_EQ(loaded, std::filesystem::path("/data/rigs/part.ply"));
  ASSERT_EQ(scene.GetNumObjects(), 7u);
  EXPECT_EQ(scene.GetObject(5).kind, ObjectKind::kMesh);
  EXPECT_EQ(scene.GetObject(5).mesh.positions[1], math::Vec3f(2.f, 0.f, 0.f));  // scaled
  EXPECT_EQ(scene.GetObject(6).kind, ObjectKind::kPanel);
  EXPECT_FALSE(scene.GetObject(6).onTurntable);
  EXPECT_TRUE(scene.GetObject(1).onTurntable);
  // The sphere at (100, 0, 0) turned by 30° about the vertical through (10, 0, 0).
  const double a = std::numbers::pi / 6;
  const math::Vec3d centre = scene.GetObjectPose(1).GetTrans();
  EXPECT_NEAR(centre[0], 10 + 90 * std::cos(a), 1e-12);
  EXPECT_NEAR(centre[1], 90 * std::sin(a), 1e-12);
  // The panel stands still: rotated 90° about x, its normal is world −y.
  EXPECT_NEAR(scene.GetObjectPose(6).a()[1], -1, 1e-12);
  // The checker carries the albedo; the object's own albedo is then 1.
  EXPECT_EQ(scene.GetObject(0).albedo, Albedo(1.f, 1.f, 1.f));
  ASSERT_TRUE(scene.GetObject(0).mesh.texture);
  const Albedo cell = scene.GetObject(0).mesh.texture->Lookup(0.01f, 0.01f);
  EXPECT_NEAR(cell[0], 0.8f, 0.5f / 255);
  EXPECT_NEAR(cell[2], 0.8f, 0.5f / 255);
}

TEST(SceneFile, EmptyObjectGivesDefaults) {
  const SceneDescription d = ParseSceneDescription("{}", "t");
  EXPECT_TRUE(d.objects.empty());
  EXPECT_TRUE(d.panels.empty());
  EXPECT_EQ(d.turntableAxis, math::Vec3d(0, 0, 1));
  EXPECT_EQ(d.settings.ambientLight, RigSettings().ambientLight);
  EXPECT_EQ(d.settings.latencyMs, RigSettings().latencyMs);
  EXPECT_EQ(BuildScene(d).GetNumObjects(), 0u);
}

TEST(SceneFile, WriteThenParseGivesTheSameDescription) {
  SceneDescription d = ParseSceneDescription(kExample, "example");
  d.objects[2].hasTexture = true;
  d.objects[2].texture.file = "textures/wood.png";
  d.objects[4].blob.seed = 18446744073709551615ull;
  d.objects[1].albedo = Albedo(0.1f, 0.2f, 0.3f);
  d.settings.noiseSigma = 1.25;
  const std::string text = WriteSceneDescription(d);
  const SceneDescription back = ParseSceneDescription(text, "written");
  EXPECT_EQ(WriteSceneDescription(back), text);
  EXPECT_EQ(back.objects[4].blob.seed, 18446744073709551615ull);
  EXPECT_EQ(back.objects[4].blob.maxBumpWidth, 0.4);
  EXPECT_EQ(back.objects[1].albedo, d.objects[1].albedo);
  EXPECT_EQ(back.objects[2].texture.file, "textures/wood.png");
  EXPECT_EQ(back.objects[2].torus.minorRadius, 15);
  EXPECT_EQ(back.objects[2].rotationDeg, math::Vec3d(90, 0, 0));
  EXPECT_EQ(back.settings.noiseSigma, 1.25);
}

TEST(SceneFile, BadValuesNameTheirPlace) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"[1, 2]", "t.json: expected an object, got [1,2]"},
      {R"({"objects": [{"type": "sphere", "radus": 3}]})",
       "t.json: objects[0]: unknown key \"radus\" for a sphere (expected one of: type, name, "
       "position, rotation_deg, albedo, texture, resolution, radius)"},
      {R"({"objects": [{"type": "sphere", "radius": -3}]})",
       "t.json: objects[0].radius: must be a number > 0 and <= 100000, got -3"},
      {R"({"objects": [{"type": "sphere"}, {"type": "cube"}]})",
       "t.json: objects[1].type: unknown object type \"cube\" (expected sphere, torus, vase, box, "
       "blob or mesh)"},
      {R"({"objects": [{"radius": 3}]})", "t.json: objects[0]: missing \"type\""},
      {R"({"objects": [{"type": "vase", "ribs": 2.5}]})",
       "t.json: objects[0].ribs: expected an integer, got 2.5"},
      {R"({"objects": [{"type": "box", "albedo": 1.5}]})",
       "t.json: objects[0].albedo: must be a number >= 0 and <= 1, got 1.5"},
      {R"({"objects": [{"type": "box", "albedo": "red"}]})",
       "t.json: objects[0].albedo: expected a number or [r, g, b] in 0…1, got \"red\""},
      {R"({"objects": [{"type": "torus", "position": [1, 2]}]})",
       "t.json: objects[0].position: expected an array of 3 numbers, got [1,2]"},
      {R"({"objects": [{"type": "torus", "position": [1, "a", 3]}]})",
       "t.json: objects[0].position[1]: expected a number, got \"a\""},
      {R"({"objects": [{"type": "blob", "seed": -1}]})",
       "t.json: objects[0].seed: expected an integer >= 0, got -1"},
      {R"({"objects": [{"type": "blob", "bump_widths": [0.4, 0.2]}]})",
       "t.json: objects[0].bump_widths: the first width must not exceed the second"},
      {R"({"objects": [{"type": "mesh"}]})", "t.json: objects[0]: a mesh needs a \"file\""},
      {R"({"objects": [{"type": "mesh", "file": "a.ply", "resolution": 1}]})",
       "t.json: objects[0]: unknown key \"resolution\" for a mesh"},
      {R"({"objects": [{"type": "sphere", "texture": {"file": "a.png", "checker": [2, 2]}}]})",
       "t.json: objects[0].texture: expected either \"file\" or \"checker\""},
      {R"({"objects": [{"type": "sphere", "texture": {"checker": [2.5, 2]}}]})",
       "t.json: objects[0].texture.checker: expected two whole cell counts"},
      {R"({"objects": {"type": "sphere"}})", "t.json: objects: expected an array"},
      {R"({"panels": [{"size": [0, 10]}]})",
       "t.json: panels[0].size[0]: must be a number > 0 and <= 100000, got 0"},
      {R"({"turntable": {"axis": [0, 0, 0]}})", "t.json: turntable.axis: must not be zero"},
      {R"({"turntable": {"angle": 5}})", "t.json: turntable: unknown key \"angle\""},
      {R"({"version": 2})", "t.json: version: only version 1 is known, got 2"},
      {R"({"frame_rate_hz": 0})", "t.json: frame_rate_hz: must be a number > 0 and <= 1000, got 0"},
      {R"({"noise_sigma": null})", "t.json: noise_sigma: expected a number, got null"},
      {R"({"objects": [], "colour": 1})", "t.json: unknown key \"colour\""},
  };
  for (const auto& c : cases) {
    const std::string message = ErrorOf(c.text);
    EXPECT_EQ(message.rfind(c.message, 0), 0u) << c.text << "\n  gave: " << message;
  }
}

TEST(SceneFile, InvalidJsonReportsTheLine) {
  const std::string message = ErrorOf("{\n  \"objects\": [\n    {\"type\": \"sphere\",}\n  ]\n}");
  EXPECT_EQ(message.rfind("t.json: not valid JSON: ", 0), 0u) << message;
  EXPECT_NE(message.find("line 3"), std::string::npos) << message;
}

TEST(SceneFile, NumbersBeyondDoubleAreInvalidJson) {
  const std::string message = ErrorOf("{\"noise_sigma\": 5e5555}");
  EXPECT_EQ(message.rfind("t.json: not valid JSON: ", 0), 0u) << message;
}

TEST(SceneFile, ObjectsThatCannotBeBuiltNameTheirPlace) {
  EXPECT_EQ(BuildErrorOf(R"({"objects": [{"type": "sphere"},
                                         {"type": "torus", "major_radius": 10, "minor_radius": 12}]})"),
            "t.json: objects[1]: cannot build the torus: The radii must be positive, the minor "
            "radius below the major one.");
  EXPECT_EQ(
      BuildErrorOf(R"({"objects": [{"type": "box", "size": [10, 10, 10], "chamfer": 6}]})"),
      "t.json: objects[0]: cannot build the box: The chamfer must be in (0, smallest side / 2).");
  EXPECT_EQ(
      BuildErrorOf(R"({"objects": [{"type": "sphere", "radius": 10000, "resolution": 0.001}]})")
          .rfind("t.json: objects[0]: cannot build the sphere: Resolution 0.001", 0),
      0u);
  EXPECT_EQ(BuildErrorOf(R"({"objects": [{"type": "mesh", "file": "a.ply"}]})"),
            "t.json: objects[0]: mesh objects need a mesh-file reader");
  EXPECT_EQ(BuildErrorOf(R"({"objects": [{"type": "mesh", "file": "a.ply"}]})",
                         [](const std::filesystem::path&) -> TriMesh {
                           throw std::runtime_error("no such file");
                         }),
            "t.json: objects[0].file: cannot load the mesh \"a.ply\": no such file");
  EXPECT_EQ(BuildErrorOf(R"({"objects": [{"type": "mesh", "file": "a.ply",
                                          "texture": {"checker": [2, 2]}}]})",
                         LoadTriangle),
            "t.json: objects[0]: the mesh has no texture coordinates for a texture");
  EXPECT_EQ(BuildErrorOf(R"({"panels": [{"texture": {"file": "missing.png"}}]})"),
            "t.json: panels[0].texture.file: cannot read the image \"missing.png\"");
}

TEST(SceneFile, FilesResolveTexturesBesideThem) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("sim_scene_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  img::RGBImage image(2, 1);
  image(0, 0) = img::RGB8::FromRGB(255, 0, 0);
  image(1, 0) = img::RGB8::FromRGB(0, 0, 255);
  ASSERT_TRUE(img::SavePNG(image, dir / "stripes.png"));
  {
    std::ofstream out(dir / "scene.json");
    out << R"({"panels": [{"size": [100, 100], "albedo": 0.5, "texture": {"file": "stripes.png"}}]})";
  }
  const SceneDescription d = ReadSceneFile(dir / "scene.json");
  EXPECT_EQ(d.baseDirectory, dir);
  const RayCaster caster(BuildScene(d));
  // The two pixel centres of the texture: red and blue, scaled by the albedo 0.5.
  const Hit left = caster.Intersect({{-25, 0, 10}, {0, 0, -1}});
  EXPECT_EQ(left.albedo, Albedo(0.5f, 0.f, 0.f));
  const Hit right = caster.Intersect({{25, 0, 10}, {0, 0, -1}});
  EXPECT_EQ(right.albedo, Albedo(0.f, 0.f, 0.5f));

  try {
    ReadSceneFile(dir / "absent.json");
    ADD_FAILURE() << "no error for a missing file";
  } catch (const SceneFileError& e) {
    EXPECT_NE(std::string(e.what()).find("absent.json: cannot read the file"), std::string::npos);
  }
  std::filesystem::remove_all(dir);
}

TEST(SceneFile, TruncatedFilesAreRejected) {
  const std::string text = kExample;
  const std::size_t last = text.rfind('}');
  for (std::size_t n = 0; n < last; ++n) {
    EXPECT_THROW(ParseSceneDescription(text.substr(0, n), "t"), SceneFileError) << n;
  }
}

TEST(SceneFile, CorruptFilesFailCleanly) {
  const std::string text = kExample;
  std::mt19937_64 rng(17);
  const char junk[] = "{}[],:\"0123456789.-e \\\n\xff";
  int parsed = 0, rejected = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    std::string corrupt = text;
    const int edits = 1 + static_cast<int>(rng() % 3);
    for (int k = 0; k < edits; ++k) {
      const std::size_t at = rng() % corrupt.size();
      switch (rng() % 3) {
        case 0:
          corrupt[at] = junk[rng() % (sizeof(junk) - 1)];
          break;
        case 1:
          corrupt.erase(at, 1 + rng() % 8);
          break;
        default:
          corrupt.insert(at, 1, junk[rng() % (sizeof(junk) - 1)]);
          break;
      }
    }
    try {
      const SceneDescription d = ParseSceneDescription(corrupt, "t");
      // Whatever parses must also write and parse again.
      ParseSceneDescription(WriteSceneDescription(d), "t");
      ++parsed;
    } catch (const SceneFileError&) {
      ++rejected;
    }
  }
  EXPECT_GT(rejected, 1000);
  EXPECT_GT(parsed, 10);  // some edits (inside numbers or names) keep a valid file
}

}  // namespace
}  // namespace sim
