#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "scan/StructuredLightScanner.h"
#include "shell/DepthConversion.h"
#include "shell/Language.h"
#include "shell/Log.h"
#include "shell/PatternWindow.h"
#include "shell/ProgressReporter.h"
#include "shell/ResultMesh.h"
#include "shell/ScanWorkflowInterface.h"
#include "shell/Settings.h"
#include "surf/fusion/ShapeFusion.h"

namespace shell {

// One press of "scan", from the scan definition to new scans in the scan
// list: builds the scan definition and the frame acceptance from the
// settings, runs the capture and then the evaluation as background jobs on
// a worker thread (progress into the ProgressReporter: capture the first
// half of the current block, evaluation the second; a pending cancel stops
// either), converts the per-camera results into surfaces on the
// user-interface thread, and adds their meshes with textures to
// ShapeFusion. It owns the "Scan/Status/…" flags.
//
// States: idle → capturing → evaluating → converted (surfaces available,
// Scan/Status/IsScanDataAvailable) → idle once the surfaces were added.
// Cancelling either job, or a job that ends cancelled, returns to idle with
// no surface.
//
// Surfaces: 0 and 1 are cameras 0 and 1 against the projector, 2 the two
// cameras together. Unless SetSurfaceSelection chose others, a scan adds
// the two-camera surface when it has one, else every camera surface it has.
//
// Background scans (Scan/ScanMode "background") are kept, filtered with the
// background parameters, per surface as the background that later scans
// remove when BackgroundRemoval/BackgroundRemovalEnabled is on (one per
// surface, so that each is compared with what the same camera saw); they
// are not meant for the scan list.
//
// Thread rules: every member is called on the user-interface thread; the
// jobs touch only the scanner and the progress reporter. The destructor
// cancels and joins a running job.
class ScanWorkflow : public IScanWorkflow {
 public:
  // The dual-camera product line's system-calibration update, run after a
  // scan: 0 fine, 1 the cameras might need recalibrating, -1 the update
  // failed, any other negative value: the scan failed or the cameras must be
  // recalibrated.
  using SystemCalibrationUpdate = std::function<int()>;

  struct Collaborators {
    Settings* settings = nullptr;
    const Language* language = nullptr;
    ProgressReporter* progress = nullptr;
    surf::ShapeFusion* fusion = nullptr;
    std::shared_ptr<scan::StructuredLightScanner> scanner;
    std::shared_ptr<PatternWindow> patternWindow;
    NotifyFunction notify;  // empty: logged
    LogSink log;            // empty: standard output
    // Empty when the scanner has none.
    SystemCalibrationUpdate updateSystemCalibration;
    // Saves a picture of the main window; empty when there is no window.
    std::function<bool(const std::filesystem::path&)> saveScreenshot;
    // Shows the scan list again after scans were added; may be empty.
    std::function<void()> refreshScanList;
  };

  enum class State { kIdle, kCapturing, kEvaluating, kConverted };

  // Throws std::invalid_argument when settings, language, progress or
  // fusion is missing.
  explicit ScanWorkflow(Collaborators collaborators);
  ~ScanWorkflow() override;
  ScanWorkflow(const ScanWorkflow&) = delete;
  ScanWorkflow& operator=(const ScanWorkflow&) = delete;

  // --- IScanWorkflow
  int ScanStart() override;
  void Pump() override;
  void SetScanDoneHandler(std::function<void()> handler) override { m_scanDone = std::move(handler); }
  int ScanAddToFusion() override;
  void Cancel() override;
  bool IsRecalibrationNeeded() const override { return m_recalibrationNeeded; }
  void ResetPendingCalibrationUpdate() override { m_recalibrationNeeded = false; }

  // --- The steps on their own
  // Builds the scan definition from the settings at the pattern window's
  // size, tells the scanner the texture capture mode (2 with texture, else
  // 0) and hands it the definition. False (logged) when it cannot be built.
  bool SetupScan(bool withTexture);
  // Sets the pattern window's colour mask and the scanner's acquisition
  // parameters from the settings.
  void SetupScanObjects();
  // The mesh of a surface with the settings' filtering (see
  // BuildResultMesh); false when the surface is not available or nothing
  // remains of it.
  // filtered, when given, receives the filtered depth map the mesh was made of.
  bool CreateResultMesh(int surfaceId, ResultMesh& mesh, std::shared_ptr<surf::DepthMap>* filtered = nullptr);
  // Above 0: result meshes also lose the border pixels of the valid region
  // and surfaces seen more obliquely than this (degrees; see
  // ResultMeshParameters::maxViewingAngleDeg). 0, the default, keeps them.
  void SetMaxViewingAngle(double degrees) { m_maxViewingAngleDeg = degrees; }

