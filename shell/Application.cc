#include "shell/Application.h"

#include <sys/utsname.h>

#include <cmath>
#include <stdexcept>
#include <thread>

#include "shell/SettingPath.h"

#ifndef TARVELIN_VERSION
#define TARVELIN_VERSION "unknown"
#endif

namespace shell {

namespace fs = std::filesystem;

namespace {

constexpr std::chrono::milliseconds kPumpInterval{1};
constexpr std::chrono::milliseconds kTimerInterval{5};
constexpr std::uint32_t kDefaultDisplayWidth = 1920;
constexpr std::uint32_t kDefaultDisplayHeight = 1080;

bool IsProjectArgument(const std::string& argument) {
  return argument.find(".zentoproj") != std::string::npos || argument.find(".tarvelinproj") != std::string::npos;
}

}  // namespace

bool CommandLine::Parse(const std::vector<std::string>& arguments, CommandLine& c, std::string& error) {
  c = CommandLine{};
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= arguments.size()) {
        error = a + " needs a value";
        return false;
      }
      out = arguments[++i];
      return true;
    };
    if (a == "-language") {
      if (!value(c.language)) return false;
    } else if (a == "-screenshot") {
      if (!value(c.screenshot)) return false;
    } else if (a == "--root") {
      if (!value(c.root)) return false;
    } else if (a == "--rig-scale") {
      std::string text;
      if (!value(text)) return false;
      double scale = 0.0;
      if (!ParseSettingText<double>(text, scale) || !(scale > 0.0 && scale <= 1.0)) {
        error = "--rig-scale must be a number in (0, 1], got \"" + text + "\"";
        return false;
      }
      c.rigImageScale = scale;
    } else if (a == "--rig-seed") {
      std::string text;
      if (!value(text)) return false;
      int seed = -1;
      if (!ParseSettingText<int>(text, seed) || seed < 0) {
        error = "--rig-seed must be a whole number of at least 0, got \"" + text + "\"";
        return false;
      }
      c.rigSeed = static_cast<std::uint32_t>(seed);
    } else if (a == "--profile") {
      if (!value(c.profile)) return false;
    } else if (a == "--product") {
      if (!value(c.product)) return false;
    } else if (IsProjectArgument(a)) {
      c.project = a;
    } else {
      c.ignored.push_back(a);
    }
  }
  return true;
}

ScannerBundle SetUpScanner(std::shared_ptr<scan::StructuredLightScanner> product, const ScannerContext& context,
                           bool openCameras) {
  ScannerBundle bundle;
  bundle.scanner = std::move(product);
  auto& scanner = *bundle.scanner;
  for (const auto& camera : context.setup.cameras) {
    const std::size_t index = scanner.AddCamera(camera.name, false);
    if (camera.cameraModel) scanner.SetCameraModel(camera.cameraModel, index);
    scanner.SetImageRotation(static_cast<std::uint32_t>(camera.imageRotation), index);
    const auto& wb = camera.whiteBalanceFactors;  // blue, green, red
    if (wb[0] > 0.0f && wb[1] > 0.0f && wb[2] > 0.0f) scanner.SetWhiteBalanceFactors(wb[2], wb[1], wb[0], index);
    if (openCameras && !scanner.CreateImageCapture(index) && context.log)
      context.log("Camera \"" + camera.name + "\" is not connected: no video device of that name could be opened " +
                  "in a format the product supports (see `tarvelin cameras`).");
  }
  const auto& display = context.setup.projector.extendedDisplay;
  const std::uint32_t width = display.resX > 0 ? std::uint32_t(display.resX) : kDefaultDisplayWidth;
  const std::uint32_t height = display.resY > 0 ? std::uint32_t(display.resY) : kDefaultDisplayHeight;
  scan::SLPatternDisplayPtr screen = context.projectorWindow;
  if (!screen) screen = std::make_shared<scan::SLCallbackPatternDisplay>(nullptr, nullptr);
  bundle.patternWindow = std::make_shared<MaskedPatternWindow>(std::move(screen), width, height);
  scanner.SetProjector(display.name.empty() ? "Projector" : display.name, bundle.patternWindow->GetPatternDisplay());
  scanner.SetProjectorModel(context.setup.projector.projectorModel);
  return bundle;
}

