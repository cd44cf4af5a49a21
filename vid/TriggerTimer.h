#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "vid/ImageCapture.h"

namespace vid {

// Fires a source's software trigger periodically on a thread of its own,
// keeping to the schedule start + k · period (ticks missed by more than one
// period are dropped, not made up).
class TriggerTimer {
 public:
  // Throws std::invalid_argument "TriggerTimer - trigger is nullptr." or
  // "TriggerTimer - period must be positive." (seconds).
  TriggerTimer(std::shared_ptr<SoftwareTrigger> trigger, double periodSeconds);
  TriggerTimer(const TriggerTimer&) = delete;
  TriggerTimer& operator=(const TriggerTimer&) = delete;
  ~TriggerTimer();

  // The first trigger fires one period after Start. Starting a running timer does nothing.
  void Start();
  // Returns once no trigger is being sent and none will be. Must not be
  // called from the trigger itself.
  void Stop();
  bool IsRunning() const;
  // Triggers sent (SendSoftwareTrigger called) since construction.
  std::uint64_t GetTriggerCount() const;

 private:
  void Run();

  const std::shared_ptr<SoftwareTrigger> m_trigger;
  const double m_period;
  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_stop = false;
  std::uint64_t m_count = 0;
  std::thread m_thread;
};

}  // namespace vid
