// The patterns and decode subcommands end to end: the rendered patterns,
// read back as camera frames, decode to the projector position of each pixel.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "apps/tarvelin/Commands.h"
#include "apps/tarvelin/Console.h"
#include "apps/tarvelin/FloatMap.h"
#include "foundation/img/ImageIO.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;

struct Folders {
  fs::path root = fs::temp_directory_path() / "tarvelin_commands_test";
  fs::path patterns = root / "patterns";
  fs::path frames = root / "frames";
  fs::path out = root / "out";

  Folders() { fs::remove_all(root); }
  // Frames are the patterns themselves: a camera that sees the projector pixel for pixel.
  void CopyPatternsToFrames() {
    fs::create_directories(frames);
    fs::copy_file(patterns / "scan.xml", frames / "scan.xml");
    for (std::uint32_t i = 0; fs::exists(NumberedFile(patterns, "pattern", i)); ++i) {
      fs::copy_file(NumberedFile(patterns, "pattern", i), NumberedFile(frames, "frame", i));
    }
  }
};

int Patterns(const Folders& f, const std::string& mode, const std::string& texture) {
  PatternsCommand command;
  command.projector = "160x120";
  command.settings.mode = mode;
  command.settings.gamma = 1.0;
  command.settings.texture = texture;
  command.out = f.patterns;
  return command.Run();
}

int Decode(const Folders& f) {
  DecodeCommand command;
  command.frames = f.frames;
  command.out = f.out;
  return command.Run();
}

void ExpectIdentity(const Folders& f) {
  img::UniImage<float> x, y, quality;
  std::string error;
  ASSERT_TRUE(LoadFloatMap(f.out / "correspondences_x.pfm", x, error)) << error;
  ASSERT_TRUE(LoadFloatMap(f.out / "correspondences_y.pfm", y, error)) << error;
  ASSERT_TRUE(LoadFloatMap(f.out / "quality.pfm", quality, error)) << error;
  ASSERT_EQ(x.width, 160u);
  // Sine values quantised to a third of a level: phase error well under 0.05 px.
  for (std::uint32_t r = 0; r < 120; ++r) {
    for (std::uint32_t c = 0; c < 160; ++c) {
      ASSERT_NEAR(x(c, r) * 160.0, c, 0.05) << c << "," << r;
      ASSERT_NEAR(y(c, r) * 120.0, r, 0.05) << c << "," << r;
    }
  }
  std::ifstream json(f.out / "report.json");
  const auto report = nlohmann::json::parse(json);
  EXPECT_EQ(report["image"]["width"], 160);
  EXPECT_GT(report["decoded_fraction"].get<double>(), 0.95);
  EXPECT_TRUE(report["seconds"].contains("evaluate"));
  EXPECT_TRUE(fs::exists(f.out / "correspondences_x_preview.png"));
}

TEST(Commands, CodedLightPatternsDecodeBackToProjectorPixels) {
  Folders f;
  ASSERT_EQ(Patterns(f, "coded", "grey"), kExitSuccess);
  f.CopyPatternsToFrames();
  ASSERT_EQ(Decode(f), kExitSuccess);
  ExpectIdentity(f);
  EXPECT_TRUE(fs::exists(f.out / "texture.png"));
}

TEST(Commands, PSKPatternsDecodeBackToProjectorPixels) {
  Folders f;
  ASSERT_EQ(Patterns(f, "psk", "none"), kExitSuccess);
  f.CopyPatternsToFrames();
  ASSERT_EQ(Decode(f), kExitSuccess);
  ExpectIdentity(f);
}

TEST(Commands, BadInputsFailWithExitCodeOne) {
  Folders f;
  ASSERT_EQ(Patterns(f, "coded", "none"), kExitSuccess);
  f.CopyPatternsToFrames();
  // A frame of another size.
  img::UniImage<img::uint8> small(80, 60);
  small = 0;
  ASSERT_TRUE(img::SavePNG(small, NumberedFile(f.frames, "frame", 5)));
  EXPECT_EQ(Decode(f), kExitFailure);
  // A missing frame.
  fs::remove(NumberedFile(f.frames, "frame", 5));
  EXPECT_EQ(Decode(f), kExitFailure);
  // An unreadable frame.
  std::ofstream(NumberedFile(f.frames, "frame", 5)) << "not a png";
  EXPECT_EQ(Decode(f), kExitFailure);
  // A scan.xml that does not parse.
  std::ofstream(f.frames / "scan.xml") << "<TarvelinScan version=\"1\"><Mode>";
  EXPECT_EQ(Decode(f), kExitFailure);

  PatternsCommand bad;
  bad.projector = "1920by1080";
  bad.out = f.root / "never";
  EXPECT_EQ(bad.Run(), kExitUsage);
  bad.projector = "64x48";
  bad.settings.shifts = 2;
  EXPECT_EQ(bad.Run(), kExitUsage);
}

}  // namespace
}  // namespace tarvelin
