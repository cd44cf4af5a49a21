// `tarvelin rig-image`, `tarvelin target` and `tarvelin detect`, chained as
// a user chains them: each reads the files the one before wrote.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "foundation/img/ImageIO.h"
#include "foundation/utils/testing/TemporaryFolder.h"

#include "apps/tarvelin/testing/RunTarvelin.h"

namespace {

using ::testing::HasSubstr;

using Result = tarvelin::testing::CommandResult;
using tarvelin::testing::Quoted;
using tarvelin::testing::RunTarvelin;

nlohmann::json ReadJson(const std::filesystem::path& path) {
  std::ifstream file(path);
  return nlohmann::json::parse(file, nullptr, false);
}

// The detected node positions against truth.json's marks of one target.
void ExpectNodesOnTruth(const nlohmann::json& detection, const nlohmann::json& truth,
                        const std::string& target, std::size_t minimum) {
  std::map<std::pair<int, int>, std::array<double, 2>> marks;
  for (const auto& m : truth["marks"]) {
    if (m["target"] == target) marks[{m["node"][0], m["node"][1]}] = {m["image"][0], m["image"][1]};
  }
  ASSERT_TRUE(detection.contains("nodes"));
  std::size_t scored = 0;
  for (const auto& n : detection["nodes"]) {
    const auto it = marks.find({n["x"], n["y"]});
    if (it == marks.end()) continue;  // a mark not wholly in view
    ++scored;
    EXPECT_NEAR(double(n["image"][0]), it->second[0], 0.08);
    EXPECT_NEAR(double(n["image"][1]), it->second[1], 0.08);
  }
  EXPECT_GE(scored, minimum);
  EXPECT_EQ(scored, marks.size());
}

TEST(TargetCommands, RigImageOfAPlateIsDetectedOnItsTruth) {
  utils::testing::TemporaryFolder folder("targets");
  const Result rendered =
      RunTarvelin("rig-image --target plate --pose 40,30,10,600 --out " + Quoted(folder / "rig"));
  ASSERT_EQ(rendered.exitCode, 0) << rendered.output;
  const Result detected =
      RunTarvelin("detect " + Quoted(folder / "rig" / "image.png") + " --grid " +
                  Quoted(folder / "rig" / "plate.xml") + " --out " + Quoted(folder / "det"));
  ASSERT_EQ(detected.exitCode, 0) << detected.output;
  const nlohmann::json detection = ReadJson(folder / "det" / "detection.json");
  ExpectNodesOnTruth(detection, ReadJson(folder / "rig" / "truth.json"), "plate", 176);
  EXPECT_GE(detection["ellipses"].size(), 176u);
  EXPECT_EQ(detection["ellipses"][0].size(), 7u);  // cx cy rx ry theta_radians score normal
  EXPECT_TRUE(detection["messages"].empty());
  EXPECT_GT(double(detection["seconds"]), 0.0);
  // The plate points are the target file's marker centres.
  for (const auto& n : detection["nodes"]) {
    EXPECT_EQ(double(n["plate"][0]), 15.0 * int(n["x"]));
    EXPECT_EQ(double(n["plate"][1]), 15.0 * int(n["y"]));
  }
  img::RGBImage drawn;
  ASSERT_TRUE(img::LoadUniImage(drawn, folder / "det" / "detection.png"));
  EXPECT_EQ(drawn.width, 1280u);
}

TEST(TargetCommands, CornerPanelsAndTheirMirrorImage) {
  utils::testing::TemporaryFolder folder("targets");
  ASSERT_EQ(RunTarvelin("rig-image --target corner --out " + Quoted(folder / "rig")).exitCode, 0);
  const nlohmann::json truth = ReadJson(folder / "rig" / "truth.json");
  for (const std::string panel : {"corner-left", "corner-right"}) {
    const Result r = RunTarvelin("detect " + Quoted(folder / "rig" / "image.png") + " --grid " +
                                 panel + " --out " + Quoted(folder / panel));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    ExpectNodesOnTruth(ReadJson(folder / panel / "detection.json"), truth, panel, 140);
  }
  ASSERT_EQ(RunTarvelin("rig-image --target corner --mirror --out " + Quoted(folder / "mirrored"))
                .exitCode,
            0);
  const Result m = RunTarvelin("detect " + Quoted(folder / "mirrored" / "image.png") +
                               " --grid corner-left --out " + Quoted(folder / "m"));
  EXPECT_EQ(m.exitCode, 1);
  EXPECT_THAT(m.output, HasSubstr("Camera image seems to be mirrored!"));
}

// The printable page read back as a perfect scan of the print.
TEST(TargetCommands, PrintedPageIsDetectedWithItsTargetFile) {
  utils::testing::TemporaryFolder folder("targets");
  const Result page =
      RunTarvelin("target --type plate --dpi 100 --out " + Quoted(folder / "plate.png"));
  ASSERT_EQ(page.exitCode, 0) << page.output;
  ASSERT_EQ(
      RunTarvelin("target --type corner-right --out " + Quoted(folder / "right.svg")).exitCode, 0);
  std::ifstream svg(folder / "right.svg");
  const std::string text((std::istreambuf_iterator<char>(svg)), std::istreambuf_iterator<char>());
  EXPECT_THAT(text, HasSubstr("mm\" viewBox="));
  EXPECT_TRUE(std::filesystem::exists(folder / "right.xml"));
  const Result r = RunTarvelin("detect " + Quoted(folder / "plate.png") + " --grid " +
                               Quoted(folder / "plate.xml") + " --centre-mode 0 --out " +
                               Quoted(folder / "det"));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const nlohmann::json detection = ReadJson(folder / "det" / "detection.json");
  ASSERT_EQ(detection["nodes"].size(), 176u);
  // 100 dpi: node (x, y) lies at (15·x + margin) mm from the page corner.
  const double pixel = 25.4 / 100.0;
  for (const auto& n : detection["nodes"]) {
    const double x = (15.0 * int(n["x"]) + 15.0 + 4.0) / pixel - 0.5,
                 y = (15.0 * int(n["y"]) + 15.0 + 4.0) / pixel - 0.5;
    EXPECT_NEAR(double(n["image"][0]), x, 0.05);
    EXPECT_NEAR(double(n["image"][1]), y, 0.05);
  }
}

TEST(TargetCommands, BadInputFailsCleanly) {
  utils::testing::TemporaryFolder folder("targets");
  // Missing, tiny and blank images: a clear message, exit 1.
  EXPECT_EQ(RunTarvelin("detect " + Quoted(folder / "none.png") + " --out " + Quoted(folder / "a"))
                .exitCode,
            1);
  img::GreyImage tiny(1, 1);
  tiny.data[0] = 7;
  ASSERT_TRUE(img::SavePNG(tiny, folder / "tiny.png"));
  const Result t = RunTarvelin("detect " + Quoted(folder / "tiny.png") +
                               " --grid corner-left --out " + Quoted(folder / "b"));
  EXPECT_EQ(t.exitCode, 1);
  EXPECT_THAT(t.output, HasSubstr("no circular marks found"));
  img::GreyImage white(640, 480);
  std::fill(white.data, white.data + white.size, std::uint8_t(255));
  ASSERT_TRUE(img::SavePNG(white, folder / "white.png"));
  const Result w = RunTarvelin("detect " + Quoted(folder / "white.png") +
                               " --grid corner-left --out " + Quoted(folder / "c"));
  EXPECT_EQ(w.exitCode, 1);
  EXPECT_THAT(w.output, HasSubstr("overexposed"));
  const nlohmann::json report = ReadJson(folder / "c" / "report.json");
  EXPECT_FALSE(bool(report["ok"]));
  // A target file of another type and one with broken numbers.
  std::ofstream(folder / "corner.xml") << "<calibrationTarget type=\"Corner\"/>";
  const Result c = RunTarvelin("detect " + Quoted(folder / "white.png") + " --grid " +
                               Quoted(folder / "corner.xml") + " --out " + Quoted(folder / "d"));
  EXPECT_EQ(c.exitCode, 1);
  EXPECT_THAT(c.output, HasSubstr("CalibType is not FlatPlate: Corner"));
  std::ofstream(folder / "broken.xml")
      << "<calibrationTarget type=\"FlatPlate\"><grid countX=\"1e\" countY=\"3\" "
         "spacing=\"10\" background=\"white\"/></calibrationTarget>";
  const Result b = RunTarvelin("detect " + Quoted(folder / "white.png") + " --grid " +
                               Quoted(folder / "broken.xml") + " --out " + Quoted(folder / "e"));
  EXPECT_EQ(b.exitCode, 1);
  EXPECT_THAT(b.output, HasSubstr("grid countX: must be an integer, got \"1e\""));
  // Usage errors: exit 2.
  EXPECT_EQ(RunTarvelin("detect " + Quoted(folder / "white.png") + " --grid nothing --out " +
                        Quoted(folder / "f"))
                .exitCode,
            2);
  EXPECT_EQ(RunTarvelin("target --type plate --out " + Quoted(folder / "page.pdf")).exitCode, 2);
  EXPECT_EQ(RunTarvelin("rig-image --target plate --pose 95,0,0,600 --out " + Quoted(folder / "g"))
                .exitCode,
            2);
  EXPECT_EQ(RunTarvelin("detect " + Quoted(folder / "white.png") + " --centre-mode 3 --out " +
                        Quoted(folder / "h"))
                .exitCode,
            2);
}

}  // namespace
