#include "cam/FlatPlateCalibrationTarget.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "foundation/utils/testing/TemporaryFolder.h"

namespace cam {
namespace {

// Four markers from grid index (2, 3): the inverted ones are rings.
const char* kSmall = R"(<?xml version="1.0"?>
<calibrationTarget type="FlatPlate" id="small" timestamp="2024-02-29">
  <grid countX="2" countY="2" spacing="12.5" background="White"/>
  <markers type="Circles">
    <marker tolerance="0.1" color="Black"><gridIndex x="2" y="3"/><center x="0" y="0" z="0"/><diameter inner="6" outer="10"/></marker>
    <marker tolerance="0.1" color="black"><gridIndex x="3" y="3"/><center x="12.5" y="0" z="0"/><diameter inner="6" outer="10"/></marker>
    <marker tolerance="0.1" color="black"><gridIndex x="2" y="4"/><center x="0" y="12.5" z="0"/><diameter inner="6" outer="10"/></marker>
    <marker tolerance="0.2" color="green"><gridIndex x="3" y="4"/><center x="12.5" y="12.5" z="0.5"/><diameter inner="0" outer="6"/></marker>
  </markers>
</calibrationTarget>)";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const auto at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return text.replace(at, from.size(), to);
}

TEST(FlatPlateCalibrationTarget, ReadsEveryAttributeAndTheGridOrigin) {
  const auto t = FlatPlateCalibrationTarget::Parse(kSmall, "small.xml");
  EXPECT_EQ(t.id, "small");
  EXPECT_EQ(t.timestamp, std::chrono::year_month_day(std::chrono::year(2024), std::chrono::February,
                                                     std::chrono::day(29)));
  EXPECT_EQ(t.countX, 2);
  EXPECT_EQ(t.countY, 2);
  EXPECT_EQ(t.spacing, 12.5);
  EXPECT_EQ(t.background, TargetColor::kWhite);
  ASSERT_EQ(t.markers.size(), 4u);
  EXPECT_EQ(t.GetGridOrigin(), (math::Vec2i{2, 3}));
  const FlatPlateMarker& m = t.markers.at({3, 4});
  EXPECT_EQ(m.center, (math::Vec3d{12.5, 12.5, 0.5}));
  EXPECT_EQ(m.innerDiameter, 0.0);
  EXPECT_EQ(m.outerDiameter, 6.0);
  EXPECT_EQ(m.tolerance, 0.2);
  EXPECT_EQ(m.color, TargetColor::kGreen);
  // The marker cell relative to the origin: rings at (0, 0), (1, 0), (0, 1).
  img::GridMarkerCell cell;
  ASSERT_TRUE(t.GetMarkerCell(cell));
  EXPECT_EQ(cell.corner, (math::Vec2i{0, 0}));
  EXPECT_EQ(cell.first, (math::Vec2i{1, 0}));
  EXPECT_EQ(cell.second, (math::Vec2i{0, 1}));
}

TEST(FlatPlateCalibrationTarget, WritesWhatItReads) {
  const auto t = FlatPlateCalibrationTarget::Parse(kSmall, "small.xml");
  utils::testing::TemporaryFolder folder("target");
  const auto path = folder / "copy.xml";
  ASSERT_TRUE(t.Save(path));
  const FlatPlateCalibrationTarget back(path);
  EXPECT_EQ(back.ToXml(), t.ToXml());
  EXPECT_EQ(back.timestamp, t.timestamp);
  EXPECT_EQ(back.markers.at({2, 4}).center, t.markers.at({2, 4}).center);
  EXPECT_THAT(t.ToXml(), ::testing::HasSubstr("background=\"white\""));
}

TEST(FlatPlateCalibrationTarget, AnotherTypeThrowsWithTheTypeInTheMessage) {
  try {
    FlatPlateCalibrationTarget::Parse(Replace(kSmall, "FlatPlate", "Corner"), "x.xml");
    FAIL() << "no exception";
  } catch (const TargetFileError& e) {
    EXPECT_STREQ(e.what(), "CalibType is not FlatPlate: Corner");
  }
}

