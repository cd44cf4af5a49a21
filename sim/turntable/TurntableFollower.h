#pragma once

#include <string>

#include "sim/VirtualRig.h"
#include "sim/turntable/TurntableChannel.h"

namespace sim {

// The virtual rig's side of the turntable channel: keeps the rig's table at
// the angle the virtual turntable plug-in publishes. Channel degrees map to
// the rig's turntable angle in radians (both right-handed about the table's
// upward axis). Call Update from the thread that owns the rig, e.g. once
// per main-loop tick and before every capture.
class TurntableFollower {
 public:
  // The rig must outlive the follower.
  TurntableFollower(VirtualRig& rig, std::string channelPath);

  // Reads the channel and, when the angle moved by more than toleranceDeg
  // since the last applied one, turns the rig's table (which casts its rays
  // again). False with a reason when the channel cannot be read; the table
  // then stays where it is.
  bool Update(std::string* error = nullptr, double toleranceDeg = 1e-9);

  // The angle last applied to the rig (degrees) and the motion last read.
  double GetAngleDeg() const { return m_angleDeg; }
  const TurntableMotion& GetMotion() const { return m_motion; }
  bool IsMoving() const { return m_moving; }
  const std::string& GetChannelPath() const { return m_channelPath; }

 private:
  VirtualRig& m_rig;
  std::string m_channelPath;
  TurntableMotion m_motion;
  double m_angleDeg;
  bool m_moving = false;
};

}  // namespace sim
