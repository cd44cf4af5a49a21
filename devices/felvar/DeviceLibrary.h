#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "devices/felvar/vemko/vemko.h"

namespace felvar {

// The unit's device library (vemko/vemko.h), loaded with dlopen on first use.
// Where it is looked for, in order:
//   1. the file named by the environment variable TARVELIN_VEMKO_LIBRARY
//      (only there when it is set);
//   2. "libtarvelin_vemko.so" beside the program, then in
//      "<program folder>/../lib/tarvelin/";
//   3. the build tree's copy (for programs run from the build);
//   4. "libtarvelin_vemko.so" through the system's library search.
// A library once loaded stays loaded for the life of the process; the places
// are looked at again at each call, so that the variable set later applies.
class DeviceLibrary {
 public:
  static constexpr const char* kFileName = "libtarvelin_vemko.so";
  static constexpr const char* kPathVariable = "TARVELIN_VEMKO_LIBRARY";

  // The library's calls, resolved by name.
  struct Calls {
    decltype(&vemko_api_version) apiVersion = nullptr;
    decltype(&vemko_device_ids) deviceIds = nullptr;
    decltype(&vemko_free_device_ids) freeDeviceIds = nullptr;
    decltype(&vemko_open) open = nullptr;
    decltype(&vemko_close) close = nullptr;
    decltype(&vemko_get) get = nullptr;
    decltype(&vemko_set) set = nullptr;
    decltype(&vemko_calibration_data) calibrationData = nullptr;
    decltype(&vemko_free_calibration_data) freeCalibrationData = nullptr;
    decltype(&vemko_subscribe) subscribe = nullptr;
    decltype(&vemko_unsubscribe) unsubscribe = nullptr;
    decltype(&vemko_set_backend) setBackend = nullptr;
  };

  // The library of the first place that holds one, loaded at the first call;
  // null when none can be loaded, with the reason in error (what failed).
  static const Calls* Get(std::string& error);
  static const Calls* Get() {
    std::string ignored;
    return Get(ignored);
  }

  // Loads the library from one file (kept loaded); null with the reason.
  static const Calls* LoadFile(const std::string& file, std::string& error);

  // The places tried, in order, under the current environment.
  static std::vector<std::string> SearchPaths();
};

}  // namespace felvar
