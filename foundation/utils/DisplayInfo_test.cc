#include "foundation/utils/DisplayInfo.h"

#include <gtest/gtest.h>

namespace utils {
namespace {

DisplayInfo Monitor(const char* name, int left, std::int32_t code) {
  DisplayInfo d;
  d.deviceName = name;
  d.width = 1920, d.height = 1080;
  d.left = left;
  d.connector = code;
  return d;
}

TEST(DisplayInfo, TextFormNamesConnectorOrientationAndPrimary) {
  DisplayInfo d = Monitor("HDMI-1", 0, connector::kHdmi);
  d.refreshRate = 60;
  d.exactRefreshRate = 59.94;
  d.workRight = 1920, d.workBottom = 1050;
  d.primary = true;
  EXPECT_EQ(
      ToString(d),
      "0: 'HDMI-1' 1920*1080 @ 60Hz (59.94Hz) work(0,0)-(1920,1050) [HDMI] (landscape) PRIMARY");
  d.index = 1, d.primary = false, d.rotation = 3, d.connector = connector::kInternal;
  EXPECT_NE(ToString(d).find("[Internal] (portrait flipped)"), std::string::npos);
  d.connector = 11, d.rotation = 1;
  EXPECT_NE(ToString(d).find("[DisplayPort] (portrait)"), std::string::npos);
  d.connector = 7, d.rotation = 2;
  EXPECT_NE(ToString(d).find("[7] (landscape flipped)"), std::string::npos);
}

TEST(DisplayInfo, TopologyFromTheMonitors) {
  EXPECT_EQ(TopologyIdToString(3), "unknown");
  EXPECT_EQ(TopologyIdToString(GetDisplayTopologyId({})), "unknown");
  EXPECT_EQ(TopologyIdToString(GetDisplayTopologyId({Monitor("eDP-1", 0, connector::kInternal)})),
            "Internal only");
  EXPECT_EQ(TopologyIdToString(
                GetDisplayTopologyId({Monitor("DP-1", 0, connector::kDisplayPortExternal)})),
            "External only");
  EXPECT_EQ(TopologyIdToString(GetDisplayTopologyId({Monitor("eDP-1", 0, connector::kInternal),
                                                     Monitor("HDMI-1", 1920, connector::kHdmi)})),
            "Extended");
  EXPECT_EQ(TopologyIdToString(GetDisplayTopologyId({Monitor("eDP-1", 0, connector::kInternal),
                                                     Monitor("HDMI-1", 0, connector::kHdmi)})),
            "Cloned");
}

TEST(DisplayInfo, ConnectorsFromOutputNames) {
  EXPECT_EQ(ConnectorFromOutputName("eDP-1"), connector::kInternal);
  EXPECT_EQ(ConnectorFromOutputName("HDMI-A-0"), connector::kHdmi);
  EXPECT_EQ(ConnectorFromOutputName("DP-3"), connector::kDisplayPortExternal);
  EXPECT_EQ(ConnectorFromOutputName("DVI-D-1"), connector::kDvi);
  EXPECT_EQ(ConnectorFromOutputName("VGA-1"), connector::kVga);
  EXPECT_EQ(ConnectorFromOutputName("screen"), connector::kOther);
}

TEST(DisplayInfo, ActiveDisplaysAreConsistentOrEmptyWithoutAnXServer) {
  const auto displays = GetActiveDisplaysInfos();
  for (std::size_t i = 0; i < displays.size(); ++i) {
    EXPECT_EQ(displays[i].index, int(i));
    EXPECT_GT(displays[i].width, 0);
    EXPECT_LE(displays[i].workRight - displays[i].workLeft, displays[i].width);
  }
  if (!displays.empty()) {
    EXPECT_TRUE(displays.front().primary);
  }
  EXPECT_EQ(GetActiveDisplaysInfos().size(), displays.size()) << "GLFW may be asked again";
}

}  // namespace
}  // namespace utils
