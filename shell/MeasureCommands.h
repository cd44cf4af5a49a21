#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "shell/Log.h"
#include "surf/measure/Measure.h"

namespace surf {
class ShapeFusion;
}

namespace shell {

class ProgressReporter;
class Settings;

// The measurement page: surf::Measure over the scan list's scene, its test
// and reference objects named by scan index (−1 the fusion result), the
// tolerance (Measure/Comparison/ComparisonTolerance, mm) and method
// (CompareMode: "vertex" the nearest reference vertex, anything else the
// closest point on the reference's triangles), and the comparison as a
// background job whose report goes to logs/Measurements.txt. The object
// names and the validity flags of Measure/Comparison/… follow the choice.
//
// The comparison runs on a worker thread with the progress reporter's busy
// flag set; its progress callback is the reporter's (a pending cancel stops
// it). While it runs, the scan list and the measurement must not be
// touched; Poll on the user-interface thread sees it end.
//
// Thread rules: construct, call and destroy on the user-interface thread.
class MeasureCommands {
 public:
  // Every reference must outlive the commands.
  MeasureCommands(Settings& settings, surf::ShapeFusion& fusion, ProgressReporter& progress,
                  const std::filesystem::path& logFolder, LogSink log);
  // Cancels a running comparison and waits for it.
  ~MeasureCommands();
  MeasureCommands(const MeasureCommands&) = delete;
  MeasureCommands& operator=(const MeasureCommands&) = delete;

  surf::Measure& GetMeasure() { return m_measure; }
  const surf::Measure& GetMeasure() const { return m_measure; }

  // Chooses the objects by scan index (−1 the fusion result, below −1 none);
  // false, with nothing changed, for an index that names nothing or while a
  // comparison runs.
  bool SetTestObject(int index);
  bool SetReferenceObject(int index);
  // The scan index of the chosen object, −2 for none (or an object gone).
  int GetTestIndex() const;
  int GetReferenceIndex() const;

  // Starts the comparison with the settings' tolerance and method; false,
  // with a message in `why`, when an object is missing, both are the same,
  // the tolerance is not above 0, or a comparison runs.
  bool StartCompare_Async(std::string& why);
  bool IsBusy() const { return m_busy; }
  // On the user-interface thread: true once when a comparison has ended
  // since the last call (then GetResult tells how).
  bool Poll();
  // The last comparison was shown (false: failed or cancelled).
  bool GetResult() const { return m_result; }
  void Wait();

 private:
  int IndexOf(std::int32_t nodeID) const;
  void UpdateObjectSettings();

  Settings& m_settings;
  surf::ShapeFusion& m_fusion;
  ProgressReporter& m_progress;
  LogSink m_log;
  surf::Measure m_measure;
  std::thread m_worker;
  std::atomic<bool> m_busy{false};
  std::atomic<bool> m_finished{false};
  std::atomic<bool> m_abort{false};
  bool m_result = false;
};

}  // namespace shell
