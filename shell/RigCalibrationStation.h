#pragma once

#include <vector>

#include "scan/HardwareSetupIO.h"
#include "shell/CalibrationMachine.h"
#include "sim/SceneFile.h"
#include "sim/TargetScene.h"

namespace shell {

// The calibration station of a virtual rig: its cameras photograph the
// printed targets (the default corner at the setup's scale unless other
// targets are set, e.g. a plate for a flat-plate view) and scan the corner
// with coded light, always through the rig's true models.
class RigCalibrationStation : public ICalibrationStation {
 public:
  RigCalibrationStation(scan::HardwareSetupIO truth, sim::SceneDescription description);

  void SetTargets(std::vector<sim::PlacedTarget> targets) { m_targets = std::move(targets); }
  std::size_t GetCameraCount() const override { return m_truth.cameras.size(); }
  bool GrabCameraImage(std::size_t camera, img::GreyImage& image, std::string& error) override;
  std::vector<scan::SLScanEvaluationResultPtr> ScanPanels(const std::atomic<bool>& cancelled,
                                                          std::string& error) override;

 private:
  scan::HardwareSetupIO m_truth;
  sim::SceneDescription m_description;
  std::vector<sim::PlacedTarget> m_corner, m_targets;
  std::uint32_t m_shots = 0;  // noise seed
};

}  // namespace shell