  // Seconds of the last scan's stages: capture, evaluation, and conversion
  // of the results into surfaces.
  struct StageSeconds {
    double capture = 0.0, evaluate = 0.0, convert = 0.0;
  };
  const StageSeconds& GetLastScanSeconds() const { return m_seconds; }

  // Replaces the scanner and its pattern window (and update), when idle;
  // throws std::logic_error while a job runs.
  void SetScanner(std::shared_ptr<scan::StructuredLightScanner> scanner, std::shared_ptr<PatternWindow> window,
                  SystemCalibrationUpdate update = {});
  // The calibration panels whose surfaces RemoveCalibPlanesAndBeyond cuts
  // away; without them that step is skipped.
  void SetBackgroundPlanes(std::optional<BackgroundPlanes> planes) { m_backgroundPlanes = std::move(planes); }
  // Surfaces that ScanAddToFusion adds; empty restores the default choice.
  void SetSurfaceSelection(std::vector<int> surfaceIds) { m_selection = std::move(surfaceIds); }
  // The surfaces ScanAddToFusion adds of the converted scan: the selection's
  // that are available (the stereo surface, else each camera's).
  std::vector<int> SelectedSurfaces() const;

  State GetState() const { return m_state; }
  bool IsJobRunning() const { return m_worker.joinable(); }
  // Throws std::out_of_range for an identifier outside 0…2.
  const ResultSurface& GetSurface(int surfaceId) const { return m_surfaces.at(static_cast<std::size_t>(surfaceId)); }
  // The stored background of a surface; null when there is none.
  const surf::DepthMap* GetBackgroundDepthMap(int surfaceId) const {
    return m_background.at(static_cast<std::size_t>(surfaceId)).get();
  }
  const scan::SLScanPtr& GetScanDefinition() const { return m_scanDefinition; }

 private:
  struct JobOutcome {
    bool completed = false;  // ran to the end without a cancel
    std::string error;       // an exception's message
  };

  int Fail(int code, const std::string& logLine, const std::string& key);
  void SaveScreenshot();
  void StartJob(std::function<JobOutcome()> job, std::function<void(const JobOutcome&)> done);
  void JoinWorker();
  void StartCapture();
  // Joins the finished job; false (scan ended) when it failed or was cancelled.
  bool EndOfJob(const JobOutcome& outcome, const char* job);
  void OnCaptureDone(const JobOutcome& outcome);
  void StartEvaluation();
  void OnEvaluationDone(const JobOutcome& outcome);
  void RunSystemCalibrationUpdate();
  ConversionInput CollectResults() const;
  void ConvertResults();
  void CheckExtendedViewDistance();
  void KeepBackground();
  void EndScan(State state);
  std::string Text(const std::string& key) const;
  void Notify(const std::string& key, const std::string& titleKey);

  template <class T>
  T Get(const char* titlePath) const;
  template <class T>
  void Set(const char* titlePath, const T& value);

  Collaborators m_c;
  LogSink m_log;
  State m_state = State::kIdle;
  bool m_backgroundScan = false;
  bool m_recalibrationNeeded = false;
  scan::SLScanPtr m_scanDefinition;
  std::array<ResultSurface, kSurfaceCount> m_surfaces;
  std::array<std::shared_ptr<surf::DepthMap>, kSurfaceCount> m_background;
  std::optional<BackgroundPlanes> m_backgroundPlanes;
  std::vector<int> m_selection;
  std::function<void()> m_scanDone;
  double m_maxViewingAngleDeg = 0.0;
  StageSeconds m_seconds;
  std::chrono::steady_clock::time_point m_stageStart;

  // The one background job and the completions it posts for Pump.
  std::thread m_worker;
  std::atomic<bool> m_cancelJob{false};
  std::mutex m_postedMutex;
  std::vector<std::function<void()>> m_posted;
  std::uint64_t m_jobSerial = 0;  // completions of older jobs are dropped
};

}  // namespace shell
