#pragma once

#include <mutex>

#include "vid/Clock.h"

namespace vid {

// Frames per second of a stream, measured over windows of at least
// `interval` seconds. Updated on a streaming thread and read on others.
class FramerateMeasure {
 public:
  explicit FramerateMeasure(double interval, SecondsClock clock = {});

  // One call per frame.
  void Update();
  // The rate of the last completed window; 0 before the first one.
  double GetFramerate() const;
  // Seconds since the last Update (since construction or Reset before the first).
  double GetTimeSinceLastUpdate() const;
  // Forgets the rate and starts a new window now.
  void Reset();

 private:
  double Now() const;

  const double m_interval;
  const SecondsClock m_clock;
  mutable std::mutex m_mutex;
  double m_windowStart = 0.0;
  double m_lastUpdate = 0.0;
  long m_count = 0;
  double m_framerate = 0.0;
};

}  // namespace vid
