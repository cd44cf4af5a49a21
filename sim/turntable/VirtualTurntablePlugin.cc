// The virtual turntable: a motor plug-in ("motor_plugin1") that drives the
// virtual rig's turntable through the channel file of TurntableChannel.h.
// It is also the worked example of plugin/MotorPluginAbi.h for people who
// write plug-ins for real turntables.
//
// Connect parameters: blank-separated key=value words, later words winning
// (the shell appends its extra parameters to the description's):
//   channel=PATH          the channel file (default DefaultTurntableChannelPath())
//   speed=DEG_PER_S       turning speed, > 0 (default 90)
//   start=DEG             the angle of a table whose channel does not exist yet (default 0);
//                         an existing channel's table stays where it is
//   power_fail_after=N    the table loses its power at move N + 1 (default: never)
// An unknown key or bad value fails the connect with -3; a channel that
// cannot be written fails it with -20. Results beyond the ABI's: -3 a bad
// argument, -20 the channel file cannot be written. When the channel file
// disappears while connected, every call answers -10 (connection lost).
//
// Parameters (motor_getParameter / motor_setParameter): "speed" (whole
// degrees per second) and "power" (0 or 1).
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>

#include "plugin/MotorPluginAbi.h"
#include "sim/turntable/TurntableChannel.h"

namespace {

constexpr int32_t kBadArgument = -3;
constexpr int32_t kChannelUnwritable = -20;

struct Device {
  std::string channel;
  std::string logPath;
  sim::TurntableMotion motion;
  long powerFailAfter = -1;  // moves before the power fails; -1 never
  long moves = 0;

  void Log(const std::string& line) const {
    if (logPath.empty()) return;
    if (FILE* log = std::fopen(logPath.c_str(), "a")) {
      std::fprintf(log, "VirtualTurntable: %s\n", line.c_str());
      std::fclose(log);
    }
  }
  bool ChannelExists() const {
    struct stat info{};
    return ::stat(channel.c_str(), &info) == 0;
  }
  bool Publish() {
    std::string error;
    if (sim::WriteTurntableChannel(channel, motion, error)) return true;
    Log("Error - " + error);
    return false;
  }
};

bool ParseDouble(const std::string& text, double& value) {
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return !text.empty() && end == text.c_str() + text.size() && std::isfinite(value);
}

// Fills device from the parameter words; false with a reason.
bool ParseParameters(const std::string& parameters, Device& device, double& start, std::string& error) {
  std::istringstream words(parameters);
  std::string word;
  while (words >> word) {
    const auto equals = word.find('=');
    const std::string key = word.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : word.substr(equals + 1);
    double number = 0;
    if (key == "channel" && !value.empty()) {
      device.channel = value;
    } else if (key == "speed" && ParseDouble(value, number) && number > 0) {
      device.motion.speedDegPerS = number;
    } else if (key == "start" && ParseDouble(value, number)) {
      start = number;
    } else if (key == "power_fail_after" && ParseDouble(value, number) && number >= 0 && number == std::floor(number)) {
      device.powerFailAfter = static_cast<long>(number);
    } else {
      error = "bad parameter '" + word + "'";
      return false;
    }
  }
  return true;
}

std::string Degrees(double angle) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.3f deg", angle);
  return text;
}

Device* Connected(void* handle) {
  Device* device = static_cast<Device*>(handle);
  if (!device || !device->ChannelExists()) return nullptr;
  return device;
}

}  // namespace

