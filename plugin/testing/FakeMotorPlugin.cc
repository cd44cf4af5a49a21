// A motor plug-in for tests, built in variants by compile definitions:
//   FAKE_MOTOR_NO_STOP        motor_stop is not exported
//   FAKE_MOTOR_NO_PARAMETERS  motor_getParameter and motor_setParameter are not exported
//   FAKE_MOTOR_CONNECT_RESULT motor_connect's result (default 0)
// It appends what motor_connect received to the log file ("connect
// parameters=<text>"), and counts calls in fake_motor_counters (the test
// reaches it with dlsym on its own dlopen of the library).
#include <cstdio>
#include <string>

#include "plugin/MotorPluginAbi.h"

#ifndef FAKE_MOTOR_CONNECT_RESULT
#define FAKE_MOTOR_CONNECT_RESULT 0
#endif

namespace {

struct Device {
  double position = 0;
};

}  // namespace

extern "C" {

struct FakeMotorCounters {
  int connects;
  int disconnects;
  int disconnectsWithoutHandle;
  int moves;
};

TARVELIN_MOTOR_EXPORT FakeMotorCounters fake_motor_counters = {0, 0, 0, 0};

TARVELIN_MOTOR_EXPORT int32_t motor_connect(void** handle, const char* parameters, uint32_t parametersLength,
                                            const char* logPath, uint32_t logPathLength) {
  ++fake_motor_counters.connects;
  const std::string path(logPath, logPathLength);
  if (FILE* log = std::fopen(path.c_str(), "a")) {
    const std::string line = "connect parameters=" + std::string(parameters, parametersLength) + "\n";
    std::fwrite(line.data(), 1, line.size(), log);
    std::fclose(log);
  }
  if (FAKE_MOTOR_CONNECT_RESULT != 0) return FAKE_MOTOR_CONNECT_RESULT;
  *handle = new Device;
  return MOTOR_OK;
}

TARVELIN_MOTOR_EXPORT int32_t motor_disconnect(void* handle) {
  ++fake_motor_counters.disconnects;
  if (!handle) ++fake_motor_counters.disconnectsWithoutHandle;
  delete static_cast<Device*>(handle);
  return MOTOR_OK;
}

TARVELIN_MOTOR_EXPORT int32_t motor_move(double target, void* handle) {
  if (!handle) return MOTOR_ERROR_NOT_CONNECTED;
  ++fake_motor_counters.moves;
  static_cast<Device*>(handle)->position = target;
  return MOTOR_OK;
}

#ifndef FAKE_MOTOR_NO_STOP
TARVELIN_MOTOR_EXPORT int32_t motor_stop(void* handle) { return handle ? MOTOR_OK : MOTOR_ERROR_NOT_CONNECTED; }
#endif

TARVELIN_MOTOR_EXPORT int32_t motor_getPosition(double* position, void* handle) {
  if (!handle) return MOTOR_ERROR_NOT_CONNECTED;
  *position = static_cast<Device*>(handle)->position;
  return MOTOR_OK;
}

TARVELIN_MOTOR_EXPORT int32_t motor_getStatus(void* handle) { return handle ? 7 : MOTOR_ERROR_NOT_CONNECTED; }

#ifndef FAKE_MOTOR_NO_PARAMETERS
TARVELIN_MOTOR_EXPORT int32_t motor_getParameter(intptr_t* value, const char* name, void* handle) {
  if (std::string(name) != "answer") return MOTOR_ERROR_NOT_SUPPORTED;
  *value = 42;
  return MOTOR_OK;
}

TARVELIN_MOTOR_EXPORT int32_t motor_setParameter(intptr_t value, const char* name, void* handle) {
  return std::string(name) == "answer" ? MOTOR_OK : MOTOR_ERROR_NOT_SUPPORTED;
}
#endif

}  // extern "C"
