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
                                     int mainWindowMonitor) {
  MonitorChoice choice;
  if (displays.empty()) {
    choice.warning = "No monitor is connected: the pattern window cannot be shown.";
    return choice;
  }
  if (screenId >= 1 && screenId <= int(displays.size())) {
    choice.index = screenId - 1;
  } else {
    choice.index = PrimaryIndex(displays);
    choice.fallback = true;
    choice.warning = "Monitor " + std::to_string(screenId) +
                     " is not connected: the pattern window is on the " + "primary monitor " +
                     displays[std::size_t(choice.index)].deviceName +
                     ". Connect the projector or choose its monitor on the structured-light page.";
    return choice;
  }
  if (choice.index == mainWindowMonitor) {
    choice.warning = "The pattern window is on the monitor of the main window (" +
                     displays[std::size_t(choice.index)].deviceName +
                     ") and covers it while it shows patterns: choose the projector's monitor.";
  }
  return choice;
}

std::string DescribeMonitor(const utils::DisplayInfo& display, int screenId) {
  std::string text = std::to_string(screenId) + ": " +
                     (display.deviceName.empty() ? "monitor" : display.deviceName) + " " +
                     std::to_string(display.width) + "x" + std::to_string(display.height);
  if (display.refreshRate > 0) text += " @ " + std::to_string(display.refreshRate) + " Hz";
  text += " at (" + std::to_string(display.left) + ", " + std::to_string(display.top) + ")";
  if (display.primary) text += ", primary";
  return text;
}

}  // namespace studio
