#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vid/V4l2Calls.h"

namespace vid {

// A video-capture device node.
struct VideoInputDevice {
  std::string path;     // "/dev/video0"
  std::string name;     // the card name: the friendly name camera descriptors match
  std::string driver;   // "uvcvideo"
  std::string busInfo;  // "usb-0000:00:14.0-1"
};

// The nodes that capture video by streaming (metadata and output nodes are
// left out), in node order. Nodes that cannot be opened are skipped.
std::vector<VideoInputDevice> EnumerateVideoInputDevices(V4l2Calls& calls);

// The device a name binds to: a node path, else the first device whose name
// equals it, else the first whose name contains it. Null when none.
const VideoInputDevice* FindVideoInputDevice(const std::vector<VideoInputDevice>& devices,
                                             const std::string& name);

}  // namespace vid
