#include "plugin/MotorPlugin.h"

#include <dlfcn.h>

#include <iostream>

namespace plugin {
namespace {

constexpr int kNotLoaded = -1;
constexpr int kMissingExport = -2;
constexpr int kUnavailable = -10;
constexpr int kParameterUnavailable = -13;

// Binds one export; prints message to standard error when it is missing.
template <class Fn>
bool Bind(void* library, const char* name, Fn& function, const char* message) {
  function = reinterpret_cast<Fn>(dlsym(library, name));
  if (function) return true;
  std::cerr << message << std::endl;
  return false;
}

}  // namespace

MotorPlugin::~MotorPlugin() { Unload(); }

bool MotorPlugin::IsInterface(const std::string& interfaceName) const {
  return interfaceName == TARVELIN_MOTOR_INTERFACE_NAME;
}

void MotorPlugin::Unload() {
  Disconnect();
  if (m_library) dlclose(m_library);
  m_library = nullptr;
  m_connect = nullptr;
  m_disconnect = nullptr;
  m_move = nullptr;
  m_getPosition = nullptr;
  m_getStatus = nullptr;
  m_stop = nullptr;
  m_getParameter = nullptr;
  m_setParameter = nullptr;
}

int MotorPlugin::Load(const std::string& libraryPath, const std::string& parameters, const std::string& logPath) {
  Unload();
  m_library = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!m_library) {
    const char* reason = dlerror();
    m_lastLoadError = reason ? reason : "";
    std::cerr << "Error - MotorPlugin - Could not load library." << std::endl;
    return kNotLoaded;
  }
  m_lastLoadError.clear();

  int result = 0;
  const char* prefix = "Error - MotorPlugin - Could not get pointer to ";
  auto required = [&](const char* name, auto& function, const std::string& shownName) {
    if (!Bind(m_library, name, function, (prefix + shownName + ".").c_str())) result = kMissingExport;
  };
  required("motor_connect", m_connect, "motor_connect");
  required("motor_disconnect", m_disconnect, "motor_disconnect");
  required("motor_move", m_move, "motor_move");
  required("motor_getPosition", m_getPosition, "getPosition");
  required("motor_getStatus", m_getStatus, "motor_getStatus");
  required("motor_stop", m_stop, "motor_stop");
  Bind(m_library, "motor_getParameter", m_getParameter,
       "Info - MotorPlugin - Function motor_getParameter not available.");
  Bind(m_library, "motor_setParameter", m_setParameter,
       "Info - MotorPlugin - Function motor_setParameter not available.");

  if (result == 0) {
    result = Connect(parameters, logPath);
    if (result == 0) return 0;
    std::cerr << "Error - MotorPlugin - Connection failed." << std::endl;
  }
  Unload();
  return result;
}

int MotorPlugin::Connect(const std::string& parameters, const std::string& logPath) {
  if (!m_connect) return kUnavailable;
  return m_connect(&m_handle, parameters.data(), static_cast<std::uint32_t>(parameters.size()), logPath.data(),
                   static_cast<std::uint32_t>(logPath.size()));
}

int MotorPlugin::Disconnect() {
  int result = 0;
  if (m_disconnect) result = m_disconnect(m_handle);
  m_handle = nullptr;
  return result;
}

int MotorPlugin::Move(double target) { return m_move ? m_move(target, m_handle) : kUnavailable; }

int MotorPlugin::Stop() { return m_stop ? m_stop(m_handle) : kUnavailable; }

int MotorPlugin::GetPosition(double& position) {
  return m_getPosition ? m_getPosition(&position, m_handle) : kUnavailable;
}

int MotorPlugin::GetStatus() { return m_getStatus ? m_getStatus(m_handle) : kUnavailable; }

int MotorPlugin::GetParameter(std::intptr_t& value, const std::string& name) {
  return m_getParameter ? m_getParameter(&value, name.c_str(), m_handle) : kParameterUnavailable;
}

int MotorPlugin::SetParameter(std::intptr_t value, const std::string& name) {
  return m_setParameter ? m_setParameter(value, name.c_str(), m_handle) : kParameterUnavailable;
}

}  // namespace plugin
