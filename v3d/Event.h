#pragma once

#include <cstdint>

namespace v3d {

// Kinds of input and control events, the first field of every event record.
// 3 and 5 are consumed by the display; the others go to the scene.
enum EventKind : std::int32_t {
  kEventNone = 0,
  kEventKey = 1,     // keyboard; key holds the key code
  kEventMouse = 2,   // pointer buttons and motion; subKind is a MouseAction; button
                     // events name the button in key (0 left, 1 right, 2 middle)
  kEventRedraw = 3,  // a redraw request
  kEventTimer = 4,   // the display's periodic tick
  kEventResize = 5,  // x, y, width, height hold the new viewport
  kEventWheel = 7,   // wheel; key holds the wheel steps (positive away from the user)
};

enum MouseAction : std::int32_t {
  kMouseButtonDown = 1,
  kMouseButtonUp = 2,
  kMouseMove = 3,
};

// Bits of Event::modifiers.
enum EventModifier : std::uint32_t {
  kModifierShift = 1u << 0,
  kModifierControl = 1u << 1,
  kModifierAlt = 1u << 2,
  kModifierLeftButton = 1u << 3,
  kModifierMiddleButton = 1u << 4,
  kModifierRightButton = 1u << 5,
};

// One event record. Positions are viewport pixels with the origin at the
// top-left corner; input events carry the viewport's size in width and
// height.
struct Event {
  std::int32_t kind = kEventNone;
  std::int32_t subKind = 0;
  std::uint32_t modifiers = 0;
  std::int32_t key = 0;
  std::int32_t x = 0, y = 0;
  std::int32_t width = 0, height = 0;
};

// Something outside the node tree that wants the scene's events first (a
// tool of the shell). Returns true when it has handled the event.
class EventListener {
 public:
  virtual ~EventListener() = default;
  virtual bool OnEvent(const Event& event) = 0;
};

}  // namespace v3d
