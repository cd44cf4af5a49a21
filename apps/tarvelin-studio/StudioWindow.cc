#include "apps/tarvelin-studio/StudioWindow.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>
#include <backends/imgui_impl_glfw.h>
#include <backends/imgui_impl_opengl3.h>
#include <imgui.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

#include "apps/tarvelin-studio/ProjectorWindow.h"
#include "shell/SettingPath.h"
#include "shell/VirtualRigScanner.h"
#include "surf/fusion/ShapeFusion.h"
#include "v3d/LockGuard.h"
#include "v3d/Navigation.h"
#include "v3d/Scene.h"

namespace studio {

namespace fs = std::filesystem;

namespace {

constexpr float kPagesWidth = 430.f;
constexpr float kListWidth = 250.f;
constexpr float kLogHeight = 170.f;
constexpr double kPi = 3.14159265358979323846;

std::vector<std::string> SessionArguments(const StudioOptions& options) {
  std::vector<std::string> arguments;
  if (!options.root.empty()) arguments.insert(arguments.end(), {"--root", options.root});
  if (!options.language.empty()) arguments.insert(arguments.end(), {"-language", options.language});
  if (!options.rig.empty()) {
    std::string profile = options.rig == "default"  ? "VirtualDefault"
                          : options.rig == "stereo" ? "VirtualStereo"
                                                    : fs::absolute(options.rig).string();
    arguments.insert(arguments.end(), {"--profile", profile, "--product", shell::kVirtualProduct});
  }
  arguments.insert(arguments.end(), {"--rig-scale", std::to_string(options.rigScale)});
  return arguments;
}

}  // namespace

StudioWindow::StudioWindow(StudioOptions options)
    : m_options(std::move(options)), m_probe(m_options.probeFile) {}

StudioWindow::~StudioWindow() { Shutdown(); }

int StudioWindow::Run() {
  std::string error;
  if (!Start(error)) {
    m_console.reset();
    std::fprintf(stderr, "Error: %s\n", error.c_str());
    Shutdown();
    return 1;
  }
  while (!glfwWindowShouldClose(m_window)) Frame();
  m_log.Add("Closing: the settings are saved.");
  Shutdown();
  return 0;
}

bool StudioWindow::Start(std::string& error) {
  if (!CreateMainWindow(error) || !CreateProjectorWindow(error)) return false;
  m_console = std::make_unique<ConsoleCapture>(m_log);

  shell::HeadlessSession::Options options;
  options.arguments = SessionArguments(m_options);
  options.application.log = m_log.Sink();
  options.application.notify = [this](const std::string& text, const std::string& title) {
    m_log.Add(title + ": " + text, StudioLog::Kind::kNote);
    ShowMessage(title + ": " + text);
  };
  options.application.projectorWindow = m_projector;
  if (!m_options.rig.empty())
    options.turntableParameters = "speed=720";  // the virtual table turns fast
  m_session = std::make_unique<shell::HeadlessSession>(std::move(options));
  if (!m_session->Start(error)) {
    error = "the shell did not start: " + error;
    return false;
  }
  LoadTexts();
  if (!m_session->GetApplication().GetScanner())
    m_log.Add("Warning: there is no scanner (see the log above).");
  if (const auto& patterns = m_session->GetApplication().GetScannerBundle().patternWindow)
    m_projector->SetPatternSize(patterns->GetWidth(), patterns->GetHeight());
  m_log.SetFile(m_session->GetApplication().GetDataRoot().GetLogFolder() / "studio.log");
  m_settingsDialog = std::make_unique<SettingsDialog>(m_session->GetSettings(), m_texts);
  AttachView();
  PlaceProjectorWindow(true);

  IMGUI_CHECKVERSION();
  ImGui::CreateContext();
  ImGui::GetIO().IniFilename = nullptr;  // the layout is fixed; nothing to remember
  ImGui::StyleColorsDark();
  glfwMakeContextCurrent(m_window);
  // Ctrl+Q closes; ImGui's back-end calls this callback before its own.
  glfwSetKeyCallback(m_window, [](GLFWwindow* window, int key, int, int action, int mods) {
    if (key == GLFW_KEY_Q && action == GLFW_PRESS && (mods & GLFW_MOD_CONTROL))
      glfwSetWindowShouldClose(window, GLFW_TRUE);
  });
  ImGui_ImplGlfw_InitForOpenGL(m_window, true);
  ImGui_ImplOpenGL3_Init("#version 130");
  m_imgui = true;
  glGenTextures(1, &m_liveTexture);
  glfwFocusWindow(m_window);  // the keyboard goes to the main window, not the pattern window
  m_log.Add("Tarvelin studio " TARVELIN_VERSION ": ready.");
  if (!m_options.project.empty()) {
    std::string message;
    if (!m_session->GetProjectCommands().OpenProject(m_options.project, message))
      ShowMessage(message);
  }
  return true;
}

bool StudioWindow::CreateMainWindow(std::string& error) {
  glfwDefaultWindowHints();
  glfwWindowHint(GLFW_DEPTH_BITS, 24);
  m_window =
      glfwCreateWindow(m_options.width, m_options.height, "Tarvelin Studio", nullptr, nullptr);
  if (!m_window) {
    const char* description = nullptr;
    glfwGetError(&description);
    error = std::string("the main window could not be created: ") +
            (description ? description : "unknown reason");
    return false;
  }
  glfwSetWindowPos(m_window, 0, 0);
  glfwMakeContextCurrent(m_window);
  glfwSwapInterval(0);
  glfwMakeContextCurrent(nullptr);
  return true;
}

bool StudioWindow::CreateProjectorWindow(std::string& error) {
  m_projector = std::make_shared<ProjectorWindow>();
  ProjectorWindow::Options options;
  options.windowX = m_options.width + 8;  // beside the main window
  options.windowY = 0;
  return m_projector->Create(options, error);
}

void StudioWindow::AttachView() {
  v3d::ClientWndOptions options;
  options.installCallbacks =
      false;                    // ImGui's back-end owns the callbacks; input is forwarded per frame
  options.swapBuffers = false;  // the UI is drawn over the scene before the swap
  m_view.OnCreate(m_window, {0.16f, 0.17f, 0.19f, 1.f}, options);
  v3d::LockGuard lock;
  m_view.SetScene(&m_session->GetApplication().GetShapeFusion().GetScene());
}

// The converted single scan in the view until it is added or replaced.
void StudioWindow::UpdatePreview() {
  shell::Application& app = m_session->GetApplication();
  const bool available =
      m_session->GetSettings()
          .GetSetting<bool>(shell::SettingPath("Scan/Status/IsScanDataAvailable"))
          .Value();
  if (m_preview.Update(app.GetScanWorkflow(), app.GetShapeFusion().GetScene(), available))
    m_view.SetRedrawPending();
}

void StudioWindow::Shutdown() {
  if (m_session) {
    auto& app = m_session->GetApplication();
    m_session->GetController().RequestCancel();
    app.GetProgressReporter().RequestCancel();
    m_session->GetAlignmentJobs().Wait();
    m_session->GetFusionCommands().Wait();
    m_session->GetMeasureCommands().Wait();
    if (shell::CalibrationMachine* machine = m_session->GetCalibration()) machine->RequestCancel();
    m_preview.Update(app.GetScanWorkflow(), app.GetShapeFusion().GetScene(), false);
  }
  m_targetPreview.Wait();  // it uses the session's calibration station
  if (m_imgui) {
    glfwMakeContextCurrent(m_window);
    if (m_liveTexture) glDeleteTextures(1, &m_liveTexture);
    if (m_targetTexture) glDeleteTextures(1, &m_targetTexture);
    m_targetTexture = 0;
    m_viewCache.Release();
    m_liveTexture = 0;
    ImGui_ImplOpenGL3_Shutdown();
    ImGui_ImplGlfw_Shutdown();
    ImGui::DestroyContext();
    glfwMakeContextCurrent(nullptr);
    m_imgui = false;
  }
  if (m_view.IsCreated()) {
    {
      v3d::LockGuard lock;
      m_view.SetScene(nullptr);
    }
    m_view.Destroy();
  }
  // The session's exit saves the settings; its scanner still holds the
  // pattern window, which goes after it.
  m_session.reset();
  m_console.reset();
  if (m_projector) m_projector->Destroy();
  m_projector.reset();
  if (m_window) glfwDestroyWindow(m_window);
  m_window = nullptr;
}

bool StudioWindow::IsBusy() {
  return m_session && (!m_session->IsIdle() || m_fusing || m_measuring);
}

std::string StudioWindow::CurrentPhase() {
  if (m_fusing) return "fusion";
  if (IsCalibrating()) return "calibration";
  if (m_measuring) return "measurement";
  if (m_session->GetAlignmentJobs().IsBusy()) return "alignment";
  return m_session->IsIdle() ? "idle" : "scan";
}

void StudioWindow::Frame() {
  using Clock = std::chrono::steady_clock;
  std::array<double, FrameTimes::kPartCount> parts{};
  auto mark = Clock::now();
  const auto lap = [&](FrameTimes::Part part) {
    const auto now = Clock::now();
    parts[part] += std::chrono::duration<double>(now - mark).count();
    mark = now;
  };
  glfwWaitEventsTimeout(1.0 / 30.0);
  lap(FrameTimes::kEvents);
  m_session->GetApplication().Step();
  UpdatePreview();
  if (m_fusing && m_session->GetFinishedFusions() > m_fusionsBefore) {
    m_fusing = false;
    m_session->GetApplication().GetProgressReporter().StopSession();
    const int result = m_session->GetFusionCommands().GetResult();
    m_log.Add(result < 0 ? "Error: the fusion failed (see the lines above)." : "Fusion finished.");
  }
  if (m_measuring && m_session->GetFinishedMeasures() > m_measuresBefore) {
    m_measuring = false;
    m_session->GetApplication().GetProgressReporter().StopSession();
    m_log.Add(m_session->GetMeasureCommands().GetResult()
                  ? "Comparison finished: the deviations are shown."
                  : "Error: the comparison failed or was cancelled.");
  }
  m_projector->Present();
  if (glfwGetTime() >= m_nextDisplayCheck) {
    PlaceProjectorWindow(false);
    m_nextDisplayCheck = glfwGetTime() + 2.0;
  }
  UpdateLiveImage();
  UpdateCalibration();
  FitViewWhenTheListChanged();
  lap(FrameTimes::kStep);

  glfwMakeContextCurrent(m_window);
  ImGui_ImplOpenGL3_NewFrame();
  ImGui_ImplGlfw_NewFrame();
  ImGui::NewFrame();
  int x = 0, y = 0;
  glfwGetWindowPos(m_window, &x, &y);
  m_probe.BeginFrame(x, y);
  DrawMenu();
  DrawPages();
  DrawScanList();
  DrawLogPane();
  DrawFileDialog();
  m_settingsDialog->Draw();
  DrawMessage();
  ForwardViewInput();
  ImGui::Render();
  lap(FrameTimes::kPanels);

  DrawView();
  lap(FrameTimes::kView);
  glfwMakeContextCurrent(m_window);
  ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
  lap(FrameTimes::kDrawPanels);
  glfwSwapBuffers(m_window);
  glfwMakeContextCurrent(nullptr);
  lap(FrameTimes::kSwap);
  WriteProbe();
  RecordFrame(parts);
}

void StudioWindow::RecordFrame(const std::array<double, FrameTimes::kPartCount>& parts) {
  m_frameSeconds = 0.0;
  for (int part = FrameTimes::kStep; part < FrameTimes::kPartCount; ++part)
    m_frameSeconds += parts[std::size_t(part)];
  const std::string phase = CurrentPhase();
  if (phase != "idle") m_worstFrameSeconds = std::max(m_worstFrameSeconds, m_frameSeconds);
  m_frameTimes.Add(phase, parts);
  if (phase != m_lastPhase && m_lastPhase != "idle") m_log.Add(m_frameTimes.Describe(m_lastPhase));
  m_lastPhase = phase;
}

// --- 3D view

void StudioWindow::ForwardViewInput() {
  const ImGuiIO& io = ImGui::GetIO();
  const ImVec2 display = io.DisplaySize;
  m_viewRect = {int(kPagesWidth), int(ImGui::GetFrameHeight()),
                int(display.x - kPagesWidth - kListWidth),
                int(display.y - ImGui::GetFrameHeight() - kLogHeight)};
  m_probe.Rect("view", float(m_viewRect.x), float(m_viewRect.y), float(m_viewRect.width),
               float(m_viewRect.height));
  if (io.WantCaptureMouse) return;
  const double vx = io.MousePos.x - m_viewRect.x, vy = io.MousePos.y - m_viewRect.y;
  if (vx != m_lastX || vy != m_lastY) {
    m_view.OnCursorPos(vx, vy);
    m_lastX = vx;
    m_lastY = vy;
  }
  static constexpr int kButtons[3] = {GLFW_MOUSE_BUTTON_LEFT, GLFW_MOUSE_BUTTON_RIGHT,
                                      GLFW_MOUSE_BUTTON_MIDDLE};
  for (int b = 0; b < 3; ++b) {
    if (io.MouseDown[b] == m_buttons[b]) continue;
    m_buttons[b] = io.MouseDown[b];
    m_view.OnMouseButton(kButtons[b], m_buttons[b] ? GLFW_PRESS : GLFW_RELEASE, 0);
  }
  if (io.MouseWheel != 0.f) m_view.OnScroll(0.0, io.MouseWheel);
}

void StudioWindow::DrawView() {
  int fbWidth = 0, fbHeight = 0, winWidth = 1, winHeight = 1;
  glfwGetFramebufferSize(m_window, &fbWidth, &fbHeight);
  glfwGetWindowSize(m_window, &winWidth, &winHeight);
  const double sx = double(fbWidth) / std::max(winWidth, 1),
               sy = double(fbHeight) / std::max(winHeight, 1);
  // OpenGL's viewport counts from the bottom-left corner.
  ViewRect viewport{int(m_viewRect.x * sx), int(fbHeight - (m_viewRect.y + m_viewRect.height) * sy),
                    std::max(1, int(m_viewRect.width * sx)),
                    std::max(1, int(m_viewRect.height * sy))};
  {
    // A worker that holds the scene (adding a scan, the fusion's result)
    // is not waited for: the last picture stays until the next frame.
    v3d::LockGuard lock(std::chrono::milliseconds(3));
    if (lock.OwnsLock()) {
      if (viewport.x != m_viewportSent.x || viewport.y != m_viewportSent.y ||
          viewport.width != m_viewportSent.width || viewport.height != m_viewportSent.height) {
        v3d::Event resize;
        resize.kind = v3d::kEventResize;
        resize.x = viewport.x;
        resize.y = viewport.y;
        resize.width = viewport.width;
        resize.height = viewport.height;
        if (m_view.OnEvent(resize)) m_viewportSent = viewport;
      }
      v3d::Event timer;
      timer.kind = v3d::kEventTimer;
      m_view.OnEvent(timer);
      const v3d::Scene* scene = m_view.GetScene();
      const bool changed = m_view.IsRedrawPending() || !m_viewCache.HasPicture() ||
                           (scene && scene->GetRedrawID() != m_view.GetDrawnRedrawID());
      if (changed) {
        glfwMakeContextCurrent(m_window);
        const bool cached = m_viewCache.BeginDrawing(fbWidth, fbHeight);
        v3d::Event redraw;
        redraw.kind = v3d::kEventRedraw;
        m_view.OnEvent(redraw);
        glfwMakeContextCurrent(m_window);
        if (cached) m_viewCache.EndDrawing();
        ++m_viewDraws;
      }
    }
  }
  glfwMakeContextCurrent(m_window);
  glViewport(0, 0, fbWidth, fbHeight);
  glClearColor(0.16f, 0.17f, 0.19f, 1.f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  m_viewCache.Present(viewport.x, viewport.y, viewport.width, viewport.height);
}

void StudioWindow::FitViewWhenTheListChanged() {
  surf::ShapeFusion& list = m_session->GetApplication().GetShapeFusion();
  const int count = list.GetNumGeos();
  const bool fusion = list.GetGeo(surf::ShapeFusion::kFusionResultIndex) != nullptr;
  const bool preview = m_preview.IsShown();
  if (count == m_geoCount && fusion == m_hadFusion && preview == m_hadPreview) return;
  v3d::LockGuard lock(std::chrono::milliseconds(5));
  if (!lock.OwnsLock()) return;  // a worker edits the list: next frame
  m_geoCount = count;
  m_hadFusion = fusion;
  m_hadPreview = preview;
  v3d::Scene& scene = list.GetScene();
  math::Vec3d low, high;
  if (!v3d::ComputeSceneBounds(scene, low, high)) return;
  if (!scene.GetActiveCamera()) {
    scene.SetCamera(0, std::make_unique<v3d::Camera>());
    scene.SetActiveCamera(0);
  }
  v3d::SetViewAngles(*scene.GetActiveCamera(), 30.0 * kPi / 180.0, 25.0 * kPi / 180.0, low, high,
                     std::max(1, m_viewRect.width), std::max(1, m_viewRect.height));
  m_view.SetRedrawPending();
}

// --- Menu, list, log, progress, dialogs

void StudioWindow::DrawMenu() {
  if (!ImGui::BeginMainMenuBar()) return;
  if (ImGui::BeginMenu(m_texts("Studio_Menu_File"))) {
    m_probe.Item("menu_file");
    const bool idle = !IsBusy();
    if (ImGui::MenuItem(m_texts("Studio_Menu_OpenProject"), nullptr, false, idle))
      m_fileAction = FileAction::kOpenProject;
    m_probe.Item("menu_open");
    if (ImGui::MenuItem(m_texts("Studio_Menu_SaveProject"), nullptr, false, idle)) {
      m_fileAction = FileAction::kSaveProject;
      const fs::path current = m_session->GetProjectCommands().GetProjectPath();
      std::snprintf(m_path, sizeof m_path, "%s", current.string().c_str());
    }
    m_probe.Item("menu_save");
    if (ImGui::MenuItem(m_texts("Studio_Menu_ImportMesh"), nullptr, false, idle))
      m_fileAction = FileAction::kImportMesh;
    m_probe.Item("menu_import");
    if (ImGui::MenuItem(m_texts("Studio_Menu_Export"), nullptr, false, idle))
      m_fileAction = FileAction::kExport;
    m_probe.Item("menu_export");
    ImGui::Separator();
    if (ImGui::MenuItem(m_texts("Studio_Menu_Quit"), "Ctrl+Q"))
      glfwSetWindowShouldClose(m_window, GLFW_TRUE);
    ImGui::EndMenu();
  } else {
    m_probe.Item("menu_file");
  }
  if (ImGui::MenuItem(m_texts("Studio_Menu_Settings"))) m_settingsDialog->Open();
  m_probe.Item("menu_settings");
  ImGui::EndMainMenuBar();
}

void StudioWindow::DrawScanList() {
  const ImVec2 display = ImGui::GetIO().DisplaySize;
  const float top = ImGui::GetFrameHeight();
  ImGui::SetNextWindowPos(ImVec2(display.x - kListWidth, top));
  ImGui::SetNextWindowSize(ImVec2(kListWidth, display.y - top - kLogHeight));
  ImGui::Begin((std::string(m_texts("Studio_Scans")) + "###scans").c_str(), nullptr,
               ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoCollapse);
  surf::ShapeFusion& list = m_session->GetApplication().GetShapeFusion();
  const bool busy = IsBusy();
  v3d::LockGuard lock(std::chrono::milliseconds(2));
  if (!lock.OwnsLock()) {
    ImGui::TextDisabled("%s", m_texts("Studio_ListBusy"));
  } else {
    for (int i = surf::ShapeFusion::kFusionResultIndex; i < list.GetNumGeos(); ++i) {
      const v3d::Geo* geo = list.GetGeo(i);
      if (!geo) continue;
      std::size_t vertices = 0;
      for (const auto& mesh : *geo) vertices += mesh->GetNumVertices();
      const std::string label = m_texts.Format(
          "Studio_ListEntry", {i < 0 ? std::string(m_texts("Studio_FusionResult")) : geo->GetName(),
                               std::to_string(vertices)});
      ImGui::PushID(i);
      if (ImGui::Selectable(label.c_str(), false) && !busy) m_exportIndex = i;
      ImGui::PopID();
    }
  }
  ImGui::Separator();
  ImGui::BeginDisabled(busy || list.GetNumGeos() == 0);
  if (ImGui::Button(m_texts("Studio_RemoveLastScan"))) {
    list.RemoveGeo(list.GetNumGeos() - 1);
    m_session->GetProjectCommands().MarkChanged();
  }
  ImGui::EndDisabled();
  ImGui::End();
}

void StudioWindow::DrawLogPane() {
  const ImVec2 display = ImGui::GetIO().DisplaySize;
  ImGui::SetNextWindowPos(ImVec2(0, display.y - kLogHeight));
  ImGui::SetNextWindowSize(ImVec2(display.x, kLogHeight));
  ImGui::Begin((std::string(m_texts("Studio_Log")) + "###log").c_str(), nullptr,
               ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoCollapse);
  const auto lines = m_log.GetLines();
  ImGuiListClipper clipper;
  clipper.Begin(int(lines.size()));
  while (clipper.Step()) {
    for (int i = clipper.DisplayStart; i < clipper.DisplayEnd; ++i) {
      const auto& line = lines[std::size_t(i)];
      const ImVec4 colour = line.kind == StudioLog::Kind::kError     ? ImVec4(1.f, 0.45f, 0.4f, 1.f)
                            : line.kind == StudioLog::Kind::kWarning ? ImVec4(1.f, 0.8f, 0.3f, 1.f)
                            : line.kind == StudioLog::Kind::kNote
                                ? ImVec4(0.5f, 0.8f, 1.f, 1.f)
                                : ImVec4(0.85f, 0.85f, 0.85f, 1.f);
      ImGui::TextColored(colour, "%7.1f  %s", line.seconds, line.text.c_str());
    }
  }
  if (m_log.GetVersion() != m_logVersionShown) {
    m_logVersionShown = m_log.GetVersion();
    ImGui::SetScrollHereY(1.f);
  }
  ImGui::End();
}

void StudioWindow::DrawProgress() {
  shell::ProgressReporter& progress = m_session->GetApplication().GetProgressReporter();
  const bool busy = IsBusy();
  const std::string status = progress.GetStatusLine();
  ImGui::Separator();
  ImGui::ProgressBar(busy ? float(progress.GetOverallProgress()) : 0.f, ImVec2(-90.f, 0.f),
                     busy ? nullptr : m_texts("Studio_Idle"));
  m_probe.Item("progress");
  ImGui::SameLine();
  ImGui::BeginDisabled(!busy);
  if (ImGui::Button(m_texts("Studio_Cancel"), ImVec2(-1.f, 0.f))) Cancel();
  m_probe.Item("cancel");
  ImGui::EndDisabled();
  ImGui::TextWrapped("%s", status.empty() ? " " : status.c_str());
}

void StudioWindow::DrawFileDialog() {
  if (m_fileAction == FileAction::kNone) return;
  static const char* const kTitles[] = {"", "Studio_OpenProject", "Studio_SaveProject",
                                        "Studio_ImportMesh", "Studio_Export"};
  const std::string title = std::string(m_texts(kTitles[int(m_fileAction)])) + "###file";
  ImGui::OpenPopup(title.c_str());
  if (!ImGui::BeginPopupModal(title.c_str(), nullptr, ImGuiWindowFlags_AlwaysAutoResize)) return;
  if (m_fileAction == FileAction::kExport) {
    surf::ShapeFusion& list = m_session->GetApplication().GetShapeFusion();
    if (ImGui::BeginCombo(m_texts("Studio_ExportObject"), ScanName(m_exportIndex).c_str())) {
      if (ImGui::Selectable(ScanName(-1).c_str(), m_exportIndex < 0)) m_exportIndex = -1;
      for (int i = 0; i < list.GetNumGeos(); ++i)
        if (ImGui::Selectable(ScanName(i).c_str(), m_exportIndex == i)) m_exportIndex = i;
      ImGui::EndCombo();
    }
    ImGui::TextDisabled("%s", m_texts("Studio_ExportFormats"));
  } else if (m_fileAction == FileAction::kImportMesh) {
    ImGui::TextDisabled("%s", m_texts("Studio_MeshFiles"));
  } else {
    ImGui::TextDisabled("%s", m_texts("Studio_ProjectFiles"));
  }
  ImGui::SetNextItemWidth(520.f);
  if (ImGui::IsWindowAppearing()) ImGui::SetKeyboardFocusHere();
  const bool enter = ImGui::InputText(m_texts("Studio_FilePath"), m_path, sizeof m_path,
                                      ImGuiInputTextFlags_EnterReturnsTrue);
  m_probe.Item("file_path");
  const bool ok = ImGui::Button(m_texts("Studio_OK"), ImVec2(120, 0)) || enter;
  m_probe.Item("file_ok");
  ImGui::SameLine();
  const bool cancel = ImGui::Button(m_texts("Studio_Cancel"), ImVec2(120, 0));
  if (ok) RunFileAction();
  if (ok || cancel) {
    m_fileAction = FileAction::kNone;
    m_path[0] = 0;
    ImGui::CloseCurrentPopup();
  }
  ImGui::EndPopup();
}

void StudioWindow::RunFileAction() {
  shell::ProjectCommands& project = m_session->GetProjectCommands();
  const fs::path path = m_path;
  std::string message;
  bool ok = false;
  if (path.empty()) {
    ShowMessage(m_texts("Studio_NoFileGiven"));
    return;
  }
  switch (m_fileAction) {
    case FileAction::kOpenProject:
      ok = project.OpenProject(path, message);
      break;
    case FileAction::kSaveProject:
      ok = project.SaveProject(path, message);
      break;
    case FileAction::kImportMesh:
      ok = project.ImportMesh(path, message);
      break;
    case FileAction::kExport:
      ok = project.ExportMesh(m_exportIndex, path, message);
      break;
    case FileAction::kNone:
      return;
  }
  if (!ok) ShowMessage(message);
}

// The texts of the session's language, with the shipped English table for
// the keys it lacks.
void StudioWindow::LoadTexts() {
  const shell::Language& english = ShippedEnglish();
  if (english.GetSize() == 0) m_log.Add("Warning: the shipped English texts could not be read.");
  m_texts.SetLanguage(&m_session->GetApplication().GetLanguage(),
                      english.GetSize() > 0 ? &english : nullptr);
  glfwSetWindowTitle(m_window, m_texts("Studio_WindowTitle"));
}

std::string StudioWindow::ScanName(int index) {
  return index < 0 ? std::string(m_texts("Studio_FusionResult"))
                   : m_texts.Format("Studio_ScanNumber", {std::to_string(index + 1)});
}

void StudioWindow::ShowMessage(const std::string& text) {
  m_message = text;
  m_messagePending = true;
}

void StudioWindow::DrawMessage() {
  const std::string title = std::string(m_texts("Studio_Message")) + "###message";
  if (m_messagePending) {
    ImGui::OpenPopup(title.c_str());
    m_messagePending = false;
  }
  m_messageOpen = ImGui::BeginPopupModal(title.c_str(), nullptr, ImGuiWindowFlags_AlwaysAutoResize);
  if (!m_messageOpen) return;
  ImGui::PushTextWrapPos(480.f);
  ImGui::TextUnformatted(m_message.c_str());
  ImGui::PopTextWrapPos();
  if (ImGui::Button(m_texts("Studio_OK"), ImVec2(120, 0))) ImGui::CloseCurrentPopup();
  m_probe.Item("message_ok");
  ImGui::EndPopup();
}

void StudioWindow::WriteProbe() {
  if (!m_probe.IsOn()) return;
  surf::ShapeFusion& list = m_session->GetApplication().GetShapeFusion();
  nlohmann::json state;
  state["scans"] = list.GetNumGeos();
  state["preview"] = m_preview.IsShown();
  state["fusion"] = list.GetGeo(surf::ShapeFusion::kFusionResultIndex) != nullptr;
  state["idle"] = !IsBusy();
  state["status"] = shell::ToString(m_session->GetController().GetScanStatus());
  state["mode"] =
      m_session->GetSettings().GetSetting<std::string>(shell::SettingPath("Scan/ScanMode")).Value();
  state["errors"] = m_log.Count(StudioLog::Kind::kError);
  state["message"] = m_messageOpen ? m_message : "";
  state["patternsShown"] = m_projector->GetShownCount();
  state["worstBusyFrameMs"] = m_worstFrameSeconds * 1000.0;
  state["frames"] = m_frameTimes.ToJson();
  state["viewDraws"] = m_viewDraws;
  state["liveFrames"] = m_liveWidth > 0;
  if (const shell::CalibrationMachine* machine = m_session->GetCalibration())
    state["calibStatus"] = int(machine->GetCalibStatus());
  state["calibrationsAccepted"] = m_session->GetAcceptedCalibrations();
  state["targetPoints"] = m_targetPoints;
  state["targetPictureBusy"] = m_targetPreview.IsBusy();
  state["calibOutcome"] = m_calibOutcome;
  m_probe.EndFrame(std::move(state));
}

}  // namespace studio
