// The watchdog over a scan's capture: a capture whose progress stands
// still is cancelled once, with advice; a moving capture is left alone.
#include "shell/CaptureWatchdog.h"

#include <gtest/gtest.h>

#include "shell/ProgressReporter.h"

namespace shell {
namespace {

using Clock = CaptureWatchdog::Clock;
using std::chrono::milliseconds;

TEST(CaptureWatchdog, CancelsAStalledCaptureOnceAndOnlyWhileCapturing) {
  ProgressReporter progress;
  std::vector<std::string> log, notes;
  CaptureWatchdog watchdog(
      progress, [&](const std::string& line) { log.push_back(line); },
      [&](const std::string& text, const std::string&) { notes.push_back(text); }, 2.0);
  const Clock::time_point t0 = Clock::now();
  progress.StartSession(1);

  // Progress that moves keeps the capture alive past the time-out.
  for (int i = 0; i <= 10; ++i) {
    progress.Report(0.05 * i);
    watchdog.Tick(true, nullptr, t0 + milliseconds(500 * i));
  }
  EXPECT_FALSE(watchdog.HasFired());
  EXPECT_FALSE(progress.IsCancelPending());

  // Standing still: nothing at 2 s, cancelled after.
  const Clock::time_point still = t0 + milliseconds(5000);
  watchdog.Tick(true, nullptr, still + milliseconds(1900));
  EXPECT_FALSE(watchdog.HasFired());
  watchdog.Tick(true, nullptr, still + milliseconds(2600));
  EXPECT_TRUE(watchdog.HasFired());
  EXPECT_TRUE(progress.IsCancelPending());
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("delivered no usable image for 3 s: the scan was cancelled"),
            std::string::npos)
      << notes[0];
  EXPECT_EQ(log.back(), "Error: " + notes[0]);
  // It fires once per capture.
  watchdog.Tick(true, nullptr, still + milliseconds(9000));
  EXPECT_EQ(notes.size(), 1u);

  // Not capturing: nothing happens however long; a new capture starts afresh.
  progress.ClearCancel();
  watchdog.Tick(false, nullptr, still + milliseconds(20000));
  watchdog.Tick(true, nullptr, still + milliseconds(60000));
  EXPECT_FALSE(watchdog.HasFired());
  watchdog.Tick(true, nullptr, still + milliseconds(61000));
  EXPECT_FALSE(progress.IsCancelPending());
}

}  // namespace
}  // namespace shell
