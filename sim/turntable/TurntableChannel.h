#pragma once

#include <string>

namespace sim {

// The channel between the virtual turntable plug-in (the "driver",
// motor_plugin1_64_virtualturntable.so) and the virtual rig (the "device"):
// a small text file that the plug-in rewrites whenever a motion starts or
// ends and that anyone may read at any time. It records the current motion,
// not the current angle, so a reader computes the angle at any moment
// without the plug-in running:
//
//   tarvelin-virtual-turntable 1
//   connected 1                  a driver holds the table
//   powered 1                    0: the table has lost its power
//   start_deg 0                  angle when the motion started, degrees
//   target_deg 45                angle the motion ends at, degrees
//   start_time_s 81234.5678      when it started: CLOCK_MONOTONIC seconds
//   speed_deg_per_s 90           constant turning speed (> 0)
//
// Lines may come in any order; unknown keys are ignored. Writers replace the
// file in one rename, so a reader never sees half a file. CLOCK_MONOTONIC
// is shared by every process of the machine, so the driver and a rig in
// another process agree on the angle.
struct TurntableMotion {
  bool connected = false;
  bool powered = true;
  double startDeg = 0;
  double targetDeg = 0;
  double startTime = 0;  // s, CLOCK_MONOTONIC
  double speedDegPerS = 90;

  // The table's angle (degrees) at time t (CLOCK_MONOTONIC seconds): from
  // start towards target at the speed, then at target.
  double AngleAt(double t) const;
  bool IsMovingAt(double t) const;
  // A motion that stands still at angle from time t on.
  static TurntableMotion StandingAt(double angleDeg, double t, double speedDegPerS);
};

// CLOCK_MONOTONIC in seconds.
double MonotonicSeconds();

// "$XDG_RUNTIME_DIR/tarvelin-virtualturntable.state", or
// "/tmp/tarvelin-virtualturntable-<uid>.state" without a runtime folder:
// where the plug-in and the rig meet when the connect parameters name no
// channel.
std::string DefaultTurntableChannelPath();

// The file's text for motion, and the motion of a text: false with a
// one-line reason for a wrong header, a missing or unreadable value, or a
// speed that is not positive.
std::string FormatTurntableChannel(const TurntableMotion& motion);
bool ParseTurntableChannel(const std::string& text, TurntableMotion& motion, std::string& error);

// Replaces the file at path atomically (temporary file and rename in the
// same folder); false with a reason when it cannot be written.
bool WriteTurntableChannel(const std::string& path, const TurntableMotion& motion, std::string& error);
// False with a reason when the file is missing, unreadable or malformed.
bool ReadTurntableChannel(const std::string& path, TurntableMotion& motion, std::string& error);

}  // namespace sim
