#include "sim/VirtualFelvarUnit.h"

#include <cstdio>
#include <cstring>

#include "vid/ImageCapture.h"

namespace sim {
namespace {

struct Function {
  std::uint16_t vendor, product;
  const char* path;
};
constexpr Function kCameraBridge{0x05A9, 0xF580, "/dev/bus/usb/virtual/001"};
constexpr Function kProjector{0xF3E1, 0x0A01, "/dev/bus/usb/virtual/002"};
constexpr Function kTouchMat{0xF3E1, 0x0A02, "/dev/bus/usb/virtual/003"};

}  // namespace

VirtualFelvarUnit::VirtualFelvarUnit(std::string cameraCalibration,
                                     std::string projectorCalibration,
                                     std::shared_ptr<vid::ImageCaptureProperties> camera)
    : m_cameraCalibration(std::move(cameraCalibration)),
      m_projectorCalibration(std::move(projectorCalibration)),
      m_camera(std::move(camera)) {
  m_backend.version = VEMKO_API_VERSION;
  m_backend.context = this;
  m_backend.list_devices = &ListDevices;
  m_backend.open = &Open;
  m_backend.close = &Close;
  m_backend.get = &Get;
  m_backend.set = &Set;
  m_backend.calibration_data = &Calibration;
  m_backend.subscribe = &Subscribe;
  m_backend.unsubscribe = &Unsubscribe;
  m_state.camera = {{VEMKO_EXPOSURE, 100},         {VEMKO_GAIN, 16},
                    {VEMKO_AUTO_EXPOSURE, 1},      {VEMKO_AUTO_GAIN, 1},
                    {VEMKO_AUTO_WHITE_BALANCE, 1}, {VEMKO_GAMMA_CORRECTION, 1},
                    {VEMKO_LENS_SHADING, 0},       {VEMKO_LENS_COLOR_SHADING, 0}};
  m_state.touchMat.v[0] = 1;
  m_state.touchMat.v[1] = 1;
}

void VirtualFelvarUnit::AddDevice(std::uint16_t vendorId, std::uint16_t productId,
                                  const std::string& path) {
  std::lock_guard lock(m_mutex);
  vemko_device_id id{};
  id.vendor_id = vendorId;
  id.product_id = productId;
  std::snprintf(id.path, sizeof(id.path), "%s", path.c_str());
  m_extraDevices.push_back(id);
}

void VirtualFelvarUnit::SetFaults(const Faults& faults) {
  std::lock_guard lock(m_mutex);
  m_faults = faults;
}

void VirtualFelvarUnit::SetState(const State& state) {
  std::lock_guard lock(m_mutex);
  m_state = state;
}

VirtualFelvarUnit::State VirtualFelvarUnit::GetState() const {
  std::lock_guard lock(m_mutex);
  return m_state;
}

std::vector<std::string> VirtualFelvarUnit::GetCalls() const {
  std::lock_guard lock(m_mutex);
  return m_calls;
}

std::uint32_t VirtualFelvarUnit::ListDevices(void* context, vemko_device_id* ids,
                                             std::uint32_t capacity) {
  VirtualFelvarUnit& unit = Of(context);
  std::lock_guard lock(unit.m_mutex);
  std::vector<Function> functions{kCameraBridge, kProjector};
  if (!unit.m_faults.noTouchMat) functions.push_back(kTouchMat);
  std::vector<vemko_device_id> all;
  for (const Function& f : functions) {
    vemko_device_id id{};
    id.vendor_id = f.vendor;
    id.product_id = f.product;
    std::snprintf(id.path, sizeof(id.path), "%s", f.path);
    all.push_back(id);
  }
  all.insert(all.end(), unit.m_extraDevices.begin(), unit.m_extraDevices.end());
  for (std::uint32_t i = 0; i < capacity && i < all.size(); ++i) ids[i] = all[i];
  return static_cast<std::uint32_t>(all.size());
}

std::uint32_t VirtualFelvarUnit::KindLocked(std::uint64_t handle) const {
  const auto it = m_handles.find(handle);
  return it == m_handles.end() ? 0 : it->second;
}

bool VirtualFelvarUnit::Owns(std::uint32_t kind, std::uint32_t property) {
  if (kind == VEMKO_PROJECTOR) return property >= VEMKO_PROJECTOR_STATE && property <= VEMKO_FLASH;
  if (kind == VEMKO_TOUCHMAT) return property == VEMKO_TOUCHMAT_STATE;
  return kind == VEMKO_HIRES_CAMERA && property >= VEMKO_EXPOSURE &&
         property <= VEMKO_LENS_COLOR_SHADING;
}

vemko_status VirtualFelvarUnit::Open(void* context, std::uint32_t kind, std::uint32_t index,
                                     std::uint64_t* handle) {
  VirtualFelvarUnit& unit = Of(context);
  std::lock_guard lock(unit.m_mutex);
  unit.m_calls.push_back("open " + std::to_string(kind));
  if (auto it = unit.m_faults.open.find(kind); it != unit.m_faults.open.end()) return it->second;
  const bool exists = index == 0 && (kind == VEMKO_PROJECTOR || kind == VEMKO_HIRES_CAMERA ||
                                     (kind == VEMKO_TOUCHMAT && !unit.m_faults.noTouchMat));
  if (!exists) return VEMKO_ERROR_NO_DEVICE;
  *handle = unit.m_nextHandle++;
  unit.m_handles[*handle] = kind;
  ++unit.m_state.openCount[kind];
  return VEMKO_OK;
}

vemko_status VirtualFelvarUnit::Close(void* context, std::uint64_t handle) {
  VirtualFelvarUnit& unit = Of(context);
  std::lock_guard lock(unit.m_mutex);
  const std::uint32_t kind = unit.KindLocked(handle);
  unit.m_calls.push_back("close " + std::to_string(kind));
  if (kind == 0) return VEMKO_ERROR_BAD_HANDLE;
  unit.m_handles.erase(handle);
  --unit.m_state.openCount[kind];
  if (auto it = unit.m_faults.close.find(kind); it != unit.m_faults.close.end()) return it->second;
  return VEMKO_OK;
}

vemko_status VirtualFelvarUnit::Get(void* context, std::uint64_t handle, std::uint32_t property,
                                    vemko_value* out) {
  VirtualFelvarUnit& unit = Of(context);
  std::lock_guard lock(unit.m_mutex);
  unit.m_calls.push_back("get " + std::to_string(property));
  const std::uint32_t kind = unit.KindLocked(handle);
  if (kind == 0) return VEMKO_ERROR_BAD_HANDLE;
  if (!Owns(kind, property) || property == VEMKO_GRAYSCALE) return VEMKO_ERROR_BAD_PROPERTY;
  if (auto it = unit.m_faults.get.find(property); it != unit.m_faults.get.end()) return it->second;
  *out = vemko_value{};
  State& s = unit.m_state;
  switch (property) {
    case VEMKO_PROJECTOR_STATE:
      out->v[0] = s.projectorState;
      break;
    case VEMKO_KEYSTONE:
      *out = s.keystone;
      break;
    case VEMKO_STRUCTURED_LIGHT_MODE:
      out->v[0] = s.structuredLightMode;
      break;
    case VEMKO_FLASH:
      out->v[0] = s.flash;
      break;
    case VEMKO_TOUCHMAT_STATE:
      *out = s.touchMat;
      break;
    default:
      out->v[0] = s.camera[property];
      break;
  }
  return VEMKO_OK;
}

void VirtualFelvarUnit::ApplyToCameraLocked(std::uint32_t property, std::int64_t value) {
  if (!m_camera) return;
  if (property == VEMKO_EXPOSURE)
    m_camera->SetProperty("exposure", vid::Property(double(value) / 10.0));
  if (property == VEMKO_GAIN) m_camera->SetProperty("gain", vid::Property(double(value) / 16.0));
}

vemko_status VirtualFelvarUnit::Set(void* context, std::uint64_t handle, std::uint32_t property,
                                    const vemko_value* in, vemko_value* out) {
  VirtualFelvarUnit& unit = Of(context);
  std::lock_guard lock(unit.m_mutex);
  unit.m_calls.push_back("set " + std::to_string(property));
  const std::uint32_t kind = unit.KindLocked(handle);
  if (kind == 0) return VEMKO_ERROR_BAD_HANDLE;
  if (!Owns(kind, property)) return VEMKO_ERROR_BAD_PROPERTY;
  if (auto it = unit.m_faults.set.find(property); it != unit.m_faults.set.end()) return it->second;
  State& s = unit.m_state;
  vemko_value now{};
  switch (property) {
    case VEMKO_PROJECTOR_STATE:
      if (in->v[0] != 0 && in->v[0] != 1) return VEMKO_ERROR_BAD_ARGUMENT;
      now.v[0] = s.projectorState = in->v[0];
      if (unit.m_callback) unit.m_callback(unit.m_callbackContext, VEMKO_PROJECTOR_STATE, now.v[0]);
      break;
    case VEMKO_KEYSTONE:
      if (in->v[0] < 0 || in->v[0] > 2) return VEMKO_ERROR_BAD_ARGUMENT;
      now = s.keystone = *in;
      break;
    case VEMKO_STRUCTURED_LIGHT_MODE:
      now.v[0] = s.structuredLightMode = in->v[0] != 0;
      break;
    case VEMKO_GRAYSCALE:
      ++s.grayscaleCalls;
      break;
    case VEMKO_FLASH:
      now.v[0] = s.flash = in->v[0] != 0;
      break;
    case VEMKO_TOUCHMAT_STATE:
      now = s.touchMat = *in;
      break;
    case VEMKO_EXPOSURE:
    case VEMKO_GAIN:
      if (in->v[0] < 0 || in->v[0] > 0xFFFF) return VEMKO_ERROR_BAD_ARGUMENT;
      now.v[0] = s.camera[property] = in->v[0];
      unit.ApplyToCameraLocked(property, in->v[0]);
      break;
    default:
      now.v[0] = s.camera[property] = in->v[0] != 0;
      break;
  }
  if (out) *out = now;
  return VEMKO_OK;
}

vemko_status VirtualFelvarUnit::Calibration(void* context, std::uint64_t handle,
                                            const char** camera, const char** projector) {
  VirtualFelvarUnit& unit = Of(context);
  std::lock_guard lock(unit.m_mutex);
  unit.m_calls.push_back("calibration");
  if (unit.KindLocked(handle) != VEMKO_PROJECTOR) return VEMKO_ERROR_BAD_HANDLE;
  if (unit.m_faults.calibration != VEMKO_OK) return unit.m_faults.calibration;
  if (unit.m_cameraCalibration.empty()) return VEMKO_ERROR_NO_DATA;
  *camera = unit.m_cameraCalibration.c_str();
  *projector = unit.m_projectorCalibration.c_str();
  return VEMKO_OK;
}

vemko_status VirtualFelvarUnit::Subscribe(void* context, std::uint64_t handle,
                                          vemko_callback callback, void* callbackContext) {
  VirtualFelvarUnit& unit = Of(context);
  std::lock_guard lock(unit.m_mutex);
  if (unit.KindLocked(handle) == 0) return VEMKO_ERROR_BAD_HANDLE;
  if (unit.m_faults.subscribe != VEMKO_OK) return unit.m_faults.subscribe;
  unit.m_callback = callback;
  unit.m_callbackContext = callbackContext;
  unit.m_state.projectorSubscribed = true;
  return VEMKO_OK;
}

vemko_status VirtualFelvarUnit::Unsubscribe(void* context, std::uint64_t handle) {
  VirtualFelvarUnit& unit = Of(context);
  std::lock_guard lock(unit.m_mutex);
  if (unit.KindLocked(handle) == 0) return VEMKO_ERROR_BAD_HANDLE;
  unit.m_callback = nullptr;
  unit.m_callbackContext = nullptr;
  unit.m_state.projectorSubscribed = false;
  return VEMKO_OK;
}

}  // namespace sim
