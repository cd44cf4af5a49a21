#pragma once

#include <string>
#include <vector>

#include "vid/SetupInfo.h"

namespace sls {

// The camera and projector kits the generic scanner serves, by product
// name. Every call builds its descriptors afresh, so a change of product
// takes effect at the next call.

// The kit cameras; the names are fragments of the device names they match.
// frameRate is the refresh rate of the product's first projector (60 Hz
// when it has none): the kit cameras A–D offer it divided by 1, 2, 3, 4,
// 6, 8 and 12.
vid::CameraInfo CameraModelA(double projectorRate);
vid::CameraInfo CameraModelB(double projectorRate);
vid::CameraInfo CameraModelC(double projectorRate);
vid::CameraInfo CameraModelD(double projectorRate);
vid::CameraInfo CameraModelE(double projectorRate);
vid::CameraInfo CameraModelF(double projectorRate);
vid::CameraInfo CameraModelG();
// Any device (empty name): BY8, Y800, RGB24, YUY2, UYVY and RGB8 of any size and rate.
vid::CameraInfo AnyCamera();

// "None": none; the kits "ScannerModelA" … "ScannerModelE" their own list;
// any other name every kit camera and then any camera.
std::vector<vid::CameraInfo> SupportedCameras(const std::string& productName);
std::vector<vid::ProjectorInfo> SupportedProjectors(const std::string& productName);

}  // namespace sls
