#include "devices/felvar/ProjectorFelvar.h"

#include <cstdio>

namespace felvar {
namespace {

using vemko::Check;

}  // namespace

ProjectorFelvar::~ProjectorFelvar() { Close(); }

void ProjectorFelvar::OnNotification(void* context, std::uint32_t, std::int64_t) {
  static_cast<ProjectorFelvar*>(context)->m_notifications.fetch_add(1);
}

bool ProjectorFelvar::Open() {
  if (m_projector.is_open()) return true;
  if (!Check(m_projector.open(), "OPS! error %llx opening the projector\n")) return false;
  m_subscribed = Check(m_projector.subscribe(&ProjectorFelvar::OnNotification, this),
                       "OPS! error %llx subscribing to projector notifications\n");
  return true;
}

void ProjectorFelvar::Close() {
  if (m_active) Deactivate();
  if (m_touchMatOpen) {
    Check(m_touchMat.close(), "OPS! error %llx closing the touchmat\n");
    m_touchMatOpen = false;
  }
  if (m_projector.is_open()) {
    if (m_subscribed) m_projector.unsubscribe();
    m_subscribed = false;
    Check(m_projector.close(), "OPS! error %llx closing the projector\n");
  }
}

bool ProjectorFelvar::Activate() {
  if (m_active) return true;
  if (!Open()) return false;
  if (!Check(m_projector.state(&m_savedState), "OPS! error %llx getting projector state\n"))
    return false;
  m_keystoneRead =
      Check(m_projector.keystone(&m_savedKeystone), "OPS! error %llx getting projector keystone\n");
  Check(m_projector.on(), "OPS! error %llx turning Projector on\n");

  vemko::Keystone neutral1D, neutral2D;
  neutral1D.type = 1;
  neutral2D.type = 2;
  const bool disabled1D =
      Check(m_projector.keystone(neutral1D), "OPS! error %llx setting 1D keystone\n");
  const bool disabled2D =
      Check(m_projector.keystone(neutral2D), "OPS! error %llx setting 2D keystone\n");
  if (!disabled1D || !disabled2D)
    std::fprintf(stderr, "OPS! error disabling keystone correction\n");

  m_lightModeRead = Check(m_projector.structured_light_mode(&m_savedLightMode),
                          "OPS! error %llx getting structured_light_mode\n");
  Check(m_projector.structured_light_mode(true), "OPS! error %llx setting structured_light_mode\n");

  m_active = true;
  m_touchMatRead = false;
  if (!m_touchMatOpen) {
    m_touchMatOpen = Check(m_touchMat.open(), "OPS! error %llx opening the touchmat\n");
    if (!m_touchMatOpen) return true;
  }
  m_touchMatRead =
      Check(m_touchMat.state(&m_savedTouchMat), "OPS! error %llx getting touchmat state\n");
  Check(m_touchMat.state(vemko::TouchMatState{}), "OPS! error %llx setting touchmat state\n");
  return true;
}

void ProjectorFelvar::Deactivate() {
  if (!m_active) return;
  m_active = false;
  if (m_keystoneRead)
    Check(m_projector.keystone(m_savedKeystone), "OPS! error %llx restoring projector keystone\n");
  if (m_lightModeRead)
    Check(m_projector.structured_light_mode(m_savedLightMode),
          "OPS! error %llx setting structured_light_mode\n");
  if (m_savedState == vemko::ProjectorState::kOff)
    Check(m_projector.off(), "OPS! error %llx turning off the projector\n");
  if (m_touchMatOpen && m_touchMatRead)
    Check(m_touchMat.state(m_savedTouchMat), "OPS! error %llx restoring touchmat state\n");
}

bool ProjectorFelvar::TurnOn() {
  return Open() && Check(m_projector.on(), "OPS! error %llx turning on the Felvar projector\n");
}

bool ProjectorFelvar::EnableGrayscale() {
  return Open() && Check(m_projector.grayscale(), "OPS! error %llx enabling grayscale mode\n");
}

bool ProjectorFelvar::SetFlash(bool on) {
  return Open() && Check(m_projector.flash(on), "Error %llx setting flash on felvar projector.\n");
}

bool ProjectorFelvar::GetState(vemko::ProjectorState& state) {
  if (Open() && Check(m_projector.state(&state), "Error %llx getting state on felvar projector.\n"))
    return true;
  std::fprintf(stderr, "Error getting projector state\n");
  return false;
}

}  // namespace felvar
