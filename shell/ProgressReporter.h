#pragma once

#include <atomic>
#include <mutex>
#include <string>

namespace shell {

// The shell's progress reporter: the one object through which background
// jobs report their completed fraction and learn of a pending cancel, and
// through which the scan-sequence controller groups work into sessions of
// blocks (a turntable run of n scans has n·5 − 1 blocks). A job's result
// code (0 started, −104 nothing to add, −500 scan failed, −501 not
// calibrated, or a job's own value) is kept until the next session.
//
// Thread rules: every member may be called from any thread.
class ProgressReporter {
 public:
  // Starts a session of numBlocks blocks (at least 1) at block 0; clears a
  // pending cancel and the result.
  void StartSession(int numBlocks);
  // Moves to the next block (stays on the last one).
  void NextBlock();
  // Ends the session: not busy, no block.
  void StopSession();
  bool IsSessionActive() const;

  // A job's progress within the current block, 0…1. Returns true when a
  // cancel is pending (the job's progress callback returns this).
  bool Report(double fraction);
  // The whole session's progress 0…1 (blocks done plus the current block's
  // fraction).
  double GetOverallProgress() const;

  void RequestCancel() { m_cancel = true; }
  bool IsCancelPending() const { return m_cancel; }
  void ClearCancel() { m_cancel = false; }

  // True while a background job runs (set by whoever starts and ends it).
  void SetBusy(bool busy) { m_busy = busy; }
  bool IsBusy() const { return m_busy; }

  void SetResult(int code) { m_result = code; }
  int GetResult() const { return m_result; }

  // The status bar: a prefix ("Scan 2/8: ") and a text.
  void SetStatusPrefix(const std::string& prefix);
  void SetStatusText(const std::string& text);
  std::string GetStatusLine() const;

 private:
  mutable std::mutex m_mutex;
  int m_numBlocks = 0;
  int m_block = 0;
  double m_fraction = 0.0;
  std::string m_prefix;
  std::string m_text;
  std::atomic<bool> m_cancel{false};
  std::atomic<bool> m_busy{false};
  std::atomic<int> m_result{0};
};

}  // namespace shell
