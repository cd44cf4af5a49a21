#include "shell/RigCalibrationStation.h"

#include "sim/CalibrationRig.h"
#include "sim/TargetShot.h"

namespace shell {

RigCalibrationStation::RigCalibrationStation(scan::HardwareSetupIO truth,
                                             sim::SceneDescription description)
    : m_truth(std::move(truth)), m_description(std::move(description)) {
  m_corner = sim::MakeCornerTargets(sim::CornerScale(m_truth));
  m_targets = m_corner;
}

bool RigCalibrationStation::GrabCameraImage(std::size_t camera, img::GreyImage& image,
                                            std::string& error) {
  sim::TargetRenderOptions options;
  options.seed = ++m_shots;
  sim::TargetShot shot;
  if (!sim::ShootTargets(m_truth, m_description, camera, m_targets, options, shot, error))
    return false;
  image = std::move(shot.image);
  return true;
}

std::vector<scan::SLScanEvaluationResultPtr> RigCalibrationStation::ScanPanels(
    const std::atomic<bool>& cancelled, std::string& error) {
  return sim::ScanTargets(
      m_truth, m_description, m_corner, [&cancelled](double) { return cancelled.load(); }, error);
}

}  // namespace shell
