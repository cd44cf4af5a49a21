#pragma once

#include <string>

#include "plugin/IMotor.h"
#include "plugin/IPlugin.h"
#include "plugin/MotorPluginAbi.h"

namespace plugin {

// A motor plug-in library (interface "motor_plugin1") opened with dlopen,
// its exports bound and offered as IMotor. States: unloaded (no library),
// loaded and connected (handle set), loaded and disconnected. Errors go to
// standard error, one line each. Destroying it disconnects and unloads the
// library. Not thread-safe.
class MotorPlugin : public IPlugin, public IMotor {
 public:
  MotorPlugin() = default;
  ~MotorPlugin() override;
  MotorPlugin(const MotorPlugin&) = delete;
  MotorPlugin& operator=(const MotorPlugin&) = delete;

  // Unloads any earlier library, opens libraryPath, binds the exports and
  // connects. 0 connected; -1 the library could not be opened; -2 a
  // required export is missing (every missing one is reported); otherwise
  // motor_connect's result. On any failure the library is unloaded again.
  int Load(const std::string& libraryPath, const std::string& parameters, const std::string& logPath) override;
  // Exactly "motor_plugin1".
  bool IsInterface(const std::string& interfaceName) const override;

  int Connect(const std::string& parameters, const std::string& logPath) override;
  // Calls motor_disconnect when present (0 otherwise) and forgets the handle.
  int Disconnect() override;
  int Move(double target) override;
  int Stop() override;
  int GetPosition(double& position) override;
  int GetStatus() override;
  int GetParameter(std::intptr_t& value, const std::string& name) override;
  int SetParameter(std::intptr_t value, const std::string& name) override;

  bool IsLoaded() const { return m_library != nullptr; }
  bool IsConnected() const { return m_handle != nullptr; }
  // dlerror's text of the last failed dlopen; empty after a successful one.
  const std::string& GetLastLoadError() const { return m_lastLoadError; }

 private:
  void Unload();

  void* m_library = nullptr;
  void* m_handle = nullptr;  // the plug-in's connection handle, owned by the library
  motor_connect_fn m_connect = nullptr;
  motor_disconnect_fn m_disconnect = nullptr;
  motor_move_fn m_move = nullptr;
  motor_getPosition_fn m_getPosition = nullptr;
  motor_getStatus_fn m_getStatus = nullptr;
  motor_stop_fn m_stop = nullptr;
  motor_getParameter_fn m_getParameter = nullptr;
  motor_setParameter_fn m_setParameter = nullptr;
  std::string m_lastLoadError;
};

}  // namespace plugin
