#include "devices/felvar/Vemko.h"

#include "devices/felvar/DeviceLibrary.h"

#include <cstdio>

namespace vemko {

bool Check(std::uint64_t status, const char* line) {
  if (status == VEMKO_OK) return true;
  std::fprintf(stderr, line, Hex(status));
  return false;
}

namespace {

const felvar::DeviceLibrary::Calls* Library() { return felvar::DeviceLibrary::Get(); }

vemko_value Flag(bool on) {
  vemko_value v{};
  v.v[0] = on ? 1 : 0;
  return v;
}

}  // namespace

std::uint64_t System::device_ids(vemko_device_id*& ids, std::uint32_t& count) {
  ids = nullptr;
  count = 0;
  const auto* lib = Library();
  return lib ? lib->deviceIds(&ids, &count) : kNoLibrary;
}

std::uint64_t System::free_device_ids(vemko_device_id* ids, std::uint32_t count) {
  const auto* lib = Library();
  return lib ? lib->freeDeviceIds(ids, count) : kNoLibrary;
}

VemkoDevice::~VemkoDevice() {
  if (m_open) close();
}

std::uint64_t VemkoDevice::open() {
  if (m_open) return VEMKO_OK;
  const auto* lib = Library();
  if (!lib) return kNoLibrary;
  const std::uint64_t status = lib->open(m_kind, m_index, &m_handle);
  m_open = status == VEMKO_OK;
  return status;
}

std::uint64_t VemkoDevice::close() {
  if (!m_open) return VEMKO_ERROR_BAD_HANDLE;
  m_open = false;
  const auto* lib = Library();
  return lib ? lib->close(m_handle) : kNoLibrary;
}

std::uint64_t VemkoDevice::Get(std::uint32_t property, vemko_value& out) const {
  const auto* lib = Library();
  if (!lib) return kNoLibrary;
  if (!m_open) return VEMKO_ERROR_BAD_HANDLE;
  out = vemko_value{};
  return lib->get(m_handle, property, &out);
}

std::uint64_t VemkoDevice::Set(std::uint32_t property, const vemko_value& in, vemko_value* out) {
  const auto* lib = Library();
  if (!lib) return kNoLibrary;
  if (!m_open) return VEMKO_ERROR_BAD_HANDLE;
  return lib->set(m_handle, property, &in, out);
}

std::uint64_t VemkoDevice::GetFlag(std::uint32_t property, bool& on) const {
  vemko_value v;
  const std::uint64_t status = Get(property, v);
  if (status == VEMKO_OK) on = v.v[0] != 0;
  return status;
}

std::uint64_t VemkoDevice::SetFlag(std::uint32_t property, bool on, bool* out) {
  vemko_value now{};
  const std::uint64_t status = Set(property, Flag(on), &now);
  if (status == VEMKO_OK && out) *out = now.v[0] != 0;
  return status;
}

std::uint64_t VemkoDevice::GetWord(std::uint32_t property, std::uint16_t& value) const {
  vemko_value v;
  const std::uint64_t status = Get(property, v);
  if (status == VEMKO_OK) value = static_cast<std::uint16_t>(v.v[0]);
  return status;
}

std::uint64_t VemkoDevice::SetWord(std::uint32_t property, std::uint16_t value,
                                   std::uint16_t* out) {
  vemko_value in{};
  in.v[0] = value;
  vemko_value now{};
  const std::uint64_t status = Set(property, in, &now);
  if (status == VEMKO_OK && out) *out = static_cast<std::uint16_t>(now.v[0]);
  return status;
}

std::uint64_t VemkoDevice::subscribe(vemko_callback callback, void* context) {
  const auto* lib = Library();
  if (!lib) return kNoLibrary;
  return m_open ? lib->subscribe(m_handle, callback, context) : VEMKO_ERROR_BAD_HANDLE;
}

std::uint64_t VemkoDevice::unsubscribe() {
  const auto* lib = Library();
  if (!lib) return kNoLibrary;
  return m_open ? lib->unsubscribe(m_handle) : VEMKO_ERROR_BAD_HANDLE;
}

std::uint64_t Projector::state(ProjectorState* out) {
  vemko_value v;
  const std::uint64_t status = Get(VEMKO_PROJECTOR_STATE, v);
  if (status == VEMKO_OK) *out = static_cast<ProjectorState>(v.v[0]);
  return status;
}

std::uint64_t Projector::on() { return Set(VEMKO_PROJECTOR_STATE, Flag(true)); }
std::uint64_t Projector::off() { return Set(VEMKO_PROJECTOR_STATE, Flag(false)); }

namespace {
vemko_value FromKeystone(const Keystone& k) {
  vemko_value v{};
  v.v[0] = k.type;
  for (int i = 0; i < 4; ++i) v.v[1 + i] = k.values[i];
  return v;
}
Keystone ToKeystone(const vemko_value& v) {
  Keystone k;
  k.type = v.v[0];
  for (int i = 0; i < 4; ++i) k.values[i] = v.v[1 + i];
  return k;
}
}  // namespace

std::uint64_t Projector::keystone(Keystone* out) {
  vemko_value v;
  const std::uint64_t status = Get(VEMKO_KEYSTONE, v);
  if (status == VEMKO_OK) *out = ToKeystone(v);
  return status;
}

std::uint64_t Projector::keystone(const Keystone& in) {
  return Set(VEMKO_KEYSTONE, FromKeystone(in));
}

std::uint64_t Projector::keystone(const Keystone& in, Keystone* out) {
  vemko_value now{};
  const std::uint64_t status = Set(VEMKO_KEYSTONE, FromKeystone(in), &now);
  if (status == VEMKO_OK && out) *out = ToKeystone(now);
  return status;
}

std::uint64_t Projector::structured_light_mode(bool* out) {
  return GetFlag(VEMKO_STRUCTURED_LIGHT_MODE, *out);
}
std::uint64_t Projector::structured_light_mode(bool on) {
  return SetFlag(VEMKO_STRUCTURED_LIGHT_MODE, on);
}
std::uint64_t Projector::grayscale() { return SetFlag(VEMKO_GRAYSCALE, true); }
std::uint64_t Projector::flash(bool on) { return SetFlag(VEMKO_FLASH, on); }

std::uint64_t Projector::calibration_data(vemko_calibration_texts& out) {
  out = vemko_calibration_texts{};
  const auto* lib = Library();
  if (!lib) return kNoLibrary;
  return is_open() ? lib->calibrationData(Handle(), &out) : VEMKO_ERROR_BAD_HANDLE;
}

std::uint64_t Projector::free_calibration_data(vemko_calibration_texts& data) {
  const auto* lib = Library();
  return lib ? lib->freeCalibrationData(&data) : kNoLibrary;
}

std::uint64_t TouchMat::state(TouchMatState* out) {
  vemko_value v;
  const std::uint64_t status = Get(VEMKO_TOUCHMAT_STATE, v);
  if (status == VEMKO_OK) *out = {v.v[0] != 0, v.v[1] != 0};
  return status;
}

std::uint64_t TouchMat::state(const TouchMatState& in) {
  vemko_value v{};
  v.v[0] = in.active ? 1 : 0;
  v.v[1] = in.touch ? 1 : 0;
  return Set(VEMKO_TOUCHMAT_STATE, v);
}

}  // namespace vemko
