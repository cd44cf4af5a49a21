#pragma once

#include <cstdint>
#include <string>

namespace plugin {

// A motor (turntable) behind a plug-in. Results: 0 success; -10 the
// function is unavailable (no library, or the library lacks it); -13 an
// optional parameter function is unavailable; other codes come from the
// plug-in unchanged. Units and status codes follow plugin/MotorPluginAbi.h:
// degrees, absolute targets, status 1 while moving. Not thread-safe: the
// caller serialises all calls.
class IMotor {
 public:
  virtual ~IMotor() = default;
  virtual int Connect(const std::string& parameters, const std::string& logPath) = 0;
  virtual int Disconnect() = 0;
  virtual int Move(double target) = 0;
  virtual int Stop() = 0;
  virtual int GetPosition(double& position) = 0;
  virtual int GetStatus() = 0;
  virtual int GetParameter(std::intptr_t& value, const std::string& name) { return -13; }
  virtual int SetParameter(std::intptr_t value, const std::string& name) { return -13; }
};

}  // namespace plugin
