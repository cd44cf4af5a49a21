#pragma once

#include <cstdint>
#include <string>

#include "devices/felvar/vemko/vemko.h"

// The unit's device library as objects: every call goes through the loaded
// library (DeviceLibrary.h) and returns its 64-bit status, 0 = success;
// kNoLibrary when the library cannot be loaded. The names are the library's;
// results come through pointers, so that a getter never resolves to a setter.
namespace vemko {

inline constexpr std::uint64_t kNoLibrary = 0xE00000FFull;

// A status as printf's %llx takes it.
inline unsigned long long Hex(std::uint64_t status) { return static_cast<unsigned long long>(status); }

// Prints `line` (a printf format with one %llx for the status) to the error
// stream when the call failed; true on success.
bool Check(std::uint64_t status, const char* line);

struct Keystone {
  std::int64_t type = 0;  // 0 off, 1 one-dimensional, 2 two-dimensional
  std::int64_t values[4] = {0, 0, 0, 0};
  bool operator==(const Keystone&) const = default;
};

enum class ProjectorState : std::int64_t { kOff = 0, kOn = 1, kStandby = 2 };

struct TouchMatState {
  bool active = false;
  bool touch = false;
  bool operator==(const TouchMatState&) const = default;
};

class System {
 public:
  static std::uint64_t device_ids(vemko_device_id*& ids, std::uint32_t& count);
  static std::uint64_t free_device_ids(vemko_device_id* ids, std::uint32_t count);
};

// A device of the unit; closed by close() or the destructor.
class VemkoDevice {
 public:
  VemkoDevice(std::uint32_t kind, std::uint32_t index) : m_kind(kind), m_index(index) {}
  VemkoDevice(const VemkoDevice&) = delete;
  VemkoDevice& operator=(const VemkoDevice&) = delete;
  virtual ~VemkoDevice();

  std::uint64_t open();
  std::uint64_t close();
  bool is_open() const { return m_open; }

 protected:
  std::uint64_t Get(std::uint32_t property, vemko_value& out) const;
  std::uint64_t Set(std::uint32_t property, const vemko_value& in, vemko_value* out = nullptr);
  std::uint64_t GetFlag(std::uint32_t property, bool& on) const;
  std::uint64_t SetFlag(std::uint32_t property, bool on, bool* out = nullptr);
  std::uint64_t GetWord(std::uint32_t property, std::uint16_t& value) const;
  std::uint64_t SetWord(std::uint32_t property, std::uint16_t value, std::uint16_t* out = nullptr);
  std::uint64_t subscribe(vemko_callback callback, void* context);
  std::uint64_t unsubscribe();
  std::uint64_t Handle() const { return m_handle; }

 private:
  std::uint32_t m_kind;
  std::uint32_t m_index;
  std::uint64_t m_handle = 0;
  bool m_open = false;
};

class Projector : public VemkoDevice {
 public:
  Projector() : VemkoDevice(VEMKO_PROJECTOR, 0) {}
  explicit Projector(std::uint32_t index) : VemkoDevice(VEMKO_PROJECTOR, index) {}

  std::uint64_t state(ProjectorState* out);
  std::uint64_t on();
  std::uint64_t off();
  std::uint64_t keystone(Keystone* out);
  std::uint64_t keystone(const Keystone& in);
  std::uint64_t keystone(const Keystone& in, Keystone* out);
  std::uint64_t structured_light_mode(bool* out);
  std::uint64_t structured_light_mode(bool on);
  std::uint64_t grayscale();
  std::uint64_t flash(bool on);
  using VemkoDevice::subscribe;
  using VemkoDevice::unsubscribe;
  std::uint64_t calibration_data(vemko_calibration_texts& out);
  static std::uint64_t free_calibration_data(vemko_calibration_texts& data);
};

class TouchMat : public VemkoDevice {
 public:
  TouchMat() : VemkoDevice(VEMKO_TOUCHMAT, 0) {}
  std::uint64_t state(TouchMatState* out);
  std::uint64_t state(const TouchMatState& in);
};

class HiResCamera : public VemkoDevice {
 public:
  HiResCamera() : VemkoDevice(VEMKO_HIRES_CAMERA, 0) {}
  std::uint64_t exposure(std::uint16_t value) { return SetWord(VEMKO_EXPOSURE, value); }
  std::uint64_t exposure(std::uint16_t* out) { return GetWord(VEMKO_EXPOSURE, *out); }
  std::uint64_t exposure(std::uint16_t value, std::uint16_t* out) {
    return SetWord(VEMKO_EXPOSURE, value, out);
  }
  std::uint64_t gain(std::uint16_t value) { return SetWord(VEMKO_GAIN, value); }
  std::uint64_t gain(std::uint16_t* out) { return GetWord(VEMKO_GAIN, *out); }
  std::uint64_t gain(std::uint16_t value, std::uint16_t* out) {
    return SetWord(VEMKO_GAIN, value, out);
  }
  std::uint64_t auto_exposure(bool on) { return SetFlag(VEMKO_AUTO_EXPOSURE, on); }
  std::uint64_t auto_exposure(bool* out) { return GetFlag(VEMKO_AUTO_EXPOSURE, *out); }
  std::uint64_t auto_gain(bool on) { return SetFlag(VEMKO_AUTO_GAIN, on); }
  std::uint64_t auto_gain(bool* out) { return GetFlag(VEMKO_AUTO_GAIN, *out); }
  std::uint64_t auto_white_balance(bool on) { return SetFlag(VEMKO_AUTO_WHITE_BALANCE, on); }
  std::uint64_t auto_white_balance(bool on, bool* out) {
    return SetFlag(VEMKO_AUTO_WHITE_BALANCE, on, out);
  }
  std::uint64_t gamma_correction(bool on) { return SetFlag(VEMKO_GAMMA_CORRECTION, on); }
  std::uint64_t gamma_correction(bool* out) { return GetFlag(VEMKO_GAMMA_CORRECTION, *out); }
  std::uint64_t gamma_correction(bool on, bool* out) {
    return SetFlag(VEMKO_GAMMA_CORRECTION, on, out);
  }
  std::uint64_t lens_shading(bool on) { return SetFlag(VEMKO_LENS_SHADING, on); }
  std::uint64_t lens_shading(bool on, bool* out) { return SetFlag(VEMKO_LENS_SHADING, on, out); }
  std::uint64_t lens_color_shading(bool on) { return SetFlag(VEMKO_LENS_COLOR_SHADING, on); }
  std::uint64_t lens_color_shading(bool on, bool* out) {
    return SetFlag(VEMKO_LENS_COLOR_SHADING, on, out);
  }
  using VemkoDevice::subscribe;
  using VemkoDevice::unsubscribe;
};

}  // namespace vemko
