#include "devices/felvar/DeviceLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <mutex>

namespace felvar {
namespace {

std::mutex g_mutex;

std::filesystem::path ProgramFolder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : exe.parent_path();
}

template <typename F>
bool Resolve(void* handle, const char* name, F& function, std::string& missing) {
  function = reinterpret_cast<F>(dlsym(handle, name));
  if (!function) missing += std::string(missing.empty() ? "" : ", ") + name;
  return function != nullptr;
}

const DeviceLibrary::Calls* LoadLocked(const std::string& file, std::string& error) {
  static std::map<std::string, DeviceLibrary::Calls> loaded;  // handles stay open
  if (auto it = loaded.find(file); it != loaded.end()) return &it->second;
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    error = why ? why : (file + ": cannot be loaded");
    return nullptr;
  }
  DeviceLibrary::Calls calls;
  std::string missing;
  Resolve(handle, "vemko_api_version", calls.apiVersion, missing);
  Resolve(handle, "vemko_device_ids", calls.deviceIds, missing);
  Resolve(handle, "vemko_free_device_ids", calls.freeDeviceIds, missing);
  Resolve(handle, "vemko_open", calls.open, missing);
  Resolve(handle, "vemko_close", calls.close, missing);
  Resolve(handle, "vemko_get", calls.get, missing);
  Resolve(handle, "vemko_set", calls.set, missing);
  Resolve(handle, "vemko_calibration_data", calls.calibrationData, missing);
  Resolve(handle, "vemko_free_calibration_data", calls.freeCalibrationData, missing);
  Resolve(handle, "vemko_subscribe", calls.subscribe, missing);
  Resolve(handle, "vemko_unsubscribe", calls.unsubscribe, missing);
  Resolve(handle, "vemko_set_backend", calls.setBackend, missing);
  if (!missing.empty()) {
    dlclose(handle);
    error = file + " is not the unit's device library: it lacks " + missing;
    return nullptr;
  }
  if (calls.apiVersion() != VEMKO_API_VERSION) {
    error = file + " has interface version " + std::to_string(calls.apiVersion()) +
            ", this program needs " + std::to_string(VEMKO_API_VERSION);
    dlclose(handle);
    return nullptr;
  }
  return &loaded.emplace(file, calls).first->second;
}

}  // namespace

std::vector<std::string> DeviceLibrary::SearchPaths() {
  if (const char* path = std::getenv(kPathVariable); path && *path) return {path};
  std::vector<std::string> paths;
  const auto folder = ProgramFolder();
  if (!folder.empty()) {
    paths.push_back((folder / kFileName).string());
    paths.push_back((folder / ".." / "lib" / "tarvelin" / kFileName).lexically_normal().string());
  }
#ifdef TARVELIN_VEMKO_BUILD_PATH
  paths.push_back(TARVELIN_VEMKO_BUILD_PATH);
#endif
  paths.push_back(kFileName);
  return paths;
}

const DeviceLibrary::Calls* DeviceLibrary::LoadFile(const std::string& file, std::string& error) {
  std::lock_guard lock(g_mutex);
  return LoadLocked(file, error);
}

const DeviceLibrary::Calls* DeviceLibrary::Get(std::string& error) {
  const auto paths = SearchPaths();  // the environment may change the place
  std::lock_guard lock(g_mutex);
  std::string reasons;
  for (const auto& path : paths) {
    // Absolute places that do not exist are skipped; the bare name goes to
    // the system's search.
    if (path.find('/') != std::string::npos && !std::filesystem::exists(path)) {
      if (paths.size() == 1) reasons = path + ": no such file";
      continue;
    }
    std::string why;
    if (const Calls* calls = LoadLocked(path, why)) return calls;
    reasons += (reasons.empty() ? "" : "; ") + why;
  }
  error = std::string("the unit's device library ") + kFileName + " could not be loaded (" +
          reasons +
          "); install it beside the program or in <program folder>/../lib/tarvelin, or set " +
          kPathVariable + " to its file";
  return nullptr;
}

}  // namespace felvar
