// The display records from GLFW's monitors, with X11 RandR details.

#define GLFW_EXPOSE_NATIVE_X11
#include <GLFW/glfw3.h>
#include <GLFW/glfw3native.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <cmath>

#include "foundation/utils/DisplayInfo.h"

namespace utils {
namespace {

int g_lastError = 0;
void RememberError(int code, const char*) { g_lastError = code; }

int RotationIndex(Rotation rotation) {
  if (rotation & RR_Rotate_90) return 1;
  if (rotation & RR_Rotate_180) return 2;
  if (rotation & RR_Rotate_270) return 3;
  return 0;
}

// Rotation, exact refresh rate and output name of a monitor from RandR.
void AddRandrDetails(GLFWmonitor* monitor, DisplayInfo& info) {
  Display* display = glfwGetX11Display();
  const RRCrtc crtc = glfwGetX11Adapter(monitor);
  const RROutput output = glfwGetX11Monitor(monitor);
  if (!display || !crtc) return;
  XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display));
  if (!resources) return;
  if (XRRCrtcInfo* crtcInfo = XRRGetCrtcInfo(display, resources, crtc)) {
    info.rotation = RotationIndex(crtcInfo->rotation);
    for (int i = 0; i < resources->nmode; ++i) {
      const XRRModeInfo& mode = resources->modes[i];
      if (mode.id != crtcInfo->mode || !mode.hTotal || !mode.vTotal) continue;
      double lines = double(mode.vTotal);
      if (mode.modeFlags & RR_DoubleScan) lines *= 2.0;
      if (mode.modeFlags & RR_Interlace) lines /= 2.0;
      info.exactRefreshRate = double(mode.dotClock) / (double(mode.hTotal) * lines);
    }
    XRRFreeCrtcInfo(crtcInfo);
  }
  if (output) {
    if (XRROutputInfo* outputInfo = XRRGetOutputInfo(display, resources, output)) {
      info.connector = ConnectorFromOutputName(outputInfo->name);
      XRRFreeOutputInfo(outputInfo);
    }
  }
  XRRFreeScreenResources(resources);
}

}  // namespace

std::vector<DisplayInfo> GetActiveDisplaysInfos() {
  // GLFW may already run in this process (a viewer window): then it is left
  // running; otherwise it is started for the question and ended again.
  GLFWerrorfun previous = glfwSetErrorCallback(RememberError);
  g_lastError = 0;
  glfwGetPrimaryMonitor();
  const bool started = g_lastError == GLFW_NOT_INITIALIZED;
  std::vector<DisplayInfo> displays;
  if (started && glfwInit() != GLFW_TRUE) {
    glfwSetErrorCallback(previous);
    return displays;
  }
  int count = 0;
  GLFWmonitor** monitors = glfwGetMonitors(&count);
  GLFWmonitor* primary = glfwGetPrimaryMonitor();
  for (int i = 0; i < count; ++i) {
    GLFWmonitor* monitor = monitors[i];
    const GLFWvidmode* mode = glfwGetVideoMode(monitor);
    if (!mode) continue;
    DisplayInfo info;
    const char* name = glfwGetMonitorName(monitor);
    info.deviceName = name ? name : "";
    info.width = mode->width;
    info.height = mode->height;
    info.refreshRate = mode->refreshRate;
    info.exactRefreshRate = mode->refreshRate;
    glfwGetMonitorPos(monitor, &info.left, &info.top);
    int x = 0, y = 0, w = 0, h = 0;
    glfwGetMonitorWorkarea(monitor, &x, &y, &w, &h);
    info.workLeft = x, info.workTop = y, info.workRight = x + w, info.workBottom = y + h;
    info.connector = ConnectorFromOutputName(info.deviceName);
    info.primary = monitor == primary;
    AddRandrDetails(monitor, info);
    if (info.exactRefreshRate > 0.0) info.refreshRate = int(std::lround(info.exactRefreshRate));
    displays.push_back(info);
  }
  std::stable_partition(displays.begin(), displays.end(),
                        [](const DisplayInfo& d) { return d.primary; });
  for (std::size_t i = 0; i < displays.size(); ++i) displays[i].index = int(i);
  if (started) glfwTerminate();
  glfwSetErrorCallback(previous);
  return displays;
}

}  // namespace utils