ScannerBundle CreatePlainScanner(const ScannerContext& context) {
  return SetUpScanner(std::make_shared<scan::StructuredLightScanner>(context.initParams), context, false);
}

Application::Application(CommandLine commandLine, Options options)
    : m_commandLine(std::move(commandLine)),
      m_options(std::move(options)),
      m_log(m_options.log ? m_options.log : StdoutLogSink()),
      m_language(m_log) {}

Application::~Application() {
  if (m_started) Exit();
}

bool Application::Start(std::string& error) {
  if (m_started) return true;
  LogVersions();
  for (const auto& argument : m_commandLine.ignored) m_log("Ignoring the argument \"" + argument + "\".");
  if (!m_commandLine.screenshot.empty() && !m_options.saveScreenshot) {
    m_log("-screenshot " + m_commandLine.screenshot + ": there is no main window to capture in the headless shell.");
  }
  try {
    m_root = std::make_unique<DataRoot>(DataRoot::Resolve(m_commandLine.root));
    const fs::path share = m_options.shippedShare.empty() ? DataRoot::FindShippedShare() : m_options.shippedShare;
    const fs::path plugins =
        m_options.shippedPlugins.empty() ? DataRoot::FindShippedPlugins() : m_options.shippedPlugins;
    DataRoot::InstallResult installed;
    if (!m_root->InstallDefaults(share, plugins, m_log, installed, error)) return false;
    m_log("Data root: " + m_root->GetFolder().string());

    LoadLanguage();
    SettingsOptions settingsOptions;
    settingsOptions.root = m_root->GetFolder();
    settingsOptions.computerName = m_options.computerName;
    settingsOptions.userName = m_options.userName;
    settingsOptions.log = m_log;
    settingsOptions.error = m_options.error;
    m_settings = std::make_unique<Settings>(std::move(settingsOptions));
    if (!m_commandLine.profile.empty())
      m_settings->GetSetting<std::string>(SettingPath("HardwareSetup/CurrentProfile")).SetValue(m_commandLine.profile);
    if (!m_commandLine.product.empty())
      m_settings->GetSetting<std::string>(SettingPath("HardwareSetup/Product")).SetValue(m_commandLine.product);
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }

  m_fusion = std::make_unique<surf::ShapeFusion>();
  ScanWorkflow::Collaborators c;
  c.settings = m_settings.get();
  c.language = &m_language;
  c.progress = &m_progress;
  c.fusion = m_fusion.get();
  c.log = m_log;
  c.notify = m_options.notify;
  c.saveScreenshot = m_options.saveScreenshot;
  m_workflow = std::make_unique<ScanWorkflow>(std::move(c));

  LoadHardwareSetup();
  CreateScanner();
  OpenProject();
  m_started = true;
  return true;
}

void Application::LogVersions() const {
  m_log(std::string("Tarvelin version ") + TARVELIN_VERSION);
  utsname system{};
  if (uname(&system) == 0) {
    m_log(std::string("Operating system: ") + system.sysname + " " + system.release + " " + system.machine);
  }
}

void Application::LoadLanguage() {
  const std::string name = m_commandLine.language.empty() ? Language::ReadLanguageChoice(m_root->GetFolder())
                                                          : m_commandLine.language;
  std::string error;
  if (!m_language.LoadFromRoot(m_root->GetFolder(), name, error))
    m_log("Error: no language table could be loaded (" + error + "); texts are shown as their keys.");
  else
    m_log("Language: " + m_language.GetName());
}

fs::path FindProfileSetupFile(Settings& settings, const fs::path& root, std::string& problem) {
  const std::string profile =
      settings.GetSetting<std::string>(SettingPath("HardwareSetup/CurrentProfile")).Value();
  std::string location = profile;
  try {
    location =
        settings.GetSetting<std::string>(SettingPath("HardwareSetupProfiles/" + profile)).Value();
  } catch (const SettingNotFound&) {
    // The profile names the setup itself.
  } catch (const std::invalid_argument&) {
    // A profile name that is no XPath step is taken as a path too.
  }
  if (location.empty()) {
    problem = "the profile \"" + profile + "\" names none.";
    return {};
  }
  fs::path file = fs::path(location).is_absolute() ? fs::path(location) : root / location;
  std::error_code ec;
  if (fs::is_directory(file, ec)) file /= Application::kProfileSetupFile;
  if (!fs::is_regular_file(file, ec)) {
    problem = file.string() + " does not exist.";
    return {};
  }
  return file;
}

