/*
 * The calling convention between Tarvelin and a motor plug-in library (a
 * turntable driver). Plain C, so that a plug-in can be written in C, C++ or
 * anything else that exports C functions.
 *
 * A plug-in is a shared library named
 *     motor_plugin1_64_<module>.so
 * lying beside its XML description (see the README, "Writing a turntable
 * plug-in"). Tarvelin opens it with dlopen(RTLD_NOW | RTLD_LOCAL) and looks up
 * the functions below by these exact names. motor_getParameter and
 * motor_setParameter are optional; all others are required, and a library
 * that lacks one is not used.
 *
 * Every function returns a 32-bit signed result, 0 on success. Codes Tarvelin
 * itself gives meaning to:
 *    -10  the device is not connected or the connection was lost
 *    -13  parameter (name) not supported
 *    -14  the device has no power
 * Any other negative code is the plug-in's own; Tarvelin hands it through and
 * logs it.
 *
 * The agreement for turntables (units and status):
 *  - angles are degrees; motor_move's target is the absolute table angle to
 *    turn to (not wrapped: 720 from 0 is two full turns), and the angle that
 *    motor_getPosition reports is on the same scale. To rotate by a step,
 *    read the position and move to position + step. Positive angles turn
 *    counter-clockwise seen from above (right-handed about the upward axis).
 *  - motor_move starts the motion and returns at once; motor_getStatus
 *    answers 1 while the table moves, 0 when it stands still, and a negative
 *    code on a fault.
 *  - motor_stop stops the table where it is.
 *
 * Threads: Tarvelin calls a plug-in from one worker thread at a time, and
 * passes back the handle that motor_connect filled, unchanged, on every
 * call. A library may be connected more than once at the same time (each
 * connection has its own handle), so keep state per handle.
 */
#ifndef TARVELIN_PLUGIN_MOTORPLUGINABI_H
#define TARVELIN_PLUGIN_MOTORPLUGINABI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define TARVELIN_MOTOR_EXPORT __attribute__((visibility("default")))
#else
#define TARVELIN_MOTOR_EXPORT
#endif

/* The interface name in a plug-in description of a motor plug-in. */
#define TARVELIN_MOTOR_INTERFACE_NAME "motor_plugin1"

enum {
  MOTOR_OK = 0,
  MOTOR_ERROR_NOT_CONNECTED = -10,
  MOTOR_ERROR_NOT_SUPPORTED = -13,
  MOTOR_ERROR_NO_POWER = -14
};

enum { MOTOR_STATUS_IDLE = 0, MOTOR_STATUS_MOVING = 1 };

/*
 * Opens the connection to the device and stores a handle of the plug-in's
 * choosing in *handle. parameters is the description's parameter text (plus
 * extra parameters appended after one blank); logPath names the plug-in's log
 * file, to which the plug-in may append its own lines. Neither text is
 * zero-terminated: each points into the caller's string and its length in
 * bytes bounds it. Copy what you keep.
 */
typedef int32_t (*motor_connect_fn)(void** handle, const char* parameters, uint32_t parametersLength,
                                    const char* logPath, uint32_t logPathLength);
/* Closes the connection; the handle is not used again. Tarvelin also calls
 * it with the handle left NULL (after a failed connect, or twice when it is
 * destroyed after a disconnect): return 0 then. */
typedef int32_t (*motor_disconnect_fn)(void* handle);
/* Starts a motion to target (degrees, absolute). */
typedef int32_t (*motor_move_fn)(double target, void* handle);
/* Stops the motion. */
typedef int32_t (*motor_stop_fn)(void* handle);
/* Stores the current position (degrees) in *position. */
typedef int32_t (*motor_getPosition_fn)(double* position, void* handle);
/* 0 idle, 1 moving, negative on a fault. */
typedef int32_t (*motor_getStatus_fn)(void* handle);
/* Optional: reads a named, pointer-sized parameter value. */
typedef int32_t (*motor_getParameter_fn)(intptr_t* value, const char* name, void* handle);
/* Optional: writes a named, pointer-sized parameter value. */
typedef int32_t (*motor_setParameter_fn)(intptr_t value, const char* name, void* handle);

/* Declarations for plug-in authors: define these in your library. */
TARVELIN_MOTOR_EXPORT int32_t motor_connect(void** handle, const char* parameters, uint32_t parametersLength,
                                            const char* logPath, uint32_t logPathLength);
TARVELIN_MOTOR_EXPORT int32_t motor_disconnect(void* handle);
TARVELIN_MOTOR_EXPORT int32_t motor_move(double target, void* handle);
TARVELIN_MOTOR_EXPORT int32_t motor_stop(void* handle);
TARVELIN_MOTOR_EXPORT int32_t motor_getPosition(double* position, void* handle);
TARVELIN_MOTOR_EXPORT int32_t motor_getStatus(void* handle);
TARVELIN_MOTOR_EXPORT int32_t motor_getParameter(intptr_t* value, const char* name, void* handle);
TARVELIN_MOTOR_EXPORT int32_t motor_setParameter(intptr_t value, const char* name, void* handle);

#ifdef __cplusplus
}
#endif

#endif /* TARVELIN_PLUGIN_MOTORPLUGINABI_H */
