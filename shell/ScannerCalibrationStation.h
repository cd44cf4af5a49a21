#pragma once

#include <memory>

#include "scan/StructuredLightScanner.h"
#include "shell/CalibrationMachine.h"
#include "shell/PatternWindow.h"
#include "shell/ScanSetup.h"

namespace shell {

// The calibration station of a scanner standing before the user's target:
// its cameras' pictures are live frames under the projector's full white,
// and the panels are scanned by the scanner itself with coded light (Gray
// code and phase shift, both orientations, the pattern settings' stripe
// width, brightness and gamma). What the station sees is whatever stands in
// front of the scanner: the user places the corner target.
//
// The scanner's scan definition is put back after the panel scan. Called on
// the calibration's worker while nothing else uses the scanner.
class ScannerCalibrationStation : public ICalibrationStation {
 public:
  struct Options {
    double frameTimeoutSeconds = 3.0;  // a camera without a frame for this long fails
    double settleSeconds = 0.3;        // frames this soon after the white appeared are dropped
  };

  ScannerCalibrationStation() : ScannerCalibrationStation(Options{}) {}
  explicit ScannerCalibrationStation(Options options) : m_options(options) {}

  // The scanner, its pattern window (whose size is the projector's) and the
  // pattern settings the next calibration uses; user-interface thread, while
  // no calibration runs.
  void Use(std::shared_ptr<scan::StructuredLightScanner> scanner,
           std::shared_ptr<PatternWindow> window, const PatternSettings& patterns);

  std::size_t GetCameraCount() const override {
    return m_scanner ? m_scanner->GetCameraCount() : 0;
  }
  bool GrabCameraImage(std::size_t camera, img::GreyImage& image, std::string& error) override;
  std::vector<scan::SLScanEvaluationResultPtr> ScanPanels(const std::atomic<bool>& cancelled,
                                                          std::string& error) override;

 private:
  bool Ready(std::string& error) const;

  std::shared_ptr<scan::StructuredLightScanner> m_scanner;
  std::shared_ptr<PatternWindow> m_window;
  Options m_options;
  PatternSettings m_patterns;
};

}  // namespace shell
