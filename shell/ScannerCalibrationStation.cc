#include "shell/ScannerCalibrationStation.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "scan/SLSingleColorPattern.h"

namespace shell {

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Puts the scanner's scan definition and the projector's idle image back
// when the panel scan ends, however it ends.
class RestoreScan {
 public:
  RestoreScan(scan::StructuredLightScanner& scanner, PatternWindow& window)
      : m_scanner(scanner), m_window(window), m_scan(scanner.GetSLScan()) {}
  ~RestoreScan() {
    if (m_scan) m_scanner.SetSLScan(m_scan);
    m_window.ShowSetupPattern();
  }
  RestoreScan(const RestoreScan&) = delete;
  RestoreScan& operator=(const RestoreScan&) = delete;

 private:
  scan::StructuredLightScanner& m_scanner;
  PatternWindow& m_window;
  scan::SLScanPtr m_scan;
};

}  // namespace

void ScannerCalibrationStation::Use(std::shared_ptr<scan::StructuredLightScanner> scanner,
                                    std::shared_ptr<PatternWindow> window,
                                    const PatternSettings& patterns) {
  m_scanner = std::move(scanner);
  m_window = std::move(window);
  m_patterns = patterns;
}

bool ScannerCalibrationStation::Ready(std::string& error) const {
  if (m_scanner && m_window) return true;
  error =
      "there is no scanner: check the product in the settings and that its camera and projector "
      "are connected";
  return false;
}

bool ScannerCalibrationStation::GrabCameraImage(std::size_t camera, img::GreyImage& image,
                                                std::string& error) {
  if (!Ready(error)) return false;
  if (camera >= m_scanner->GetCameraCount()) {
    error = "there is no camera " + std::to_string(camera + 1);
    return false;
  }
  const std::string name = m_scanner->GetCameraName(camera);
  auto white = scan::SLSingleColorPattern::GrayPattern(
      std::uint8_t(std::clamp(m_patterns.brightness, 0, 255)));
  white->SetProjectorGamma(m_patterns.projectorGamma);
  if (m_window->GetPatternDisplay()->DisplayPatterns({}, {white}).empty()) {
    error =
        "the projector did not show the white picture: check that its window is open on the "
        "projector's monitor";
    return false;
  }
  const Clock::time_point shown = Clock::now();
  bool got = false;
  img::GreyImage frame;
  // Frames exposed before the white appeared are dropped; the first one after that is the picture.
  while (SecondsSince(shown) < m_options.settleSeconds + m_options.frameTimeoutSeconds) {
    if (m_scanner->NextLiveImage(frame, camera) && !frame.IsEmpty() &&
        SecondsSince(shown) >= m_options.settleSeconds) {
      got = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  m_scanner->StopLiveImageCapture();
  m_window->ShowSetupPattern();
  if (!got) {
    error = "camera \"" + name + "\" delivered no picture within " +
            std::to_string(int(m_options.frameTimeoutSeconds + 0.5)) +
            " s: check that it is connected and not used by another program";
    return false;
  }
  image = std::move(frame);
  return true;
}

std::vector<scan::SLScanEvaluationResultPtr> ScannerCalibrationStation::ScanPanels(
    const std::atomic<bool>& cancelled, std::string& error) {
  error.clear();
  if (!Ready(error)) return {};
  PatternSettings patterns = m_patterns;
  patterns.patternMode = "coded";
  patterns.orientation = "both";  // the projector's rows and columns
  try {
    const scan::SLScanPtr definition =
        BuildScanDefinition(patterns, m_window->GetWidth(), m_window->GetHeight(), false, false);
    RestoreScan restore(*m_scanner, *m_window);
    m_scanner->StopLiveImageCapture();
    m_scanner->SetSLScan(definition);
    m_scanner->CapturePatternSequence([&](double) { return cancelled.load(); });
    if (cancelled) return {};
    const std::uint64_t shown = m_scanner->GetCompletedPatternCount(),
                        all = definition->PatternCount();
    if (shown < all) {
      error = "the scan of the panels stopped after " + std::to_string(shown) + " of " +
              std::to_string(all) +
              " patterns: check that every camera delivers pictures while the projector shows the "
              "patterns";
      return {};
    }
    if (!m_scanner->EvaluatePatternSequence([&](double) { return cancelled.load(); }) || cancelled)
      return {};
    std::vector<scan::SLScanEvaluationResultPtr> results;
    for (std::size_t c = 0; c < m_scanner->GetCameraCount(); ++c) {
      auto result = m_scanner->GetEvaluationResult(c);
      if (!result || !result->CorrespondencesX() || !result->CorrespondencesY() ||
          !result->Quality()) {
        error = "camera \"" + m_scanner->GetCameraName(c) +
                "\" decoded nothing of the panels: let the projector light both panels and set the "
                "exposure so "
                "that the stripes show";
        return {};
      }
      results.push_back(std::move(result));
    }
    return results;
  } catch (const std::exception& e) {
    error = std::string("the scan of the panels failed: ") + e.what();
    return {};
  }
}

}  // namespace shell
