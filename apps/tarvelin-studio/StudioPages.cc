// The pages of the main window: structured light (live view, projector,
// pattern settings, Scan, turntable), alignment, fusion and measurement.
// A page reads the shell's settings and state and calls the shell; it keeps
// no pipeline logic of its own.
#include <GLFW/glfw3.h>
#include <imgui.h>

#include <algorithm>

#include "apps/tarvelin-studio/MonitorChoice.h"
#include "apps/tarvelin-studio/ProjectorWindow.h"
#include "apps/tarvelin-studio/StudioWindow.h"
#include "scan/StructuredLightScanner.h"
#include "shell/SettingPath.h"
#include "shell/VirtualRigScanner.h"
#include "surf/fusion/ShapeFusion.h"

namespace studio {

namespace {

constexpr float kPagesWidth = 430.f;
constexpr float kLogHeight = 170.f;

template <class T>
shell::Setting<T> Get(shell::Settings& settings, const char* path) {
  return settings.GetSetting<T>(shell::SettingPath(path));
}

// A choice of scan (−1: the fusion result when allowResult); name(i) is
// its entry.
template <class Name>
bool ScanCombo(const char* label, int& index, const surf::ShapeFusion& list, bool allowResult,
               const Name& name) {
  bool changed = false;
  if (ImGui::BeginCombo(label, name(index).c_str())) {
    if (allowResult && list.GetGeo(surf::ShapeFusion::kFusionResultIndex) &&
        ImGui::Selectable(name(-1).c_str(), index < 0)) {
      index = -1;
      changed = true;
    }
    for (int i = 0; i < list.GetNumGeos(); ++i) {
      if (ImGui::Selectable(name(i).c_str(), index == i)) {
        index = i;
        changed = true;
      }
    }
    ImGui::EndCombo();
  }
  return changed;
}

}  // namespace

void StudioWindow::DrawPages() {
  const ImVec2 display = ImGui::GetIO().DisplaySize;
  const float top = ImGui::GetFrameHeight();
  ImGui::SetNextWindowPos(ImVec2(0, top));
  ImGui::SetNextWindowSize(ImVec2(kPagesWidth, display.y - top - kLogHeight));
  ImGui::Begin("Pages", nullptr,
               ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoCollapse |
                   ImGuiWindowFlags_NoTitleBar);
  if (IsCalibrating())
    DrawCalibrationProgress();
  else
    DrawProgress();
  ImGui::Separator();
  if (ImGui::BeginTabBar("pages")) {
    struct Tab {
      const char* label;
      const char* id;
      Page page;
    };
    static constexpr Tab kTabs[] = {
        {"Studio_Page_StructuredLight", "tab_sl", Page::kStructuredLight},
        {"Studio_Page_Calibration", "tab_calibration", Page::kCalibration},
        {"Studio_Page_Alignment", "tab_alignment", Page::kAlignment},
        {"Studio_Page_Fusion", "tab_fusion", Page::kFusion},
        {"Studio_Page_Measurement", "tab_measurement", Page::kMeasurement}};
    for (const Tab& tab : kTabs) {
      const bool open =
          ImGui::BeginTabItem((std::string(m_texts(tab.label)) + "###" + tab.id).c_str());
      m_probe.Item(tab.id);
      if (!open) continue;
      m_page = tab.page;
      ImGui::BeginChild("page");
      switch (tab.page) {
        case Page::kStructuredLight:
          StructuredLightPage();
          break;
        case Page::kCalibration:
          CalibrationPage();
          break;
        case Page::kAlignment:
          AlignmentPage();
          break;
        case Page::kFusion:
          FusionPage();
          break;
        case Page::kMeasurement:
          MeasurementPage();
          break;
      }
      ImGui::EndChild();
      ImGui::EndTabItem();
    }
    ImGui::EndTabBar();
  }
  ImGui::End();
}

// --- Structured light

void StudioWindow::StructuredLightPage() {
  shell::Settings& settings = m_session->GetSettings();
  const bool busy = IsBusy();
  ImGui::BeginDisabled(busy || !m_session->GetApplication().GetScanner());
  if (ImGui::Button(m_texts("Studio_Scan"), ImVec2(140, 40))) StartScan();
  m_probe.Item("scan");
  ImGui::EndDisabled();
  ImGui::SameLine();
  ImGui::BeginGroup();
  std::string mode = Get<std::string>(settings, "Scan/ScanMode").Value();
  ImGui::BeginDisabled(busy);
  // Single: the scan waits for "Add to list"; sequence: each scan goes to
  // the list, aligned to the one before; turntable: a run of the table.
  static constexpr const char* kModes[][2] = {{"Studio_Mode_Single", "single"},
                                              {"Studio_Mode_Sequence", "sequence"},
                                              {"Studio_Mode_Turntable", "turntable"}};
  for (const auto& entry : kModes) {
    if (&entry != &kModes[0]) ImGui::SameLine();
    if (ImGui::RadioButton(m_texts(entry[0]), mode == entry[1]))
      Get<std::string>(settings, "Scan/ScanMode").SetValue(entry[1]);
    m_probe.Item(std::string("mode_") + entry[1]);
  }
  bool texture = Get<bool>(settings, "Scan/AutoGrabTexture").Value();
  if (ImGui::Checkbox(m_texts("Studio_Texture"), &texture))
    Get<bool>(settings, "Scan/AutoGrabTexture").SetValue(texture);
  ImGui::EndDisabled();
  ImGui::EndGroup();
  const bool available = Get<bool>(settings, "Scan/Status/IsScanDataAvailable").Value();
  if (mode == "single" || available) {
    ImGui::BeginDisabled(busy || !available);
    if (ImGui::Button(m_texts("Studio_AddToList"))) {
      if (m_session->GetApplication().GetScanWorkflow().ScanAddToFusion() < 0)
        ShowMessage(m_texts("Studio_AddToListFailed"));
      else
        m_session->GetProjectCommands().MarkChanged();
    }
    m_probe.Item("add_to_list");
    ImGui::EndDisabled();
  }

  LiveView();
  if (ImGui::CollapsingHeader(m_texts("Studio_Turntable"), ImGuiTreeNodeFlags_DefaultOpen))
    TurntableControls();
  if (ImGui::CollapsingHeader(m_texts("Studio_Projector"))) ProjectorControls();
  if (ImGui::CollapsingHeader(m_texts("Studio_PatternSettings"))) {
    ImGui::BeginDisabled(busy);
    DrawSettingsGroup(settings, "StructuredLight/PatternParameters");
    ImGui::EndDisabled();
  }
}

void StudioWindow::LiveView() {
  auto scanner = m_session->GetApplication().GetScanner();
  if (!scanner || scanner->GetCameraCount() == 0) {
    ImGui::TextDisabled("%s", m_texts("Studio_NoCamera"));
    return;
  }
  ImGui::Checkbox(m_texts("Studio_Live"), &m_live);
  ImGui::SameLine();
  ImGui::SetNextItemWidth(150.f);
  m_liveCamera = std::clamp(m_liveCamera, 0, int(scanner->GetCameraCount()) - 1);
  if (ImGui::BeginCombo("##camera", scanner->GetCameraName(std::size_t(m_liveCamera)).c_str())) {
    for (std::size_t c = 0; c < scanner->GetCameraCount(); ++c)
      if (ImGui::Selectable(scanner->GetCameraName(c).c_str(), int(c) == m_liveCamera))
        m_liveCamera = int(c);
    ImGui::EndCombo();
  }
  ImGui::SameLine();
  ImGui::Checkbox(m_texts("Studio_Overlay_Saturated"), &m_overlay.saturation);
  ImGui::SameLine();
  ImGui::Checkbox(m_texts("Studio_Overlay_Dark"), &m_overlay.underexposure);
  ImGui::SameLine();
  ImGui::Checkbox(m_texts("Studio_Overlay_Decoded"), &m_overlay.decoded);
  m_probe.Item("overlay_decoded");
  if (m_liveWidth > 0) {
    const float width = ImGui::GetContentRegionAvail().x;
    const float height = width * float(m_liveHeight) / float(m_liveWidth);
    ImGui::Image(reinterpret_cast<ImTextureID>(static_cast<std::intptr_t>(m_liveTexture)),
                 ImVec2(width, height));
    m_probe.Item("live");
    const std::string advice = ExposureAdvice(m_exposure, m_texts);
    if (!advice.empty()) ImGui::TextColored(ImVec4(1.f, 0.8f, 0.3f, 1.f), "%s", advice.c_str());
    if (m_overlay.decoded) {
      if (m_decodedFraction >= 0.0)
        ImGui::TextUnformatted(
            m_texts.Format("Studio_DecodedFraction", {Texts::Number(m_decodedFraction * 100.0, 0)})
                .c_str());
      else
        ImGui::TextDisabled("%s", m_texts("Studio_NoDecodedScan"));
    }
  } else {
    ImGui::TextDisabled("%s", m_texts(IsBusy() ? "Studio_CameraInUse" : "Studio_WaitingForCamera"));
  }
  auto properties = scanner->GetImageCaptureProperties(std::size_t(m_liveCamera));
  if (!properties) return;
  const vid::PropertyRange range = properties->GetPropertyRange("exposure");
  const vid::Property exposure = properties->GetProperty("exposure");
  if (!range.valid || !exposure.valid) return;
  float value = float(exposure.value);
  ImGui::BeginDisabled(IsBusy());
  if (ImGui::SliderFloat(m_texts("Studio_Exposure"), &value, float(range.minimum),
                         float(range.maximum), range.minimum > 0.0 ? "%.2f ms" : "%.2f",
                         range.minimum > 0.0 ? ImGuiSliderFlags_Logarithmic : 0)) {
    scanner->SetImageCapturePropertyValues({{"exposure", vid::Property(value)}},
                                           std::size_t(m_liveCamera));
  }
  ImGui::EndDisabled();
}

void StudioWindow::UpdateLiveImage() {
  auto scanner = m_session->GetApplication().GetScanner();
  if (!scanner || !m_live || m_page != Page::kStructuredLight || IsBusy()) return;
  if (m_liveCamera >= int(scanner->GetCameraCount())) return;
  img::UniImage<std::uint8_t> frame;
  if (!scanner->NextLiveImage(frame, std::size_t(m_liveCamera)) || frame.IsEmpty()) return;
  std::vector<std::uint8_t> rgba = MakeLiveOverlay(frame, m_overlay, m_exposure);
  m_decodedFraction = -1.0;
  if (m_overlay.decoded) {
    const scan::SLScanEvaluationResultPtr result =
        scanner->GetEvaluationResult(std::size_t(m_liveCamera));
    if (result && result->Quality())
      m_decodedFraction = AddQualityOverlay(rgba, frame.width, frame.height, *result->Quality());
  }
  glfwMakeContextCurrent(m_window);
  glBindTexture(GL_TEXTURE_2D, m_liveTexture);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, GLsizei(frame.width), GLsizei(frame.height), 0, GL_RGBA,
               GL_UNSIGNED_BYTE, rgba.data());
  glfwMakeContextCurrent(nullptr);
  m_liveWidth = int(frame.width);
  m_liveHeight = int(frame.height);
}

