// The calibration page: a picture of the corner target as a camera of the
// station sees it with the detector's findings, the calibration settings,
// Calibrate, and the calibration machine's progress. The machine runs on
// the session's timer; this page starts it and shows where it is.
#include <GL/glew.h>
#include <GLFW/glfw3.h>
#include <imgui.h>

#include <algorithm>

#include "apps/tarvelin-studio/StudioWindow.h"
#include "scan/HardwareSetup.h"
#include "shell/SettingPath.h"

namespace studio {

namespace {

// The key of the user's words for a calibration step, and how far the run
// has come.
struct CalibStep {
  const char* key;
  float fraction;
};

CalibStep DescribeCalibStatus(shell::CalibStatus status) {
  using S = shell::CalibStatus;
  switch (status) {
    case S::Idle:
      return {"Studio_Calib_Idle", 0.f};
    case S::StartCalib:
      return {"Studio_Calib_Starting", 0.02f};
    case S::WaitBeforeCamCalib:
      return {"Studio_Calib_WaitingForCameras", 0.05f};
    case S::CamCalib:
      return {"Studio_Calib_Cameras", 0.1f};
    case S::CamCalibDone:
      return {"Studio_Calib_CamerasDone", 0.3f};
    case S::WaitBeforeProjCalib:
      return {"Studio_Calib_WaitingForProjector", 0.32f};
    case S::ProjCalib:
      return {"Studio_Calib_Projector", 0.4f};
    case S::ProjCalibDone:
      return {"Studio_Calib_Storing", 0.95f};
    case S::Cancel:
      return {"Studio_Calib_Ending", 1.f};
    case S::AllDone:
      return {"Studio_Calib_Done", 1.f};
  }
  return {"Studio_Calib_Idle", 0.f};
}

std::vector<CamCalib::CalibGrid> CornerGrids(shell::Settings& settings,
                                             const scan::HardwareSetupIO& setup) {
  const double scale =
      setup.calibration.scale > 0.0
          ? setup.calibration.scale
          : settings.GetSetting<double>(shell::SettingPath("Calibration/CalibScale")).Value();
  scan::HardwareSetup panels;
  panels.SetDefaultZentoCalibGrids(scale);
  return panels.GetCalibGrids();
}

}  // namespace

bool StudioWindow::IsCalibrating() const {
  const shell::CalibrationMachine* machine = m_session ? m_session->GetCalibration() : nullptr;
  return machine && machine->GetCalibStatus() != shell::CalibStatus::Idle;
}

void StudioWindow::DrawCalibrationProgress() {
  const CalibStep step = DescribeCalibStatus(m_session->GetCalibration()->GetCalibStatus());
  ImGui::ProgressBar(step.fraction, ImVec2(-90.f, 0.f));
  m_probe.Item("progress");
  ImGui::SameLine();
  if (ImGui::Button(m_texts("Studio_Cancel"), ImVec2(-1.f, 0.f))) Cancel();
  m_probe.Item("cancel");
  ImGui::TextWrapped("%s", m_texts(step.key));
}

void StudioWindow::CalibrationPage() {
  shell::CalibrationMachine* machine = m_session->GetCalibration();
  if (!machine) {
    ImGui::TextWrapped("%s", m_texts("Studio_Calib_NoStation"));
    return;
  }
  ImGui::TextWrapped("%s", m_texts("Studio_Calib_Help"));
  const bool busy = IsBusy() || m_targetPreview.IsBusy();
  shell::ICalibrationStation& station = *m_session->GetCalibrationStation();
  ImGui::BeginDisabled(busy);
  if (station.GetCameraCount() > 1) {
    ImGui::SetNextItemWidth(140.f);
    const auto name = [this](std::size_t c) {
      return m_texts.Format("Studio_CameraNumber", {std::to_string(c + 1)});
    };
    if (ImGui::BeginCombo("##calib_camera", name(std::size_t(m_calibCamera)).c_str())) {
      for (std::size_t c = 0; c < station.GetCameraCount(); ++c)
        if (ImGui::Selectable(name(c).c_str(), int(c) == m_calibCamera)) m_calibCamera = int(c);
      ImGui::EndCombo();
    }
    ImGui::SameLine();
  }
  if (ImGui::Button(m_texts("Studio_TakePicture")) && station.GetCameraCount() > 0) {
    m_calibCamera = std::clamp(m_calibCamera, 0, int(station.GetCameraCount()) - 1);
    m_targetPreview.Start(
        *m_session->PrepareCalibrationStation(), std::size_t(m_calibCamera),
        CornerGrids(m_session->GetSettings(), m_session->GetApplication().GetHardwareSetup()),
        m_texts);
  }
  m_probe.Item("calib_picture");
  ImGui::SameLine();
  if (ImGui::Button(m_texts("Studio_Calibrate"), ImVec2(140, 0))) StartCalibration();
  m_probe.Item("calib_start");
  ImGui::EndDisabled();

  if (m_targetPreview.IsBusy()) ImGui::TextDisabled("%s", m_texts("Studio_TakingPicture"));
  if (m_targetWidth > 0) {
    const float width = ImGui::GetContentRegionAvail().x;
    ImGui::Image(reinterpret_cast<ImTextureID>(static_cast<std::intptr_t>(m_targetTexture)),
                 ImVec2(width, width * float(m_targetHeight) / float(m_targetWidth)));
    m_probe.Item("calib_image");
  }
  if (!m_targetSummary.empty()) {
    const ImVec4 colour =
        m_targetComplete ? ImVec4(0.5f, 0.9f, 0.5f, 1.f) : ImVec4(1.f, 0.8f, 0.3f, 1.f);
    ImGui::PushTextWrapPos(0.f);
    ImGui::TextColored(colour, "%s", m_targetSummary.c_str());
    ImGui::PopTextWrapPos();
  }
  if (!m_calibOutcome.empty()) ImGui::TextWrapped("%s", m_calibOutcome.c_str());
  if (ImGui::CollapsingHeader(m_texts("Studio_CalibrationSettings"))) {
    ImGui::BeginDisabled(busy);
    DrawSettingsGroup(m_session->GetSettings(), "Calibration");
    ImGui::EndDisabled();
  }
}

void StudioWindow::StartCalibration() {
  std::string error;
  m_calibOutcome.clear();
  m_acceptedBefore = m_session->GetAcceptedCalibrations();
  if (!m_session->StartCalibration(error)) {
    ShowMessage(error);
    return;
  }
  m_log.Add("Calibration started.");
}

// Takes a finished preview into its texture, and reports a calibration
// run that has just ended.
void StudioWindow::UpdateCalibration() {
  shell::CalibrationMachine* machine = m_session->GetCalibration();
  if (!machine) return;
  const bool calibrating = machine->GetCalibStatus() != shell::CalibStatus::Idle;
  if (m_wasCalibrating && !calibrating) {
    if (m_session->GetAcceptedCalibrations() > m_acceptedBefore) {
      m_calibOutcome = m_texts("Studio_CalibrationAccepted");
    } else {
      m_calibOutcome = m_texts.Format("Studio_CalibrationRefused", {machine->GetLastError()});
      if (machine->GetLastError() != "cancelled") ShowMessage(m_calibOutcome);
    }
    m_log.Add(m_calibOutcome);
  }
  m_wasCalibrating = calibrating;

  std::optional<TargetDetection> detection = m_targetPreview.TakeResult();
  if (!detection) return;
  m_targetSummary = detection->summary;
  m_targetComplete = detection->complete;
  m_targetPoints = 0;
  for (std::size_t n : detection->gridPoints) m_targetPoints += int(n);
  m_log.Add("Target picture: " + m_targetSummary);
  if (detection->width <= 0) return;
  glfwMakeContextCurrent(m_window);
  if (!m_targetTexture) glGenTextures(1, &m_targetTexture);
  glBindTexture(GL_TEXTURE_2D, m_targetTexture);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, detection->width, detection->height, 0, GL_RGBA,
               GL_UNSIGNED_BYTE, detection->rgba.data());
  glfwMakeContextCurrent(nullptr);
  m_targetWidth = detection->width;
  m_targetHeight = detection->height;
}

}  // namespace studio