TEST(FlatPlateCalibrationTarget, OtherMarkerTypeIsReportedButRead) {
  std::ostringstream captured;
  auto* old = std::cerr.rdbuf(captured.rdbuf());
  const auto t =
      FlatPlateCalibrationTarget::Parse(Replace(kSmall, "\"Circles\"", "\"Squares\""), "x.xml");
  std::cerr.rdbuf(old);
  EXPECT_EQ(captured.str(), "Marker type is not Circles, it is: Squares\n");
  EXPECT_EQ(t.markers.size(), 4u);
}

TEST(FlatPlateCalibrationTarget, BrokenFilesNameTheFileAndTheFault) {
  const std::pair<std::string, std::string> cases[] = {
      {Replace(kSmall, "countX=\"2\"", "countX=\"two\""),
       "grid countX: must be an integer, got \"two\""},
      {Replace(kSmall, "countY=\"2\"", "countY=\"1\""),
       "grid countY: must be an integer >= 2, got \"1\""},
      {Replace(kSmall, "spacing=\"12.5\"", "spacing=\"1e999\""), "grid spacing: must be a number"},
      {Replace(kSmall, "spacing=\"12.5\"", "spacing=\"0\""),
       "grid spacing: must be greater than 0"},
      {Replace(kSmall, "background=\"White\"", "background=\"grey\""),
       "grid background: must be black, green, blue or white"},
      {Replace(kSmall, "2024-02-29", "2023-02-29"), "timestamp: must be a date YYYY-MM-DD"},
      {Replace(kSmall, "inner=\"0\" outer=\"6\"", "inner=\"0\" outer=\"-6\""),
       "marker 3 diameter outer: must be at least 0"},
      {Replace(kSmall, "inner=\"0\" outer=\"6\"", "inner=\"7\" outer=\"6\""),
       "marker 3 diameter: outer must be larger than inner"},
      {Replace(kSmall, "<gridIndex x=\"3\" y=\"4\"/>", "<gridIndex x=\"2\" y=\"3\"/>"),
       "marker 3: a second marker on grid index (2, 3)"},
      {Replace(kSmall, "<gridIndex x=\"3\" y=\"4\"/>", "<gridIndex x=\"4\" y=\"4\"/>"),
       "lies outside the grid"},
      {Replace(kSmall, "<center x=\"12.5\" y=\"0\" z=\"0\"/>", ""),
       "marker 1: needs gridIndex, center and diameter"},
      {Replace(kSmall, "<grid ", "<grit "), "no grid element"},
      {std::string(kSmall).substr(0, 300), "not a target file"},
      {"", "not a target file"},
  };
  for (const auto& [text, message] : cases) {
    try {
      FlatPlateCalibrationTarget::Parse(text, "bad.xml");
      ADD_FAILURE() << "accepted: " << message;
    } catch (const TargetFileError& e) {
      EXPECT_THAT(e.what(), ::testing::StartsWith("bad.xml: "));
      EXPECT_THAT(e.what(), ::testing::HasSubstr(message));
    }
  }
  EXPECT_THROW(FlatPlateCalibrationTarget("/nonexistent/target.xml"), TargetFileError);
}

TEST(FlatPlateCalibrationTarget, InvertedMarksDependOnTheColours) {
  auto t = FlatPlateCalibrationTarget::Parse(kSmall, "small.xml");
  EXPECT_TRUE(t.IsInverted(t.markers.at({2, 3})));   // black ring: its white hole is seen
  EXPECT_FALSE(t.IsInverted(t.markers.at({3, 4})));  // green disc on white
  t.background = TargetColor::kBlack;                // on black a green disc is light
  EXPECT_TRUE(t.IsInverted(t.markers.at({3, 4})));
  img::GridMarkerCell cell;
  EXPECT_FALSE(t.GetMarkerCell(cell));  // now the fourth is inverted as well
}

TEST(FlatPlateCalibrationTarget, ShippedTargetsRead) {
  for (const char* name : {"plate.xml", "corner-left.xml", "corner-right.xml"}) {
    const FlatPlateCalibrationTarget t(std::filesystem::path(TARVELIN_SHARE_DIR) / "targets" /
                                       name);
    EXPECT_EQ(std::size_t(t.countX * t.countY), t.markers.size()) << name;
    img::GridMarkerCell cell;
    EXPECT_TRUE(t.GetMarkerCell(cell)) << name;
  }
}

}  // namespace
}  // namespace cam
