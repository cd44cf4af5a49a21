#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "apps/tarvelin-studio/FrameTimes.h"
#include "apps/tarvelin-studio/LiveOverlay.h"
#include "apps/tarvelin-studio/ScanPreview.h"
#include "apps/tarvelin-studio/SettingsDialog.h"
#include "apps/tarvelin-studio/StudioLog.h"
#include "apps/tarvelin-studio/StudioTexts.h"
#include "apps/tarvelin-studio/TargetPreview.h"
#include "apps/tarvelin-studio/TestProbe.h"
#include "apps/tarvelin-studio/ViewCache.h"
#include "foundation/utils/DisplayInfo.h"
#include "shell/HeadlessSession.h"
#include "v3d/ClientWnd.h"

struct GLFWwindow;

namespace studio {

class ProjectorWindow;

struct StudioOptions {
  std::string root;       // the data root; empty: the shell's default
  std::string language;   // the language of the texts; empty: the saved choice
  std::string rig;        // "default", "stereo", a rig folder; empty: the settings' profile
  double rigScale = 0.5;  // image scale of the virtual rig's cameras and projector
  std::filesystem::path probeFile;  // the test mode's report; empty: off
  std::filesystem::path project;    // opened at the start; empty: none
  int width = 1400, height = 900;   // the main window, screen pixels
};

// The main window: the scan list's 3D view in the middle, the pages
// (structured light, calibration, alignment, fusion, measurement) on the left, the scan
// list on the right, the log pane below, a menu for projects, import,
// export and settings, and the pattern window beside it. Every action calls
// the shell's session; long work runs on the shell's workers and the loop
// here keeps drawing, with a progress bar and a Cancel button.
//
// Thread rules: everything on the main thread (GLFW's rules); glfwInit must
// have succeeded.
class StudioWindow {
 public:
  explicit StudioWindow(StudioOptions options);
  ~StudioWindow();
  StudioWindow(const StudioWindow&) = delete;
  StudioWindow& operator=(const StudioWindow&) = delete;

  // Opens the windows, starts the session and runs until the main window is
  // closed. Exit code: 0, or 1 when the start failed (the reason printed).
  int Run();

 private:
  enum class Page { kStructuredLight, kCalibration, kAlignment, kFusion, kMeasurement };
  enum class FileAction { kNone, kOpenProject, kSaveProject, kImportMesh, kExport };
  struct ViewRect {
    int x = 0, y = 0, width = 0, height = 0;  // window pixels, top-left origin
  };

  bool Start(std::string& error);
  bool CreateMainWindow(std::string& error);
  bool CreateProjectorWindow(std::string& error);
  void Shutdown();
  void Frame();

  // The 3D view.
  void AttachView();
  void ForwardViewInput();
  void DrawView();
  void FitViewWhenTheListChanged();

  // The panels.
  void DrawMenu();
  void DrawPages();
  void DrawScanList();
  void DrawLogPane();
  void DrawProgress();
  void DrawFileDialog();
  void DrawMessage();
  void StructuredLightPage();
  void CalibrationPage();
  void DrawCalibrationProgress();
  void AlignmentPage();
  void FusionPage();
  void MeasurementPage();
  void TurntableControls();
  void ProjectorControls();
  void LiveView();

  // Actions (calls of the shell).
  void StartScan();
  void Cancel();
  void StartFusion();
  void StartCalibration();
  void RunFileAction();
  void ShowMessage(const std::string& text);
  void LoadTexts();
  std::string ScanName(int index);  // "Scan n", or the fusion result for −1
  bool IsBusy();
  bool IsCalibrating() const;

  void UpdateLiveImage();
  void UpdatePreview();
  void UpdateCalibration();
  void PlaceProjectorWindow(bool announce);
  void WriteProbe();
  std::string CurrentPhase();
  void RecordFrame(const std::array<double, FrameTimes::kPartCount>& parts);

  StudioOptions m_options;
  StudioLog m_log;
  Texts m_texts;
  std::unique_ptr<ConsoleCapture> m_console;
  GLFWwindow* m_window = nullptr;
  v3d::ClientWnd m_view;
  std::shared_ptr<ProjectorWindow> m_projector;
  std::unique_ptr<shell::HeadlessSession> m_session;
  std::unique_ptr<SettingsDialog> m_settingsDialog;
  TestProbe m_probe;
  bool m_imgui = false;

  Page m_page = Page::kStructuredLight;
  ViewRect m_viewRect;
  ViewRect m_viewportSent;
  double m_lastX = -1.0, m_lastY = -1.0;
  bool m_buttons[3] = {false, false, false};
  int m_geoCount = -1;
  bool m_hadFusion = false;
  ScanPreview m_preview;  // the single scan before "Add to list"
  bool m_hadPreview = false;

  // Live camera view.
  bool m_live = true;
  int m_liveCamera = 0;
  std::uint32_t m_liveTexture = 0;
  int m_liveWidth = 0, m_liveHeight = 0;
  LiveOverlayOptions m_overlay;
  ExposureStats m_exposure;
  double m_decodedFraction = -1.0;  // of the live picture by the last scan; < 0: not shown

  // Calibration: the target's picture with the detector's findings, and
  // the outcome of the last run.
  TargetPreview m_targetPreview;
  int m_calibCamera = 0;
  std::uint32_t m_targetTexture = 0;
  int m_targetWidth = 0, m_targetHeight = 0;
  int m_targetPoints = 0;
  bool m_targetComplete = false;
  std::string m_targetSummary, m_calibOutcome;
  bool m_wasCalibrating = false;
  int m_acceptedBefore = 0;

  // Projector monitor.
  std::vector<utils::DisplayInfo> m_displays;
  double m_nextDisplayCheck = 0.0;

  // Jobs started here whose end the loop waits for.
  bool m_fusing = false;
  int m_fusionsBefore = 0;
  bool m_measuring = false;
  int m_measuresBefore = 0;
  int m_alignA = 0, m_alignB = 1;
  int m_measureTest = -1, m_measureReference = 0;
  int m_exportIndex = -1;

  FileAction m_fileAction = FileAction::kNone;
  char m_path[1024] = {};
  std::string m_message;
  bool m_messagePending = false;
  bool m_messageOpen = false;
  std::uint64_t m_logVersionShown = 0;
  double m_frameSeconds = 0.0, m_worstFrameSeconds = 0.0;
  FrameTimes m_frameTimes;
  ViewCache m_viewCache;
  std::uint64_t m_viewDraws = 0;  // pictures of the 3D view drawn
  std::string m_lastPhase = "idle";
};

}  // namespace studio
