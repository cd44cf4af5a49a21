#include <gtest/gtest.h>

#include <filesystem>
#include <cstring>
#include <fstream>

#include "apps/tarvelin/FloatMap.h"
#include "apps/tarvelin/ScanSettings.h"

namespace tarvelin {
namespace {

std::filesystem::path TempFile(const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path() / "tarvelin_cli_test";
  std::filesystem::create_directories(dir);
  return dir / name;
}

std::string Read(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

TEST(ScanSettings, XmlRoundTripRebuildsTheSameScan) {
  ScanSettings s;
  s.projectorWidth = 800;
  s.projectorHeight = 600;
  s.mode = "psk";
  s.period = 20;
  s.shifts = 5;
  s.inverse = false;
  s.orientation = "horizontal";
  s.symbols = 3;
  s.shiftsPerLevel = 3;
  s.texture = "colour";
  s.brightness = 200;
  s.gamma = 1.8;
  s.minContrast = 7.5;
  const auto scan = BuildScan(s);
  const auto path = TempFile("roundtrip.xml");
  ASSERT_TRUE(SaveScanSettings(s, scan->PatternCount(), path));
  ScanSettings loaded;
  std::uint32_t count = 0;
  std::string error;
  ASSERT_TRUE(LoadScanSettings(path, loaded, count, error)) << error;
  EXPECT_EQ(count, scan->PatternCount());
  EXPECT_EQ(loaded.mode, "psk");
  EXPECT_EQ(loaded.projectorWidth, 800u);
  EXPECT_FALSE(loaded.inverse);
  EXPECT_EQ(loaded.orientation, "horizontal");
  EXPECT_EQ(loaded.texture, "colour");
  EXPECT_DOUBLE_EQ(loaded.gamma, 1.8);
  EXPECT_DOUBLE_EQ(loaded.minContrast, 7.5);
  const auto rebuilt = BuildScan(loaded);
  ASSERT_EQ(rebuilt->PatternCount(), scan->PatternCount());
  // Horizontal PSK: 5 shifts + (⌈log3(2·800/20) + 1⌉ − 1)·3 = 5 + 4·3, plus one texture pattern.
  EXPECT_EQ(scan->PatternCount(), 5u + 12u + 1u);
  EXPECT_EQ(rebuilt->AllPatterns().front()->GetBrightness(), 200);
  EXPECT_DOUBLE_EQ(rebuilt->AllPatterns().front()->GetGamma(), 1.0 / 1.8);
}

TEST(ScanSettings, TruncatedAndCorruptFilesAreRejectedWithAReason) {
  ScanSettings s;
  const auto good = TempFile("good.xml");
  ASSERT_TRUE(SaveScanSettings(s, BuildScan(s)->PatternCount(), good));
  const std::string text = Read(good);
  ScanSettings loaded;
  std::uint32_t count = 0;
  std::string error;
  const auto bad = TempFile("bad.xml");
  // Every truncation fails (the last element is the pattern count).
  for (std::size_t cut = 0; cut + 20 < text.size(); cut += 7) {
    Write(bad, text.substr(0, cut));
    EXPECT_FALSE(LoadScanSettings(bad, loaded, count, error)) << cut;
    EXPECT_FALSE(error.empty());
  }
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string t = text;
    t.replace(t.find(from), from.size(), to);
    Write(bad, t);
    error.clear();
    return LoadScanSettings(bad, loaded, count, error);
  };
  EXPECT_FALSE(replaced("<Period>16</Period>", "<Period>16px</Period>"));
  EXPECT_NE(error.find("Period"), std::string::npos);
  EXPECT_FALSE(replaced("<Mode>coded</Mode>", "<Mode>laser</Mode>"));
  EXPECT_NE(error.find("mode"), std::string::npos);
  EXPECT_FALSE(replaced("<Shifts>4</Shifts>", "<Shifts>-4</Shifts>"));
  EXPECT_FALSE(replaced("<Inverse>true</Inverse>", "<Inverse>yes</Inverse>"));
  EXPECT_FALSE(replaced("version=\"1\"", "version=\"2\""));
  EXPECT_FALSE(replaced("<MinContrast>5</MinContrast>", "<MinContrast>nan</MinContrast>"));
  EXPECT_FALSE(replaced("<Gamma>2.2", "<Gamma>22"));  // gamma 22 is out of range
  EXPECT_FALSE(replaced("width=\"1920\"", "width=\"0\""));
  EXPECT_TRUE(replaced("<Shifts>4</Shifts>", "<Shifts> 4 </Shifts>"));
  EXPECT_FALSE(LoadScanSettings(TempFile("missing.xml"), loaded, count, error));
}

TEST(FloatMap, RoundTripAndBadFiles) {
  img::UniImage<float> image(3, 2);
  for (std::int32_t j = 0; j < image.size; ++j) image.data[j] = 0.25f * float(j) - 0.5f;
  const auto path = TempFile("map.pfm");
  ASSERT_TRUE(SaveFloatMap(image, path));
  const std::string bytes = Read(path);
  EXPECT_EQ(bytes.substr(0, 12), "Pf\n3 2\n-1.0\n");
  // Bottom row first.
  float first;
  std::memcpy(&first, bytes.data() + 12, 4);
  EXPECT_EQ(first, image(0, 1));
  img::UniImage<float> loaded;
  std::string error;
  ASSERT_TRUE(LoadFloatMap(path, loaded, error)) << error;
  ASSERT_TRUE(loaded.SameSize(image));
  for (std::int32_t j = 0; j < image.size; ++j) EXPECT_EQ(loaded.data[j], image.data[j]);

  // Big-endian data with a positive scale.
  std::string big = "Pf\n3 2\n1.0\n";
  for (std::uint32_t y = 2; y-- > 0;) {
    for (std::uint32_t x = 0; x < 3; ++x) {
      std::uint32_t bits;
      std::memcpy(&bits, &image(x, y), 4);
      bits = __builtin_bswap32(bits);
      big.append(reinterpret_cast<const char*>(&bits), 4);
    }
  }
  Write(path, big);
  ASSERT_TRUE(LoadFloatMap(path, loaded, error));
  EXPECT_EQ(loaded(2, 1), image(2, 1));

  for (const std::string& bad : {bytes.substr(0, bytes.size() - 1), std::string("PF\n3 2\n-1.0\n"),
                                 std::string("Pf\n-3 2\n-1.0\n"), std::string("Pf\n3 2\n0\n"), std::string()}) {
    Write(path, bad);
    EXPECT_FALSE(LoadFloatMap(path, loaded, error));
  }
}

TEST(FloatMap, PreviewsMarkInvalidPixelsBlack) {
  img::UniImage<float> values(4, 1);
  values.data[0] = 0.0f;
  values.data[1] = 1.0f;
  values.data[2] = -0.1f;
  values.data[3] = 0.5f;
  img::UniImage<float> mask(4, 1);
  mask = 1.0f;
  mask.data[3] = 0.0f;
  const auto preview = FalseColour(values, 0.0f, 1.0f, &mask);
  EXPECT_EQ(preview.data[0], img::RGB8::FromRGB(0, 0, 255));
  EXPECT_EQ(preview.data[1], img::RGB8::FromRGB(255, 0, 0));
  EXPECT_EQ(preview.data[2], img::RGB8{});
  EXPECT_EQ(preview.data[3], img::RGB8{});
  EXPECT_EQ(GreyPreview(values).data[3], 127);
}

}  // namespace
}  // namespace tarvelin
