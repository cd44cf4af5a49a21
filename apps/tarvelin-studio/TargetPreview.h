#pragma once

#include <array>
#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "CamCalib/CalibGrid.h"
#include "apps/tarvelin-studio/StudioTexts.h"
#include "foundation/img/UniImage.h"
#include "shell/CalibrationMachine.h"

namespace studio {

// What the detector found in one camera's picture of the calibration
// target, drawn over the picture: every ellipse that passed the fit (yellow
// cross) and the nodes mapped onto each panel (green: first grid, cyan:
// second), with one line for the user saying what was found or what to
// change.
struct TargetDetection {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgba;  // rows top first
  std::size_t ellipses = 0;
  std::vector<std::size_t> gridPoints;  // mapped nodes per grid, 0 when not mapped
  bool complete = false;                // every grid mapped
  std::string summary;
};

// Detects the grids in the picture (the camera-calibration parameters of
// the detector) and draws the findings; the summary in the words of texts.
TargetDetection DetectTargets(const img::GreyImage& picture,
                              const std::vector<CamCalib::CalibGrid>& grids, const Texts& texts);

// A picture of the target taken through the calibration station and
// detected on a worker, one at a time. The station is used only while a
// preview runs: never start one while the calibration machine is busy.
class TargetPreview {
 public:
  TargetPreview() = default;
  ~TargetPreview() { Wait(); }
  TargetPreview(const TargetPreview&) = delete;
  TargetPreview& operator=(const TargetPreview&) = delete;

  // False when a preview is still running. texts must outlive the preview.
  bool Start(shell::ICalibrationStation& station, std::size_t camera,
             std::vector<CamCalib::CalibGrid> grids, const Texts& texts);
  bool IsBusy() const;
  // The finished preview, once; nothing while busy or after it was taken.
  std::optional<TargetDetection> TakeResult();
  void Wait();

 private:
  std::future<TargetDetection> m_worker;
};

}  // namespace studio
