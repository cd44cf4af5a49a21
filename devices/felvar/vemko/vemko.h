/* The device library of the projector–camera unit: a small C interface that
 * the program loads on first use (see devices/felvar/DeviceLibrary.h). The
 * library forwards every call to a back-end: a driver of real units, or a
 * simulated unit registered with vemko_set_backend (the virtual rig's).
 * Without a back-end no device is listed and every open fails with
 * VEMKO_ERROR_NO_DEVICE.
 *
 * Every call returns a 64-bit status, 0 = success. Calls may come from any
 * one thread at a time; notification callbacks come on the back-end's own
 * threads. */
#ifndef TARVELIN_VEMKO_H
#define TARVELIN_VEMKO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VEMKO_API_VERSION 1u

typedef uint64_t vemko_status;
#define VEMKO_OK 0ull
#define VEMKO_ERROR_NO_DEVICE 0xE0000001ull    /* no such device, or no back-end */
#define VEMKO_ERROR_BAD_HANDLE 0xE0000002ull   /* not an open device */
#define VEMKO_ERROR_BAD_PROPERTY 0xE0000003ull /* the device has no such property */
#define VEMKO_ERROR_BAD_ARGUMENT 0xE0000004ull
#define VEMKO_ERROR_NO_DATA 0xE0000005ull /* no factory calibration stored */

/* Device kinds; a device is opened by kind and index (0 = the first). */
#define VEMKO_PROJECTOR 1u
#define VEMKO_TOUCHMAT 2u
#define VEMKO_HIRES_CAMERA 3u

typedef struct vemko_device_id {
  uint16_t vendor_id;
  uint16_t product_id;
  char path[256]; /* zero-terminated */
} vemko_device_id;

/* A property value: the meaning of the entries depends on the property. */
typedef struct vemko_value {
  int64_t v[8];
} vemko_value;

/* Properties, readable with vemko_get and writable with vemko_set.
 *  projector:  STATE (v[0]: 0 off, 1 on, 2 standby; set: 0 off, 1 on),
 *              KEYSTONE (v[0]: 0 off, 1 1D, 2 2D; v[1..4] the corrections),
 *              STRUCTURED_LIGHT_MODE (v[0] 0/1), GRAYSCALE (set only),
 *              FLASH (v[0] 0/1)
 *  touch mat:  TOUCHMAT_STATE (v[0] active 0/1, v[1] touch enabled 0/1)
 *  camera:     EXPOSURE, GAIN (v[0] 16-bit value), AUTO_EXPOSURE, AUTO_GAIN,
 *              AUTO_WHITE_BALANCE, GAMMA_CORRECTION, LENS_SHADING,
 *              LENS_COLOR_SHADING (v[0] 0/1) */
#define VEMKO_PROJECTOR_STATE 1u
#define VEMKO_KEYSTONE 2u
#define VEMKO_STRUCTURED_LIGHT_MODE 3u
#define VEMKO_GRAYSCALE 4u
#define VEMKO_FLASH 5u
#define VEMKO_TOUCHMAT_STATE 10u
#define VEMKO_EXPOSURE 20u
#define VEMKO_GAIN 21u
#define VEMKO_AUTO_EXPOSURE 22u
#define VEMKO_AUTO_GAIN 23u
#define VEMKO_AUTO_WHITE_BALANCE 24u
#define VEMKO_GAMMA_CORRECTION 25u
#define VEMKO_LENS_SHADING 26u
#define VEMKO_LENS_COLOR_SHADING 27u

/* The unit's factory calibration: two zero-terminated texts. */
typedef struct vemko_calibration_texts {
  char* camera;
  char* projector;
} vemko_calibration_texts;

typedef void (*vemko_callback)(void* context, uint32_t event, int64_t value);

uint32_t vemko_api_version(void);
/* A list of the attached devices; free it with vemko_free_device_ids. */
vemko_status vemko_device_ids(vemko_device_id** ids, uint32_t* count);
vemko_status vemko_free_device_ids(vemko_device_id* ids, uint32_t count);
vemko_status vemko_open(uint32_t kind, uint32_t index, uint64_t* handle);
vemko_status vemko_close(uint64_t handle);
vemko_status vemko_get(uint64_t handle, uint32_t property, vemko_value* out);
/* Sets the property; out (may be null) receives the value now in effect. */
vemko_status vemko_set(uint64_t handle, uint32_t property, const vemko_value* in, vemko_value* out);
vemko_status vemko_calibration_data(uint64_t handle, vemko_calibration_texts* data);
vemko_status vemko_free_calibration_data(vemko_calibration_texts* data);
vemko_status vemko_subscribe(uint64_t handle, vemko_callback callback, void* context);
vemko_status vemko_unsubscribe(uint64_t handle);

/* A back-end: the same calls on its own context. list_devices fills at most
 * capacity records and returns how many there are; calibration_data hands
 * out texts that stay valid until the next call on the device. */
typedef struct vemko_backend {
  uint32_t version; /* VEMKO_API_VERSION */
  void* context;
  uint32_t (*list_devices)(void* context, vemko_device_id* ids, uint32_t capacity);
  vemko_status (*open)(void* context, uint32_t kind, uint32_t index, uint64_t* handle);
  vemko_status (*close)(void* context, uint64_t handle);
  vemko_status (*get)(void* context, uint64_t handle, uint32_t property, vemko_value* out);
  vemko_status (*set)(void* context, uint64_t handle, uint32_t property, const vemko_value* in,
                      vemko_value* out);
  vemko_status (*calibration_data)(void* context, uint64_t handle, const char** camera,
                                   const char** projector);
  vemko_status (*subscribe)(void* context, uint64_t handle, vemko_callback callback,
                            void* callback_context);
  vemko_status (*unsubscribe)(void* context, uint64_t handle);
} vemko_backend;

/* Installs the back-end (copied; null removes it). Returns
 * VEMKO_ERROR_BAD_ARGUMENT for another version or a missing call. */
vemko_status vemko_set_backend(const vemko_backend* backend);

#ifdef __cplusplus
}
#endif

#endif