extern "C" {

TARVELIN_MOTOR_EXPORT int32_t motor_connect(void** handle, const char* parameters, uint32_t parametersLength,
                                            const char* logPath, uint32_t logPathLength) {
  if (!handle) return kBadArgument;
  auto device = std::make_unique<Device>();
  device->logPath.assign(logPath ? logPath : "", logPath ? logPathLength : 0);
  device->channel = sim::DefaultTurntableChannelPath();
  double start = 0;
  std::string error;
  if (!ParseParameters(std::string(parameters ? parameters : "", parameters ? parametersLength : 0), *device, start,
                       error)) {
    device->Log("Error - " + error);
    return kBadArgument;
  }
  const double now = sim::MonotonicSeconds();
  sim::TurntableMotion previous;
  const double speed = device->motion.speedDegPerS;
  const bool resumed = sim::ReadTurntableChannel(device->channel, previous, error);
  device->motion = sim::TurntableMotion::StandingAt(resumed ? previous.AngleAt(now) : start, now, speed);
  device->motion.connected = true;
  if (!device->Publish()) return kChannelUnwritable;
  device->Log("connected, channel " + device->channel + ", speed " + std::to_string(speed) + " deg/s, angle " +
              Degrees(device->motion.startDeg) + (resumed ? " (resumed)" : ""));
  *handle = device.release();
  return MOTOR_OK;
}

TARVELIN_MOTOR_EXPORT int32_t motor_disconnect(void* handle) {
  std::unique_ptr<Device> device(static_cast<Device*>(handle));
  if (!device) return MOTOR_OK;
  if (device->ChannelExists()) {
    // The driver lets go: the table stops where it is.
    const double now = sim::MonotonicSeconds();
    const bool powered = device->motion.powered;
    device->motion = sim::TurntableMotion::StandingAt(device->motion.AngleAt(now), now, device->motion.speedDegPerS);
    device->motion.powered = powered;
    device->Publish();
  }
  device->Log("disconnected at " + Degrees(device->motion.startDeg));
  return MOTOR_OK;
}

TARVELIN_MOTOR_EXPORT int32_t motor_move(double target, void* handle) {
  Device* device = Connected(handle);
  if (!device) return MOTOR_ERROR_NOT_CONNECTED;
  if (!std::isfinite(target)) return kBadArgument;
  if (!device->motion.powered) return MOTOR_ERROR_NO_POWER;
  const double now = sim::MonotonicSeconds();
  const double from = device->motion.AngleAt(now);
  if (device->powerFailAfter >= 0 && device->moves >= device->powerFailAfter) {
    device->motion = sim::TurntableMotion::StandingAt(from, now, device->motion.speedDegPerS);
    device->motion.connected = true;
    device->motion.powered = false;
    device->Publish();
    device->Log("Error - no power at move " + std::to_string(device->moves + 1));
    return MOTOR_ERROR_NO_POWER;
  }
  ++device->moves;
  device->motion.startDeg = from;
  device->motion.targetDeg = target;
  device->motion.startTime = now;
  if (!device->Publish()) return MOTOR_ERROR_NOT_CONNECTED;
  device->Log("move from " + Degrees(from) + " to " + Degrees(target));
  return MOTOR_OK;
}

TARVELIN_MOTOR_EXPORT int32_t motor_stop(void* handle) {
  Device* device = Connected(handle);
  if (!device) return MOTOR_ERROR_NOT_CONNECTED;
  const double now = sim::MonotonicSeconds();
  device->motion.startDeg = device->motion.targetDeg = device->motion.AngleAt(now);
  device->motion.startTime = now;
  if (!device->Publish()) return MOTOR_ERROR_NOT_CONNECTED;
  device->Log("stopped at " + Degrees(device->motion.startDeg));
  return MOTOR_OK;
}

TARVELIN_MOTOR_EXPORT int32_t motor_getPosition(double* position, void* handle) {
  Device* device = Connected(handle);
  if (!device) return MOTOR_ERROR_NOT_CONNECTED;
  if (!position) return kBadArgument;
  *position = device->motion.AngleAt(sim::MonotonicSeconds());
  return MOTOR_OK;
}

TARVELIN_MOTOR_EXPORT int32_t motor_getStatus(void* handle) {
  Device* device = Connected(handle);
  if (!device) return MOTOR_ERROR_NOT_CONNECTED;
  if (!device->motion.powered) return MOTOR_ERROR_NO_POWER;
  return device->motion.IsMovingAt(sim::MonotonicSeconds()) ? MOTOR_STATUS_MOVING : MOTOR_STATUS_IDLE;
}

TARVELIN_MOTOR_EXPORT int32_t motor_getParameter(intptr_t* value, const char* name, void* handle) {
  Device* device = Connected(handle);
  if (!device) return MOTOR_ERROR_NOT_CONNECTED;
  if (!value || !name) return kBadArgument;
  if (std::strcmp(name, "speed") == 0) {
    *value = static_cast<intptr_t>(std::lround(device->motion.speedDegPerS));
  } else if (std::strcmp(name, "power") == 0) {
    *value = device->motion.powered ? 1 : 0;
  } else {
    return MOTOR_ERROR_NOT_SUPPORTED;
  }
  return MOTOR_OK;
}

TARVELIN_MOTOR_EXPORT int32_t motor_setParameter(intptr_t value, const char* name, void* handle) {
  Device* device = Connected(handle);
  if (!device) return MOTOR_ERROR_NOT_CONNECTED;
  if (!name) return kBadArgument;
  const double now = sim::MonotonicSeconds();
  if (std::strcmp(name, "speed") == 0) {
    if (value <= 0) return kBadArgument;
    // A running motion goes on from where it is at the new speed.
    device->motion.startDeg = device->motion.AngleAt(now);
    device->motion.startTime = now;
    device->motion.speedDegPerS = double(value);
  } else if (std::strcmp(name, "power") == 0) {
    if (value != 0 && value != 1) return kBadArgument;
    if (value == 0) {
      // Without power the table stops where it is.
      device->motion.startDeg = device->motion.targetDeg = device->motion.AngleAt(now);
      device->motion.startTime = now;
    }
    device->motion.powered = value == 1;
  } else {
    return MOTOR_ERROR_NOT_SUPPORTED;
  }
  if (!device->Publish()) return MOTOR_ERROR_NOT_CONNECTED;
  device->Log(std::string("set ") + name + " = " + std::to_string(value));
  return MOTOR_OK;
}

}  // extern "C"
