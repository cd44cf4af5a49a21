// The shared device library: forwards to the installed back-end.
#include "devices/felvar/vemko/vemko.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

namespace {

std::mutex g_mutex;
vemko_backend g_backend{};
bool g_installed = false;

// A copy of the back-end, taken under the lock.
bool Backend(vemko_backend& backend) {
  std::lock_guard lock(g_mutex);
  backend = g_backend;
  return g_installed;
}

char* CopyText(const char* text) {
  if (!text) text = "";
  const std::size_t n = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::malloc(n));
  if (copy) std::memcpy(copy, text, n);
  return copy;
}

}  // namespace

extern "C" {

uint32_t vemko_api_version(void) { return VEMKO_API_VERSION; }

vemko_status vemko_set_backend(const vemko_backend* backend) {
  std::lock_guard lock(g_mutex);
  if (!backend) {
    g_backend = vemko_backend{};
    g_installed = false;
    return VEMKO_OK;
  }
  if (backend->version != VEMKO_API_VERSION || !backend->list_devices || !backend->open ||
      !backend->close || !backend->get || !backend->set || !backend->calibration_data ||
      !backend->subscribe || !backend->unsubscribe)
    return VEMKO_ERROR_BAD_ARGUMENT;
  g_backend = *backend;
  g_installed = true;
  return VEMKO_OK;
}

vemko_status vemko_device_ids(vemko_device_id** ids, uint32_t* count) {
  if (!ids || !count) return VEMKO_ERROR_BAD_ARGUMENT;
  *ids = nullptr;
  *count = 0;
  vemko_backend b;
  if (!Backend(b)) return VEMKO_OK;
  const uint32_t n = b.list_devices(b.context, nullptr, 0);
  if (n == 0) return VEMKO_OK;
  auto* list = static_cast<vemko_device_id*>(std::calloc(n, sizeof(vemko_device_id)));
  if (!list) return VEMKO_ERROR_BAD_ARGUMENT;
  const uint32_t filled = b.list_devices(b.context, list, n);
  *ids = list;
  *count = filled < n ? filled : n;
  return VEMKO_OK;
}

vemko_status vemko_free_device_ids(vemko_device_id* ids, uint32_t) {
  std::free(ids);
  return VEMKO_OK;
}

vemko_status vemko_open(uint32_t kind, uint32_t index, uint64_t* handle) {
  if (!handle) return VEMKO_ERROR_BAD_ARGUMENT;
  vemko_backend b;
  if (!Backend(b)) return VEMKO_ERROR_NO_DEVICE;
  return b.open(b.context, kind, index, handle);
}

vemko_status vemko_close(uint64_t handle) {
  vemko_backend b;
  if (!Backend(b)) return VEMKO_ERROR_BAD_HANDLE;
  return b.close(b.context, handle);
}

vemko_status vemko_get(uint64_t handle, uint32_t property, vemko_value* out) {
  if (!out) return VEMKO_ERROR_BAD_ARGUMENT;
  vemko_backend b;
  if (!Backend(b)) return VEMKO_ERROR_BAD_HANDLE;
  return b.get(b.context, handle, property, out);
}

vemko_status vemko_set(uint64_t handle, uint32_t property, const vemko_value* in,
                       vemko_value* out) {
  if (!in) return VEMKO_ERROR_BAD_ARGUMENT;
  vemko_backend b;
  if (!Backend(b)) return VEMKO_ERROR_BAD_HANDLE;
  return b.set(b.context, handle, property, in, out);
}

vemko_status vemko_calibration_data(uint64_t handle, vemko_calibration_texts* data) {
  if (!data) return VEMKO_ERROR_BAD_ARGUMENT;
  data->camera = data->projector = nullptr;
  vemko_backend b;
  if (!Backend(b)) return VEMKO_ERROR_BAD_HANDLE;
  const char* camera = nullptr;
  const char* projector = nullptr;
  const vemko_status status = b.calibration_data(b.context, handle, &camera, &projector);
  if (status != VEMKO_OK) return status;
  data->camera = CopyText(camera);
  data->projector = CopyText(projector);
  return VEMKO_OK;
}

vemko_status vemko_free_calibration_data(vemko_calibration_texts* data) {
  if (!data) return VEMKO_ERROR_BAD_ARGUMENT;
  std::free(data->camera);
  std::free(data->projector);
  data->camera = data->projector = nullptr;
  return VEMKO_OK;
}

vemko_status vemko_subscribe(uint64_t handle, vemko_callback callback, void* context) {
  vemko_backend b;
  if (!Backend(b)) return VEMKO_ERROR_BAD_HANDLE;
  return b.subscribe(b.context, handle, callback, context);
}

vemko_status vemko_unsubscribe(uint64_t handle) {
  vemko_backend b;
  if (!Backend(b)) return VEMKO_ERROR_BAD_HANDLE;
  return b.unsubscribe(b.context, handle);
}

}  // extern "C"
