#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devices/felvar/vemko/vemko.h"

namespace vid {
class ImageCaptureProperties;
}

namespace sim {

// A simulated projector–camera unit behind the unit's device library: its
// three USB functions, a projector (state, keystone, structured-light mode,
// flash), a touch mat and the camera's settings, with the factory
// calibration texts it was given. "exposure" (in tenths of a millisecond)
// and "gain" (in sixteenths) reach the camera given, the rig's. Faults make
// chosen calls fail with a status. Thread-safe.
class VirtualFelvarUnit {
 public:
  struct Faults {
    std::map<std::uint32_t, vemko_status> open;  // by device kind
    std::map<std::uint32_t, vemko_status> close;
    std::map<std::uint32_t, vemko_status> get;  // by property
    std::map<std::uint32_t, vemko_status> set;
    vemko_status calibration = VEMKO_OK;
    vemko_status subscribe = VEMKO_OK;
    bool noTouchMat = false;  // the touch mat's function is missing
  };

  struct State {
    std::int64_t projectorState = 0;  // 0 off, 1 on, 2 standby
    vemko_value keystone{};
    bool structuredLightMode = false;
    bool flash = false;
    std::uint64_t grayscaleCalls = 0;
    vemko_value touchMat{};
    std::map<std::uint32_t, std::int64_t> camera;  // camera properties
    std::map<std::uint32_t, int> openCount;        // open devices by kind
    bool projectorSubscribed = false;
  };

  // The unit's devices in the listing: the camera bridge 05A9:F580 and the
  // maker's functions F3E1:0A01 (projector), F3E1:0A02 (touch mat).
  VirtualFelvarUnit(std::string cameraCalibration, std::string projectorCalibration,
                    std::shared_ptr<vid::ImageCaptureProperties> camera = nullptr);

  // The back-end to install with vemko_set_backend; valid while the unit lives.
  const vemko_backend& GetBackend() const { return m_backend; }

  // Another device in the listing (a scanner head's projector unit, say).
  void AddDevice(std::uint16_t vendorId, std::uint16_t productId, const std::string& path);
  void SetFaults(const Faults& faults);
  void SetState(const State& state);
  State GetState() const;
  // The calls made, as "open 1", "get 2", "set 3" ... in order.
  std::vector<std::string> GetCalls() const;

 private:
  static VirtualFelvarUnit& Of(void* context) { return *static_cast<VirtualFelvarUnit*>(context); }
  static std::uint32_t ListDevices(void* context, vemko_device_id* ids, std::uint32_t capacity);
  static vemko_status Open(void* context, std::uint32_t kind, std::uint32_t index,
                           std::uint64_t* handle);
  static vemko_status Close(void* context, std::uint64_t handle);
  static vemko_status Get(void* context, std::uint64_t handle, std::uint32_t property,
                          vemko_value* out);
  static vemko_status Set(void* context, std::uint64_t handle, std::uint32_t property,
                          const vemko_value* in, vemko_value* out);
  static vemko_status Calibration(void* context, std::uint64_t handle, const char** camera,
                                  const char** projector);
  static vemko_status Subscribe(void* context, std::uint64_t handle, vemko_callback callback,
                                void* callbackContext);
  static vemko_status Unsubscribe(void* context, std::uint64_t handle);

  // The kind of an open handle; 0 when it is not open.
  std::uint32_t KindLocked(std::uint64_t handle) const;
  static bool Owns(std::uint32_t kind, std::uint32_t property);
  void ApplyToCameraLocked(std::uint32_t property, std::int64_t value);

  mutable std::mutex m_mutex;
  const std::string m_cameraCalibration;
  const std::string m_projectorCalibration;
  std::shared_ptr<vid::ImageCaptureProperties> m_camera;
  vemko_backend m_backend{};
  Faults m_faults;
  State m_state;
  std::map<std::uint64_t, std::uint32_t> m_handles;  // open handle → kind
  std::uint64_t m_nextHandle = 1;
  vemko_callback m_callback = nullptr;
  void* m_callbackContext = nullptr;
  std::vector<std::string> m_calls;
  std::vector<vemko_device_id> m_extraDevices;
};

}  // namespace sim