void Application::LoadHardwareSetup() {
  m_setup = scan::HardwareSetupIO{};
  m_setupFile.clear();
  std::string problem;
  const fs::path file = FindProfileSetupFile(*m_settings, m_root->GetFolder(), problem);
  if (file.empty()) {
    m_log("No hardware setup: " + problem);
    return;
  }
  if (!scan::LoadHardwareSetup(m_setup, file.string())) {
    m_log("Error: the hardware setup " + file.string() + " could not be read.");
    m_setup = scan::HardwareSetupIO{};
    return;
  }
  m_setupFile = file;
  m_log("Hardware setup: " + file.string() + " (" + std::to_string(m_setup.cameras.size()) + " cameras)");
}

void Application::CreateScanner() {
  if (m_workflow->IsJobRunning()) throw std::logic_error("Application::CreateScanner - a scan is running.");
  const double previousLimit = m_bundle.scanner ? m_bundle.scanner->GetFrameRateLimit() : 0.0;
  m_workflow->SetScanner(nullptr, nullptr);
  m_bundle = ScannerBundle{};  // the old scanner goes first

  const std::string product = m_settings->GetSetting<std::string>(SettingPath("HardwareSetup/Product")).Value();
  const ScannerContext context{*m_root, m_setup, m_setupFile,
                               scan::StructuredLightScanner::InitParams{m_root->GetLogFolder().string() + "/",
                                                                        previousLimit},
                               m_commandLine, m_log, m_options.projectorWindow, m_settings.get()};
  if (!product.empty()) {
    const auto named = m_options.products.find(product);
    const ScannerFactory* factory = named != m_options.products.end() ? &named->second
                                    : m_options.otherProducts         ? &m_options.otherProducts
                                                                      : nullptr;
    if (!factory) {
      m_log("Product \"" + product + "\" has no implementation here; using the plain structured-light scanner.");
    } else {
      try {
        m_bundle = (*factory)(context);
      } catch (const std::exception& e) {
        m_log("Error: the scanner of product \"" + product + "\" could not be created (" + e.what() +
              "); using the plain structured-light scanner.");
        m_bundle = ScannerBundle{};
      }
    }
  }
  if (!m_bundle.scanner || !m_bundle.patternWindow) m_bundle = CreatePlainScanner(context);
  m_log("Scanner: " + (product.empty() ? std::string("plain") : product) + ", " +
        std::to_string(m_bundle.scanner->GetCameraCount()) + " cameras, " +
        (m_bundle.scanner->IsCalibrated() ? "calibrated" : "not calibrated"));
  m_workflow->SetScanner(m_bundle.scanner, m_bundle.patternWindow, m_bundle.updateSystemCalibration);
}

void Application::OpenProject() {
  if (m_commandLine.project.empty()) return;
  if (m_fusion->LoadProject(m_commandLine.project))
    m_log("Project opened: " + m_commandLine.project.string());
  else
    m_log("Error: the project " + m_commandLine.project.string() + " could not be opened.");
}

bool Application::RunUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  m_nextTick = start + kTimerInterval;
  m_quit = false;
  while (!m_quit) {
    if (predicate && predicate()) return true;
    if (Clock::now() - start > timeout) return false;
    Step();
    std::this_thread::sleep_for(kPumpInterval);
  }
  return false;
}

void Application::Step() {
  const auto now = std::chrono::steady_clock::now();
  m_workflow->Pump();
  if (now >= m_nextTick) {
    for (const auto& handler : m_timerHandlers) handler();
    m_nextTick = now + kTimerInterval;
  }
}

void Application::Exit() {
  if (!m_started) return;
  m_started = false;
  m_workflow->Cancel();
  if (!m_settings->SaveSettings()) m_log("Error: the settings could not be saved.");
  if (!Language::SaveLanguageChoice(m_root->GetFolder(), m_language.GetName().empty() ? "English"
                                                                                      : m_language.GetName()))
    m_log("Error: the language choice could not be saved.");
  m_workflow->SetScanner(nullptr, nullptr);
  m_bundle = ScannerBundle{};
}

}  // namespace shell
