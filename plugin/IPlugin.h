#pragma once

#include <string>

namespace plugin {

// A library loaded at run time that implements one named interface.
class IPlugin {
 public:
  virtual ~IPlugin() = default;
  // Loads the library at libraryPath and connects it with parameters; the
  // library may append its own lines to the file logPath. 0 on success,
  // else a result code (see MotorPlugin).
  virtual int Load(const std::string& libraryPath, const std::string& parameters, const std::string& logPath) = 0;
  // Whether this object can drive libraries of interfaceName.
  virtual bool IsInterface(const std::string& interfaceName) const = 0;
};

}  // namespace plugin
