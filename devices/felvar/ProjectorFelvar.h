#pragma once

#include <atomic>
#include <cstdint>

#include "devices/felvar/Vemko.h"
#include "scan/SLPatternDisplay.h"

namespace felvar {

// The unit's projector prepared for structured light: Activate switches it
// on with keystone correction off, structured-light mode on and the touch
// mat cleared, keeping what it changed; Deactivate gives that back. Each
// failing library call prints its "OPS! error <status in hex> …" line on
// standard error. A unit whose touch mat cannot be opened still activates;
// deactivation then leaves the mat alone.
//
// Threads: the scanner's worker thread. The projector's notifications only
// count what they are told.
class ProjectorFelvar : public scan::ProjectorControl {
 public:
  ProjectorFelvar() = default;
  ~ProjectorFelvar() override;

  // Opens the projector and subscribes to its notifications; false when the
  // projector cannot be opened.
  bool Open();
  // Ends a pending activation, then closes the touch mat and the projector.
  void Close();

  bool Activate() override;
  void Deactivate() override;

  bool TurnOn();
  bool EnableGrayscale();
  bool SetFlash(bool on);
  // The projector's state; false ("Error getting projector state") when it
  // cannot be read.
  bool GetState(vemko::ProjectorState& state);

  bool IsActive() const { return m_active; }
  bool IsTouchMatOpen() const { return m_touchMatOpen; }
  std::uint64_t GetNotificationCount() const { return m_notifications.load(); }

 private:
  static void OnNotification(void* context, std::uint32_t event, std::int64_t value);

  vemko::Projector m_projector;
  vemko::TouchMat m_touchMat;
  bool m_subscribed = false;
  vemko::ProjectorState m_savedState = vemko::ProjectorState::kOff;
  vemko::Keystone m_savedKeystone;
  bool m_keystoneRead = false;
  bool m_savedLightMode = false;
  bool m_lightModeRead = false;
  bool m_touchMatOpen = false;
  vemko::TouchMatState m_savedTouchMat;
  bool m_touchMatRead = false;
  bool m_active = false;
  std::atomic<std::uint64_t> m_notifications{0};
};

}  // namespace felvar
