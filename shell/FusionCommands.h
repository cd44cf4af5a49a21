#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "shell/FusionParameters.h"
#include "shell/Log.h"

namespace surf {
class ShapeFusion;
}

namespace shell {

class Language;
class ProgressReporter;
class Settings;

// The fusion page: turns the settings ShapeFusion/Fusion/… into a fusion
// run of surf::ShapeFusion in the background, changes the hole closing of
// the finished result in seven steps (CloseHolesRelSizeStep) without fusing
// again, and keeps the expected vertex spacing text (VertexSpacing) in step
// with Resolution.
//
// The fusion runs on a worker thread while the progress reporter's busy
// flag is set; its progress callback is the reporter's (a pending cancel
// stops it). While it runs the scan list must not be edited; a hole-closing
// step or resolution changed meanwhile is stored and applied when Poll sees
// the job end.
//
// Thread rules: construct, call and destroy on the user-interface thread.
class FusionCommands {
 public:
  // Subscribes to CloseHolesRelSizeStep and Resolution (the spacing text is
  // filled at once). Every reference must outlive the commands.
  FusionCommands(Settings& settings, const Language& language, surf::ShapeFusion& fusion, ProgressReporter& progress,
                 LogSink log);
  // Cancels a running fusion and waits for it.
  ~FusionCommands();
  FusionCommands(const FusionCommands&) = delete;
  FusionCommands& operator=(const FusionCommands&) = delete;

  // The parameters the settings give now.
  FusionParameters ReadFusionParameters() const;

  // Starts the fusion job; false (logged) while one runs.
  bool StartFusion_Async();
  bool IsBusy() const { return m_busy; }
  // Blocks until the job has ended (then call Poll).
  void Wait();
  // On the user-interface thread: when a job has ended since the last call,
  // updates ShapeFusion/Status/IsFusionAvailable, applies a hole-closing
  // step changed meanwhile, and returns true.
  bool Poll();
  // The job's result: the fusion result's scene-node identifier, or −1 when
  // the fusion failed or was cancelled (also before any job).
  std::int32_t GetResult() const { return m_result; }

  // The hole-closing step (clamped to 0…6) as a percentage stored in
  // CloseHolesRelSizePercent, then ShapeFusion::FilterFusionResult.
  void ApplyCloseHolesStep(int step);
  // VertexSpacing from ShapeFusion::CalculateFusionVoxelSize(Resolution).
  void UpdateVertexSpacing();

 private:
  Settings& m_settings;
  const Language& m_language;
  surf::ShapeFusion& m_fusion;
  ProgressReporter& m_progress;
  LogSink m_log;
  std::shared_ptr<bool> m_alive;  // guards the settings subscriptions
  std::thread m_worker;
  std::atomic<bool> m_busy{false};
  std::atomic<bool> m_finished{false};
  std::atomic<bool> m_abort{false};
  std::atomic<std::int32_t> m_result{-1};
  bool m_stepPending = false;
  bool m_spacingPending = false;
};

}  // namespace shell
