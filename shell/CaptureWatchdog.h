#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "shell/Log.h"
#include "shell/ScanWorkflowInterface.h"

namespace scan {
class StructuredLightScanner;
}

namespace shell {

class ProgressReporter;

// Watches a scan's capture for cameras that stop delivering. A camera whose
// capture is no longer ready (unplugged) ends the capture at once; a
// capture whose progress (the patterns completed) stands still for longer
// than the time-out ends it too (a camera that sends nothing holds every
// pattern). Either way the watchdog logs and notifies once, naming the
// camera where it can tell, and cancels the scan through the progress
// reporter; the scan machine then goes to Cancel and the scan list stays
// as it was.
//
// Thread rules: user-interface thread (the main loop's timer).
class CaptureWatchdog {
 public:
  using Clock = std::chrono::steady_clock;

  // stallSeconds: how long the progress may stand still.
  CaptureWatchdog(ProgressReporter& progress, LogSink log, NotifyFunction notify,
                  double stallSeconds = 10.0);

  // One timer tick. capturing: the workflow's capture job runs; scanner may
  // be null.
  void Tick(bool capturing, const scan::StructuredLightScanner* scanner, Clock::time_point now);
  // The last capture was cancelled by the watchdog.
  bool HasFired() const { return m_fired; }
  double GetStallSeconds() const { return m_stallSeconds; }

 private:
  void Fire(const std::string& text);

  ProgressReporter& m_progress;
  LogSink m_log;
  NotifyFunction m_notify;
  double m_stallSeconds;
  bool m_watching = false;
  bool m_fired = false;
  double m_lastProgress = -1.0;
  Clock::time_point m_lastChange{};
};

}  // namespace shell
