#include "sim/turntable/TurntableFollower.h"

#include <cmath>
#include <numbers>

namespace sim {

TurntableFollower::TurntableFollower(VirtualRig& rig, std::string channelPath)
    : m_rig(rig),
      m_channelPath(std::move(channelPath)),
      m_angleDeg(rig.GetScene().GetTurntable().angle * 180.0 / std::numbers::pi) {}

bool TurntableFollower::Update(std::string* error, double toleranceDeg) {
  std::string reason;
  TurntableMotion motion;
  if (!ReadTurntableChannel(m_channelPath, motion, reason)) {
    if (error) *error = reason;
    return false;
  }
  m_motion = motion;
  const double now = MonotonicSeconds();
  m_moving = motion.IsMovingAt(now);
  const double angle = motion.AngleAt(now);
  if (std::fabs(angle - m_angleDeg) > toleranceDeg) {
    m_rig.SetTurntableAngle(angle * std::numbers::pi / 180.0);
    m_angleDeg = angle;
  }
  return true;
}

}  // namespace sim
