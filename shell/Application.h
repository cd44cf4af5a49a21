#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "scan/HardwareSetupIO.h"
#include "scan/StructuredLightScanner.h"
#include "shell/DataRoot.h"
#include "shell/Language.h"
#include "shell/Log.h"
#include "shell/PatternWindow.h"
#include "shell/ProgressReporter.h"
#include "shell/ScanWorkflow.h"
#include "shell/Settings.h"
#include "surf/fusion/ShapeFusion.h"

namespace shell {

// The shell's command line: "-language NAME", "-screenshot ARG", any
// argument containing ".zentoproj" or ".tarvelinproj" (the project to
// open), "--root DIR" (the data root), "--rig-scale S" (image scale of
// the virtual rig's cameras and projector, 0 < S ≤ 1, for quick runs),
// "--rig-seed N" (the seed of the virtual rig's camera noise),
// "--profile NAME" and "--product NAME" (HardwareSetup/CurrentProfile and
// HardwareSetup/Product, set at start as if chosen in the settings).
// Other arguments are kept in `ignored` and logged. The screenshot argument
// belongs to the main window, which the headless shell does not have: it
// is kept and logged as having no effect.
struct CommandLine {
  std::string language;
  std::string screenshot;
  std::filesystem::path project;
  std::string root;
  double rigImageScale = 1.0;
  std::uint32_t rigSeed = 1;
  std::string profile;
  std::string product;
  std::vector<std::string> ignored;

  // False with a reason for an option without its value or a bad scale.
  static bool Parse(const std::vector<std::string>& arguments, CommandLine& commandLine, std::string& error);
};

// What a product's scanner comes with: the scanner, the pattern window its
// patterns go through, the system-calibration update of the dual-camera
// line (may be empty) and the device behind it (kept alive with the
// scanner; deviceKind names what it is, e.g. "VirtualRig").
struct ScannerBundle {
  std::shared_ptr<scan::StructuredLightScanner> scanner;
  std::shared_ptr<PatternWindow> patternWindow;
  ScanWorkflow::SystemCalibrationUpdate updateSystemCalibration;
  std::shared_ptr<void> device;
  std::string deviceKind;
};

// What a scanner factory gets: the data root, the hardware setup and the
// file it came from (empty when none was found), the scanner's init
// parameters and the command line.
struct ScannerContext {
  const DataRoot& root;
  const scan::HardwareSetupIO& setup;
  std::filesystem::path setupFile;
  scan::StructuredLightScanner::InitParams initParams;
  const CommandLine& commandLine;
  LogSink log;
  // The desktop application's pattern window on the projector's monitor;
  // null without one. A product with a real projector shows its patterns
  // there; the virtual rig shows them on its simulated projector and here.
  scan::SLPatternDisplayPtr projectorWindow;
  // The settings store, for products that set a scan mode; may be null.
  Settings* settings = nullptr;
};

// Builds a product's scanner; throws (std::exception) when it cannot, and
// the application then falls back to the plain scanner.
using ScannerFactory = std::function<ScannerBundle(const ScannerContext& context)>;

// The plain structured-light scanner of a hardware setup: its cameras (no
// captures: there is no live camera backend for them) with their models and
// white balance, the projector's name and model, and a pattern window of
// the projector's display size (1920 × 1080 when the setup gives none) that
// shows the patterns in the context's projector window (nothing without
// one).
ScannerBundle CreatePlainScanner(const ScannerContext& context);

// A product's scanner set up for the hardware setup as the plain one is
// (cameras with models and white balance, projector, pattern window); with
// openCameras each camera's capture is created by the product
// (CreateImageCapture), and a camera that cannot be opened is logged.
ScannerBundle SetUpScanner(std::shared_ptr<scan::StructuredLightScanner> scanner, const ScannerContext& context,
                           bool openCameras);

// The hardware-setup file of the settings' HardwareSetup/CurrentProfile: its
// entry under HardwareSetupProfiles, else the profile itself, names a file
// or a folder holding Application::kProfileSetupFile, relative to root.
// Empty, with the reason in problem, when it names none or the file is missing.
std::filesystem::path FindProfileSetupFile(Settings& settings, const std::filesystem::path& root,
                                           std::string& problem);

// The application without windows. Start() runs the start-up: logs the
// version and the operating system, resolves the data root and installs
// the shipped defaults, loads the language (-language, else the saved
// choice; English when that fails) and the settings, loads the hardware
// setup of HardwareSetup/CurrentProfile (its entry under
// HardwareSetupProfiles, else the profile itself, is a file or a folder
// holding "rig.tarvelinsetup", relative to the data root), creates the
// scanner for HardwareSetup/Product, the scan list and the scan workflow,
// and opens the project argument. Products come from Options::products
// (by name; shell::RegisterProducts registers the devices and the virtual
// rig) and Options::otherProducts; the empty name gives the plain scanner,
// and a name without an implementation logs one line and gives the plain
// scanner too.
//
// The main loop (RunUntil) pumps the workflow's completions every
// millisecond and calls the timer handlers every 5 ms. Exit() (also run by
// the destructor after a successful Start) cancels a running scan, saves
// the settings and the language choice and destroys the scanner.
//
// Single-threaded: use from one thread, the user-interface thread.
class Application {
 public:
  struct Options {
    std::map<std::string, ScannerFactory> products;
    // Products whose name is not in `products`; empty: the plain scanner.
    ScannerFactory otherProducts;
    LogSink log;            // empty: standard output
    NotifyFunction notify;  // empty: logged as "title: text"
    ErrorSink error;        // the settings' message box; empty: standard error
    std::string computerName;  // empty: the host's (for the settings file name)
    std::string userName;      // empty: the account's
    // Empty: DataRoot::FindShippedShare() and FindShippedPlugins().
    std::filesystem::path shippedShare;
    std::filesystem::path shippedPlugins;
    // The desktop application's parts; empty when headless.
    scan::SLPatternDisplayPtr projectorWindow;  // see ScannerContext
    // Saves a picture of the main window (the workflow's latest-scan
    // screenshot, the -screenshot argument).
    std::function<bool(const std::filesystem::path&)> saveScreenshot;
  };

