#include "shell/CaptureWatchdog.h"

#include <cmath>

#include "scan/StructuredLightScanner.h"
#include "shell/ProgressReporter.h"

namespace shell {

CaptureWatchdog::CaptureWatchdog(ProgressReporter& progress, LogSink log, NotifyFunction notify,
                                 double stallSeconds)
    : m_progress(progress),
      m_log(log ? std::move(log) : StdoutLogSink()),
      m_notify(std::move(notify)),
      m_stallSeconds(stallSeconds) {}

void CaptureWatchdog::Fire(const std::string& text) {
  m_fired = true;
  m_watching = false;
  m_log("Error: " + text);
  if (m_notify) m_notify(text, "Scan");
  m_progress.RequestCancel();
}

void CaptureWatchdog::Tick(bool capturing, const scan::StructuredLightScanner* scanner,
                           Clock::time_point now) {
  if (!capturing) {
    m_watching = false;
    return;
  }
  if (!m_watching) {  // a new capture
    m_watching = true;
    m_fired = false;
    m_lastProgress = m_progress.GetOverallProgress();
    m_lastChange = now;
  }
  if (scanner) {
    for (std::size_t i = 0; i < scanner->GetCameraCount(); ++i) {
      const auto capture = scanner->GetImageCapture(i);
      if (capture && !capture->IsReady()) {
        Fire("Camera \"" + scanner->GetCameraName(i) +
             "\" stopped delivering images (it was disconnected): the scan was cancelled. Check "
             "its cable, "
             "connect it again and scan again.");
        return;
      }
    }
  }
  const double progress = m_progress.GetOverallProgress();
  if (std::fabs(progress - m_lastProgress) > 1e-9) {
    m_lastProgress = progress;
    m_lastChange = now;
    return;
  }
  const double still = std::chrono::duration<double>(now - m_lastChange).count();
  if (still > m_stallSeconds) {
    const long seconds = std::lround(still);
    Fire("The cameras delivered no usable image for " + std::to_string(seconds) +
         " s: the scan was cancelled. Check that every camera is connected and running (its frame "
         "rate on the "
         "structured-light page), then scan again.");
  }
}

}  // namespace shell
