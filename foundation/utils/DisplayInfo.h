#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace utils {

// Connector codes of a display's output (the output technology).
namespace connector {
inline constexpr std::int32_t kOther = -1;
inline constexpr std::int32_t kVga = 0;
inline constexpr std::int32_t kSVideo = 1;
inline constexpr std::int32_t kDvi = 4;
inline constexpr std::int32_t kHdmi = 5;
inline constexpr std::int32_t kDisplayPortExternal = 10;
inline constexpr std::int32_t kDisplayPortEmbedded = 11;
inline constexpr std::int32_t kInternal = std::int32_t(0x80000000u);  // a laptop's own panel
}  // namespace connector

// One active monitor. Coordinates are pixels of the virtual desktop.
struct DisplayInfo {
  int index = 0;
  std::string deviceName;  // the output's name, e.g. "HDMI-1"
  int width = 0, height = 0;
  int refreshRate = 0;            // Hz, rounded
  double exactRefreshRate = 0.0;  // Hz, from the mode's timing where known
  int left = 0, top = 0;          // position of the monitor
  int workLeft = 0, workTop = 0, workRight = 0,
      workBottom = 0;  // work area (right, bottom exclusive)
  std::int32_t connector = connector::kOther;
  int rotation = 0;  // 0 landscape, 1 portrait, 2 landscape flipped, 3 portrait flipped
  bool primary = false;
};

// "0: 'HDMI-1' 1920*1080 @ 60Hz (59.94Hz) work(0,0)-(1920,1080) [HDMI] (landscape) PRIMARY".
std::ostream& operator<<(std::ostream& out, const DisplayInfo& display);
std::string ToString(const DisplayInfo& display);

// The active monitors (GLFW's, with X11 RandR details: rotation, exact
// refresh rate, connector), primary first then in GLFW's order. Empty when
// there is no display to ask (no X server): never an error.
std::vector<DisplayInfo> GetActiveDisplaysInfos();

// Topology ids: 1 internal only, 2 cloned, 4 extended, 8 external only; 0 when
// there are no displays.
int GetDisplayTopologyId(const std::vector<DisplayInfo>& displays);
// "Internal only", "Cloned", "Extended", "External only", any other "unknown".
std::string TopologyIdToString(int id);
// The connector an output's name implies: "HDMI-1" HDMI, "DP-2" DisplayPort,
// "eDP-1", "LVDS-1", "DSI-1" internal, "VGA-1" VGA, "DVI-D-0" DVI.
std::int32_t ConnectorFromOutputName(const std::string& name);

}  // namespace utils