  static constexpr const char* kProfileSetupFile = "rig.tarvelinsetup";

  Application(CommandLine commandLine, Options options);
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // False with a reason when the data root cannot be set up or the
  // settings schema cannot be read; the application is then unusable.
  bool Start(std::string& error);
  void Exit();

  // Destroys the scanner and creates the one of HardwareSetup/Product for
  // the hardware setup (idle only; std::logic_error while a scan runs).
  void CreateScanner();

  // Runs the main loop until predicate is true (true) or timeout has passed
  // or Quit was called (false).
  bool RunUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout);
  // One pass of the main loop without waiting, for a loop of a window
  // system: pumps the workflow's completions and runs the timer handlers
  // when 5 ms have passed since they last ran.
  void Step();
  // Handlers called every 5 ms by the main loop, in the order added.
  void AddTimerHandler(std::function<void()> handler) { m_timerHandlers.push_back(std::move(handler)); }
  void Quit() { m_quit = true; }

  const CommandLine& GetCommandLine() const { return m_commandLine; }
  const DataRoot& GetDataRoot() const { return *m_root; }
  Settings& GetSettings() { return *m_settings; }
  const Language& GetLanguage() const { return m_language; }
  const scan::HardwareSetupIO& GetHardwareSetup() const { return m_setup; }
  const std::filesystem::path& GetHardwareSetupFile() const { return m_setupFile; }
  const std::shared_ptr<scan::StructuredLightScanner>& GetScanner() const { return m_bundle.scanner; }
  const ScannerBundle& GetScannerBundle() const { return m_bundle; }
  surf::ShapeFusion& GetShapeFusion() { return *m_fusion; }
  ProgressReporter& GetProgressReporter() { return m_progress; }
  ScanWorkflow& GetScanWorkflow() { return *m_workflow; }
  bool IsStarted() const { return m_started; }

 private:
  void LogVersions() const;
  void LoadLanguage();
  void LoadHardwareSetup();
  void OpenProject();

  CommandLine m_commandLine;
  Options m_options;
  LogSink m_log;
  std::unique_ptr<DataRoot> m_root;
  Language m_language;
  std::unique_ptr<Settings> m_settings;
  scan::HardwareSetupIO m_setup;
  std::filesystem::path m_setupFile;
  ScannerBundle m_bundle;
  std::unique_ptr<surf::ShapeFusion> m_fusion;
  ProgressReporter m_progress;
  std::unique_ptr<ScanWorkflow> m_workflow;
  std::vector<std::function<void()>> m_timerHandlers;
  std::chrono::steady_clock::time_point m_nextTick{};
  bool m_started = false;
  bool m_quit = false;
};

}  // namespace shell
