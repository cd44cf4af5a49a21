#include "vid/FramerateMeasure.h"

#include <chrono>

namespace vid {

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

FramerateMeasure::FramerateMeasure(double interval, SecondsClock clock)
    : m_interval(interval), m_clock(std::move(clock)) {
  m_windowStart = m_lastUpdate = Now();
}

double FramerateMeasure::Now() const { return m_clock ? m_clock() : SteadySeconds(); }

void FramerateMeasure::Update() {
  const double t = Now();
  std::lock_guard lock(m_mutex);
  ++m_count;
  m_lastUpdate = t;
  if (t - m_windowStart > m_interval) {
    m_framerate = double(m_count) / (t - m_windowStart);
    m_windowStart = t;
    m_count = 0;
  }
}

double FramerateMeasure::GetFramerate() const {
  std::lock_guard lock(m_mutex);
  return m_framerate;
}

double FramerateMeasure::GetTimeSinceLastUpdate() const {
  const double t = Now();
  std::lock_guard lock(m_mutex);
  return t - m_lastUpdate;
}

void FramerateMeasure::Reset() {
  const double t = Now();
  std::lock_guard lock(m_mutex);
  m_windowStart = m_lastUpdate = t;
  m_count = 0;
  m_framerate = 0.0;
}

}  // namespace vid