void StudioWindow::TurntableControls() {
  shell::Settings& settings = m_session->GetSettings();
  plugin::IMotor* table = m_session->GetController().GetTurntable();
  ImGui::TextUnformatted(m_texts(table ? "Studio_TurntableConnected" : "Studio_TurntableNone"));
  ImGui::BeginDisabled(IsBusy());
  int views = Get<int>(settings, "Turntable/NumberOfScans").Value();
  ImGui::SetNextItemWidth(120.f);
  if (ImGui::InputInt(m_texts("Studio_ScansPerRun"), &views) && views >= 1 && views <= 360)
    Get<int>(settings, "Turntable/NumberOfScans").SetValue(views);
  m_probe.Item("views");
  int angle = Get<int>(settings, "Turntable/TotalScanAngle").Value();
  ImGui::SetNextItemWidth(120.f);
  if (ImGui::InputInt(m_texts("Studio_TotalAngle"), &angle, 15, 90) && angle >= 1 && angle <= 360)
    Get<int>(settings, "Turntable/TotalScanAngle").SetValue(angle);
  ImGui::TextUnformatted(
      m_texts
          .Format("Studio_StepAngle", {Texts::Number(m_session->GetController().GetStepAngle(), 1)})
          .c_str());
  bool axisKnown = Get<bool>(settings, "ShapeFusion/Registration/AxisKnown").Value();
  if (ImGui::Checkbox(m_texts("Studio_AxisKnown"), &axisKnown))
    Get<bool>(settings, "ShapeFusion/Registration/AxisKnown").SetValue(axisKnown);
  m_probe.Item("axis_known");
  ImGui::EndDisabled();
}

