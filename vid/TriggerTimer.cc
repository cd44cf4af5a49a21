#include "vid/TriggerTimer.h"

#include <chrono>
#include <stdexcept>

namespace vid {

TriggerTimer::TriggerTimer(std::shared_ptr<SoftwareTrigger> trigger, double periodSeconds)
    : m_trigger(std::move(trigger)), m_period(periodSeconds) {
  if (!m_trigger) throw std::invalid_argument("TriggerTimer - trigger is nullptr.");
  if (!(periodSeconds > 0.0) || periodSeconds > 1e6)
    throw std::invalid_argument("TriggerTimer - period must be positive.");
}

TriggerTimer::~TriggerTimer() { Stop(); }

void TriggerTimer::Start() {
  std::lock_guard lock(m_mutex);
  if (m_thread.joinable()) return;
  m_stop = false;
  m_thread = std::thread([this] { Run(); });
}

void TriggerTimer::Stop() {
  std::thread thread;
  {
    std::lock_guard lock(m_mutex);
    if (m_thread.get_id() == std::this_thread::get_id())
      throw std::logic_error("TriggerTimer::Stop - called from the trigger thread.");
    m_stop = true;
    thread = std::move(m_thread);
  }
  m_wake.notify_all();
  if (thread.joinable()) thread.join();
}

bool TriggerTimer::IsRunning() const {
  std::lock_guard lock(m_mutex);
  return m_thread.joinable() && !m_stop;
}

std::uint64_t TriggerTimer::GetTriggerCount() const {
  std::lock_guard lock(m_mutex);
  return m_count;
}

void TriggerTimer::Run() {
  using Clock = std::chrono::steady_clock;
  const auto period =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(m_period));
  auto next = Clock::now() + period;
  std::unique_lock lock(m_mutex);
  while (!m_wake.wait_until(lock, next, [&] { return m_stop; })) {
    ++m_count;
    lock.unlock();
    m_trigger->SendSoftwareTrigger();
    lock.lock();
    next += period;
    const auto now = Clock::now();
    if (now > next + period) next = now + period;
  }
}

}  // namespace vid
