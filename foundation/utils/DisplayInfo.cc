#include "foundation/utils/DisplayInfo.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ostream>
#include <sstream>

namespace utils {
namespace {

std::string ConnectorText(std::int32_t code) {
  switch (code) {
    case connector::kVga:
      return "[VGA]";
    case connector::kSVideo:
      return "[SVideo]";
    case connector::kDvi:
      return "[DVI]";
    case connector::kHdmi:
      return "[HDMI]";
    case connector::kDisplayPortExternal:
    case connector::kDisplayPortEmbedded:
      return "[DisplayPort]";
    case connector::kInternal:
      return "[Internal]";
    default:
      return "[" + std::to_string(code) + "]";
  }
}

const char* OrientationText(int rotation) {
  switch (rotation) {
    case 1:
      return " (portrait)";
    case 2:
      return " (landscape flipped)";
    case 3:
      return " (portrait flipped)";
    default:
      return " (landscape)";
  }
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

std::ostream& operator<<(std::ostream& out, const DisplayInfo& d) {
  char exact[32];
  std::snprintf(exact, sizeof(exact), "%g", d.exactRefreshRate);
  out << d.index << ": '" << d.deviceName << "' " << d.width << "*" << d.height << " @ "
      << d.refreshRate << "Hz (" << exact << "Hz) work(" << d.workLeft << "," << d.workTop << ")-("
      << d.workRight << "," << d.workBottom << ") " << ConnectorText(d.connector)
      << OrientationText(d.rotation);
  if (d.primary) out << " PRIMARY";
  return out;
}

std::string ToString(const DisplayInfo& display) {
  std::ostringstream text;
  text << display;
  return text.str();
}

int GetDisplayTopologyId(const std::vector<DisplayInfo>& displays) {
  if (displays.empty()) return 0;
  for (std::size_t i = 0; i < displays.size(); ++i)
    for (std::size_t j = i + 1; j < displays.size(); ++j)
      if (displays[i].left == displays[j].left && displays[i].top == displays[j].top) return 2;
  if (displays.size() > 1) return 4;
  return displays.front().connector == connector::kInternal ? 1 : 8;
}

std::string TopologyIdToString(int id) {
  switch (id) {
    case 1:
      return "Internal only";
    case 2:
      return "Cloned";
    case 4:
      return "Extended";
    case 8:
      return "External only";
    default:
      return "unknown";
  }
}

std::int32_t ConnectorFromOutputName(const std::string& name) {
  std::string n = name;
  std::transform(n.begin(), n.end(), n.begin(),
                 [](unsigned char c) { return char(std::toupper(c)); });
  if (StartsWith(n, "EDP") || StartsWith(n, "LVDS") || StartsWith(n, "DSI"))
    return connector::kInternal;
  if (StartsWith(n, "HDMI")) return connector::kHdmi;
  if (StartsWith(n, "DP") || StartsWith(n, "DISPLAYPORT")) return connector::kDisplayPortExternal;
  if (StartsWith(n, "DVI")) return connector::kDvi;
  if (StartsWith(n, "VGA")) return connector::kVga;
  if (StartsWith(n, "TV") || StartsWith(n, "S-VIDEO")) return connector::kSVideo;
  return connector::kOther;
}

}  // namespace utils