void StudioWindow::ProjectorControls() {
  shell::Settings& settings = m_session->GetSettings();
  const int screen = Get<int>(settings, "ProjectorSetup/ScreenID").Value();
  const std::string current =
      screen >= 1 && screen <= int(m_displays.size())
          ? DescribeMonitor(m_displays[std::size_t(screen - 1)], screen, m_texts)
          : m_texts.Format("Studio_MonitorNotConnected", {std::to_string(screen)});
  if (ImGui::BeginCombo(m_texts("Studio_Monitor"), current.c_str())) {
    for (std::size_t i = 0; i < m_displays.size(); ++i) {
      if (ImGui::Selectable(DescribeMonitor(m_displays[i], int(i) + 1, m_texts).c_str(),
                            int(i) + 1 == screen)) {
        Get<int>(settings, "ProjectorSetup/ScreenID").SetValue(int(i) + 1);
        PlaceProjectorWindow(true);
      }
    }
    ImGui::EndCombo();
  }
  const bool virtualRig = m_session->GetVirtualRig() != nullptr;
  if (virtualRig) ImGui::TextDisabled("%s", m_texts("Studio_VirtualProjector"));
  ImGui::TextUnformatted(
      m_texts.Format("Studio_PatternsShown", {std::to_string(m_projector->GetShownCount())})
          .c_str());
}

