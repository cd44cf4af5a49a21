#include "apps/tarvelin-studio/MonitorChoice.h"

namespace studio {

namespace {

int PrimaryIndex(const std::vector<utils::DisplayInfo>& displays) {
  for (std::size_t i = 0; i < displays.size(); ++i)
    if (displays[i].primary) return int(i);
  return 0;
}

}  // namespace

MonitorChoice ChooseProjectorMonitor(const std::vector<utils::DisplayInfo>& displays, int screenId,
                                     const Texts& texts, int mainWindowMonitor) {
  MonitorChoice choice;
  if (displays.empty()) {
    choice.warning = texts("Studio_Monitor_NoneConnected");
    return choice;
  }
  if (screenId >= 1 && screenId <= int(displays.size())) {
    choice.index = screenId - 1;
  } else {
    choice.index = PrimaryIndex(displays);
    choice.fallback = true;
    choice.warning =
        texts.Format("Studio_Monitor_Fallback",
                     {std::to_string(screenId), displays[std::size_t(choice.index)].deviceName});
    return choice;
  }
  if (choice.index == mainWindowMonitor) {
    choice.warning =
        texts.Format("Studio_Monitor_MainWindow", {displays[std::size_t(choice.index)].deviceName});
  }
  return choice;
}

std::string DescribeMonitor(const utils::DisplayInfo& display, int screenId, const Texts& texts) {
  std::string text =
      std::to_string(screenId) + ": " +
      (display.deviceName.empty() ? texts("Studio_Monitor_Unnamed") : display.deviceName) + " " +
      std::to_string(display.width) + "x" + std::to_string(display.height);
  if (display.refreshRate > 0) text += " @ " + std::to_string(display.refreshRate) + " Hz";
  text += " at (" + std::to_string(display.left) + ", " + std::to_string(display.top) + ")";
  if (display.primary) text += std::string(", ") + texts("Studio_Monitor_Primary");
  return text;
}

}  // namespace studio
