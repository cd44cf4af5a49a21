#include "shell/FusionCommands.h"

#include "foundation/utils/ThreadPriority.h"
#include "shell/Language.h"
#include "shell/ProgressReporter.h"
#include "shell/Settings.h"
#include "surf/fusion/ShapeFusion.h"

namespace shell {

namespace {

std::string Path(const std::string& key) { return "/Settings/ShapeFusion/Fusion/*[@title='" + key + "']"; }

}  // namespace

FusionCommands::FusionCommands(Settings& settings, const Language& language, surf::ShapeFusion& fusion,
                               ProgressReporter& progress, LogSink log)
    : m_settings(settings),
      m_language(language),
      m_fusion(fusion),
      m_progress(progress),
      m_log(log ? std::move(log) : StdoutLogSink()),
      m_alive(std::make_shared<bool>(true)) {
  const std::weak_ptr<bool> alive = m_alive;
  settings.AddSettingChangedEvent(
      Path("CloseHolesRelSizeStep"),
      [this, alive](const std::string& value, const std::string&, pugi::xml_node, bool& valid) {
        int step = 0;
        if (alive.expired()) return;
        if (!ParseSettingText<int>(value, step)) {
          valid = false;
          return;
        }
        ApplyCloseHolesStep(step);
      },
      false);
  settings.AddSettingChangedEvent(
      Path("Resolution"),
      [this, alive](const std::string&, const std::string&, pugi::xml_node, bool&) {
        if (!alive.expired()) UpdateVertexSpacing();
      },
      false);
  UpdateVertexSpacing();
}

FusionCommands::~FusionCommands() {
  m_alive.reset();
  m_abort = true;
  Wait();
}

FusionParameters FusionCommands::ReadFusionParameters() const {
  FusionParameters parameters;
  parameters.resolution = m_settings.GetSetting<int>(Path("Resolution")).Value();
  parameters.holeClosingSize = m_settings.GetSetting<float>(Path("CloseHolesRelSizePercent")).Value() * 0.01f;
  const int sharpness = m_settings.GetSetting<int>(Path("Sharpness")).Value();
  parameters.sharpnessWeight = ComputeSharpnessWeight(sharpness);
  parameters.smoothingPasses = ComputeSmoothingPasses(sharpness);
  parameters.resultName = m_language.Get("_l10n_FusionResult_DefaultName_n01l_");
  return parameters;
}

bool FusionCommands::StartFusion_Async() {
  if (m_busy) {
    m_log("Fusion: a fusion is already running.");
    return false;
  }
  Wait();
  const FusionParameters parameters = ReadFusionParameters();
  m_log("Fusion: resolution " + std::to_string(parameters.resolution) + ", hole closing " +
        FormatSettingText(parameters.holeClosingSize) + ", sharpness weight " +
        FormatSettingText(parameters.sharpnessWeight) + ", " + std::to_string(parameters.smoothingPasses) +
        " smoothing passes.");
  m_busy = true;
  m_finished = false;
  m_result = -1;
  m_progress.SetBusy(true);
  m_worker = std::thread([this, parameters] {
    utils::LowerThisThreadPriority();  // the user interface keeps the cores it needs
    const bool failed = m_fusion.StartFusionPoisson(
        [this](double fraction) { return m_progress.Report(fraction) || m_abort; }, parameters.resolution,
        parameters.holeClosingSize, false, false, parameters.sharpnessWeight, parameters.smoothingPasses,
        parameters.resultName);
    m_result = failed ? -1 : m_fusion.GeoIndex2NodeID(surf::ShapeFusion::kFusionResultIndex);
    m_progress.SetResult(m_result);
    m_progress.SetBusy(false);
    m_finished = true;
    m_busy = false;
  });
  return true;
}

void FusionCommands::Wait() {
  if (m_worker.joinable()) m_worker.join();
}

bool FusionCommands::Poll() {
  if (!m_finished || m_busy) return false;
  m_finished = false;
  Wait();
  m_settings.GetSetting<bool>("/Settings/ShapeFusion/Status/*[@title='IsFusionAvailable']").SetValue(m_result >= 0);
  m_log(m_result >= 0 ? "Fusion done." : "Fusion failed or cancelled.");
  if (m_spacingPending) {
    m_spacingPending = false;
    UpdateVertexSpacing();
  }
  if (m_stepPending) {
    m_stepPending = false;
    ApplyCloseHolesStep(m_settings.GetSetting<int>(Path("CloseHolesRelSizeStep")).Value());
  }
  return true;
}

void FusionCommands::ApplyCloseHolesStep(int step) {
  const float percent = CloseHolesPercentForStep(step);
  m_settings.GetSetting<float>(Path("CloseHolesRelSizePercent")).SetValue(percent);
  if (m_busy) {
    m_stepPending = true;
    return;
  }
  m_fusion.FilterFusionResult(double(percent) * 0.01);
}

void FusionCommands::UpdateVertexSpacing() {
  const int resolution = m_settings.GetSetting<int>(Path("Resolution")).Value();
  if (m_busy) {
    m_spacingPending = true;
    return;
  }
  const double spacing = m_fusion.CalculateFusionVoxelSize(resolution, true);
  m_settings.GetSetting<std::string>(Path("VertexSpacing")).SetValue(FormatVertexSpacingText(spacing, m_language));
}

}  // namespace shell