void StudioWindow::PlaceProjectorWindow(bool announce) {
  std::vector<utils::DisplayInfo> displays = utils::GetActiveDisplaysInfos();
  const bool changed = displays.size() != m_displays.size();
  m_displays = std::move(displays);
  if (!changed && !announce) return;
  if (m_session->GetVirtualRig()) {
    m_projector->Place(nullptr);
    return;
  }
  const int screen = Get<int>(m_session->GetSettings(), "ProjectorSetup/ScreenID").Value();
  const MonitorChoice choice = ChooseProjectorMonitor(m_displays, screen, m_texts);
  if (!choice.warning.empty()) {
    m_log.Add("Warning: " + choice.warning);
    if (announce || choice.fallback) ShowMessage(choice.warning);
  }
  m_projector->Place(choice.index >= 0 ? &m_displays[std::size_t(choice.index)] : nullptr);
}

void StudioWindow::StartScan() {
  auto& app = m_session->GetApplication();
  if (auto scanner = app.GetScanner()) scanner->StopLiveImageCapture();
  m_liveWidth = 0;
  app.GetProgressReporter().ClearCancel();
  if (!m_session->GetController().StartScan()) ShowMessage(m_texts("Studio_ScanNotStarted"));
}

void StudioWindow::Cancel() {
  if (shell::CalibrationMachine* machine = m_session->GetCalibration()) machine->RequestCancel();
  m_session->GetController().RequestCancel();
  m_session->GetApplication().GetProgressReporter().RequestCancel();
  m_log.Add("Cancel requested.");
}

// --- Alignment

void StudioWindow::AlignmentPage() {
  shell::Settings& settings = m_session->GetSettings();
  surf::ShapeFusion& list = m_session->GetApplication().GetShapeFusion();
  shell::AlignmentJobs& jobs = m_session->GetAlignmentJobs();
  const int count = list.GetNumGeos();
  const bool busy = IsBusy();
  const auto name = [this](int i) { return ScanName(i); };
  ImGui::TextWrapped("%s", m_texts("Studio_AlignmentHelp"));
  ScanCombo(m_texts("Studio_ScanA"), m_alignA, list, false, name);
  ScanCombo(m_texts("Studio_ScanB"), m_alignB, list, false, name);
  ImGui::BeginDisabled(busy || count < 2 || m_alignA == m_alignB || m_alignA >= count ||
                       m_alignB >= count);
  if (ImGui::Button(m_texts("Studio_AlignPair"))) {
    m_session->GetApplication().GetProgressReporter().ClearCancel();
    if (!jobs.StartPairAlignment_Async(m_alignA, m_alignB,
                                       shell::AlignmentSettings::FromSettings(settings)))
      ShowMessage(m_texts("Studio_AlignPairNotStarted"));
  }
  m_probe.Item("align_pair");
  ImGui::EndDisabled();
  std::vector<int> all(std::size_t(std::max(count, 0)));
  for (int i = 0; i < count; ++i) all[std::size_t(i)] = i;
  ImGui::BeginDisabled(busy || count < 2);
  if (ImGui::Button(m_texts("Studio_AlignSequence"))) {
    m_session->GetApplication().GetProgressReporter().ClearCancel();
    if (!jobs.StartAlignSequence_Async(all, "turntable_const_angle"))
      ShowMessage(m_texts("Studio_AlignSequenceNotStarted"));
  }
  m_probe.Item("align_sequence");
  ImGui::SameLine();
  if (ImGui::Button(m_texts("Studio_AlignGlobal"))) {
    m_session->GetApplication().GetProgressReporter().ClearCancel();
    if (!jobs.StartAlignSequence_Async(all, "global"))
      ShowMessage(m_texts("Studio_AlignGlobalNotStarted"));
  }
  m_probe.Item("align_global");
  ImGui::EndDisabled();
  const auto pair = jobs.GetLastPairResult();
  if (pair.indexA >= 0) {
    const char* outcome = m_texts(pair.cancelled  ? "Studio_Pair_Cancelled"
                                  : pair.accepted ? "Studio_Pair_Accepted"
                                                  : "Studio_Pair_Rejected");
    ImGui::TextUnformatted(
        m_texts
            .Format("Studio_LastPair",
                    {std::to_string(pair.indexA + 1), std::to_string(pair.indexB + 1), outcome})
            .c_str());
    ImGui::Indent();
    ImGui::TextUnformatted(
        m_texts
            .Format("Studio_PairFigures",
                    {Texts::Number(pair.rmsDistance, 4),
                     Texts::Number(pair.inlierFraction * 100.0, 0), Texts::Number(pair.turn, 2)})
            .c_str());
    ImGui::Unindent();
  }
  if (ImGui::CollapsingHeader(m_texts("Studio_AlignmentSettings"))) {
    ImGui::BeginDisabled(busy);
    DrawSettingsGroup(settings, "ShapeFusion/Registration");
    DrawSettingsGroup(settings, "ShapeFusion/GlobalFineRegistration");
    ImGui::EndDisabled();
  }
}

