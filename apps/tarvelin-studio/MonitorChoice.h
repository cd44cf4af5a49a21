#pragma once

#include <string>
#include <vector>

#include "apps/tarvelin-studio/StudioTexts.h"
#include "foundation/utils/DisplayInfo.h"

namespace studio {

// Which monitor the projector's pattern window goes to.
struct MonitorChoice {
  int index = -1;         // into the display list; −1: none
  bool fallback = false;  // the chosen monitor is missing: the primary instead
  std::string warning;    // empty when all is as chosen
};

// screenId (ProjectorSetup/ScreenID) counts the monitors from 1 in the
// order of utils::GetActiveDisplaysInfos (primary first). A screen that
// does not exist (unplugged) gives the primary monitor with a warning; no
// monitor at all gives −1. mainWindowMonitor (an index, −1: unknown) is the
// monitor of the main window: a projector window there hides it, which is
// worth a warning too.
MonitorChoice ChooseProjectorMonitor(const std::vector<utils::DisplayInfo>& displays, int screenId,
                                     const Texts& texts, int mainWindowMonitor = -1);

// The list entry of a monitor for the projector choice: "1: HDMI-1 1920×1080
// @ 60 Hz at (1920, 0)".
std::string DescribeMonitor(const utils::DisplayInfo& display, int screenId, const Texts& texts);

}  // namespace studio