// --- Fusion

void StudioWindow::FusionPage() {
  shell::Settings& settings = m_session->GetSettings();
  const bool busy = IsBusy();
  ImGui::TextWrapped("%s", m_texts("Studio_FusionHelp"));
  ImGui::BeginDisabled(busy || m_session->GetApplication().GetShapeFusion().GetNumGeos() == 0);
  if (ImGui::Button(m_texts("Studio_Fuse"), ImVec2(140, 32))) StartFusion();
  m_probe.Item("fuse");
  ImGui::EndDisabled();
  ImGui::BeginDisabled(busy);
  DrawSettingsGroup(settings, "ShapeFusion/Fusion");
  ImGui::EndDisabled();
}

void StudioWindow::StartFusion() {
  shell::ProgressReporter& progress = m_session->GetApplication().GetProgressReporter();
  progress.ClearCancel();
  progress.StartSession(1);
  m_fusionsBefore = m_session->GetFinishedFusions();
  if (!m_session->GetFusionCommands().StartFusion_Async()) {
    progress.StopSession();
    ShowMessage(m_texts("Studio_FusionNotStarted"));
    return;
  }
  m_fusing = true;
}

// --- Measurement

void StudioWindow::MeasurementPage() {
  shell::Settings& settings = m_session->GetSettings();
  surf::ShapeFusion& list = m_session->GetApplication().GetShapeFusion();
  shell::MeasureCommands& measure = m_session->GetMeasureCommands();
  const bool busy = IsBusy();
  const auto name = [this](int i) { return ScanName(i); };
  ImGui::TextWrapped("%s", m_texts("Studio_MeasurementHelp"));
  ScanCombo(m_texts("Studio_TestObject"), m_measureTest, list, true, name);
  ScanCombo(m_texts("Studio_Reference"), m_measureReference, list, true, name);
  ImGui::BeginDisabled(busy);
  DrawSettingsGroup(settings, "Measure/Comparison");
  if (ImGui::Button(m_texts("Studio_Compare"), ImVec2(140, 32))) {
    std::string why;
    m_session->GetApplication().GetProgressReporter().ClearCancel();
    if (!measure.SetTestObject(m_measureTest) || !measure.SetReferenceObject(m_measureReference)) {
      ShowMessage(m_texts("Studio_ChooseObjects"));
    } else if (m_session->GetApplication().GetProgressReporter().StartSession(1);
               !measure.StartCompare_Async(why)) {
      m_session->GetApplication().GetProgressReporter().StopSession();
      ShowMessage(why);
    } else {
      m_measuresBefore = m_session->GetFinishedMeasures();
      m_measuring = true;
    }
  }
  m_probe.Item("compare");
  ImGui::EndDisabled();
}

}  // namespace studio
