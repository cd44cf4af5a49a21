// The capture and evaluation of a pattern sequence and the distance check of
// extended-view scans.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <stdexcept>
#include <thread>

#include "scan/ImageFilter.h"
#include "scan/ImageWrappers.h"
#include "scan/StructuredLightScanner.h"

namespace scan {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(50);
constexpr float kLowestCorrespondence = 0.01f;
constexpr float kHighestCorrespondence = 0.99f;
constexpr float kClampedQuality = 0.001f;

// Pixels whose correspondence lies outside 0.01 … 0.99 are not trusted: their
// quality drops to at most 0.001 (a NaN correspondence leaves it alone).
void ClampQualityNearBorders(const img::UniImage<float>& correspondence,
                             img::UniImage<float>& quality) {
  const std::uint32_t w = std::min(correspondence.width, quality.width);
  const std::uint32_t h = std::min(correspondence.height, quality.height);
  for (std::uint32_t y = 0; y < h; ++y) {
    const float* c = correspondence.Row(y);
    float* q = quality.Row(y);
    for (std::uint32_t x = 0; x < w; ++x) {
      if ((c[x] < kLowestCorrespondence || c[x] > kHighestCorrespondence) && q[x] > kClampedQuality)
        q[x] = kClampedQuality;
    }
  }
}

}  // namespace

SLPatternPtr StructuredLightScanner::GetCurrentPattern() const {
  std::lock_guard lock(m_captureMutex);
  return CurrentPatternLocked();
}

SLPatternPtr StructuredLightScanner::CurrentPatternLocked() const {
  if (!m_capture.scan) return nullptr;
  std::uint64_t m = m_capture.patternCount;
  for (std::size_t count : m_capture.storedCounts) m = std::min<std::uint64_t>(m, count);
  return m_capture.scan->PatternAtIndex(static_cast<std::uint32_t>(m));
}

void StructuredLightScanner::OnImageCaptured(std::size_t cameraIndex) {
  std::lock_guard lock(m_captureMutex);
  if (cameraIndex >= m_capture.stores.size()) return;
  // Only this camera's thread writes its store, so its count can be read here.
  const std::size_t n = m_capture.stores[cameraIndex]->Count();
  m_capture.storedCounts[cameraIndex] = n;
  for (std::size_t count : m_capture.storedCounts)
    if (count != n) return;  // another camera has not yet delivered this pattern
  if (n <= m_completedPatternCount.load()) return;
  if (n < m_capture.patternCount && m_capture.display) {
    if (SLPatternPtr next = CurrentPatternLocked()) m_capture.display->DisplayPatterns({}, {next});
  }
  m_completedPatternCount.exchange(n);
}

void StructuredLightScanner::CheckCaptureReady() const {
  const std::string prefix = "StructuredLightScanner::CapturePatternSequence - ";
  if (!m_scan) throw std::logic_error(prefix + "scan object is not set.");
  if (!m_patternDisplay) throw std::logic_error(prefix + "Pattern display is not set.");
  if (m_cameras.empty()) throw std::logic_error(prefix + "No camera has been added.");
  for (std::size_t i = 0; i < m_cameras.size(); ++i) {
    if (!m_cameras[i].imageCapture)
      throw std::logic_error(prefix + "Camera " + std::to_string(i) + " (\"" + m_cameras[i].name +
                             "\") has no image capture.");
  }
}

void StructuredLightScanner::DetachCaptures() {
  for (CameraSlot& slot : m_cameras)
    if (slot.imageCapture) slot.imageCapture->StartCapture(nullptr, nullptr);
}

void StructuredLightScanner::StartPatternCapture() {
  const std::size_t cameraCount = m_cameras.size();
  {
    std::lock_guard lock(m_captureMutex);
    m_completedPatternCount.store(0);
    m_capture = CaptureState{};
    m_capture.scan = m_scan;
    m_capture.display = m_patternDisplay;
    m_capture.patternCount = m_scan->PatternCount();
    for (CameraSlot& slot : m_cameras) {
      slot.scannedImages = std::make_shared<SLScannedImagesStore>();
      m_capture.stores.push_back(slot.scannedImages);
    }
    m_capture.storedCounts.assign(cameraCount, 0);
  }
  for (std::size_t i = 0; i < cameraCount; ++i) {
    CameraSlot& slot = m_cameras[i];
    auto store = std::make_shared<ImageStoreWrapper>(
        [this] { return GetCurrentPattern(); }, [this](std::size_t c) { OnImageCaptured(c); },
        slot.scannedImages, i, m_capture.patternCount, slot.imageRotation);
    auto filter = std::make_shared<ImageFilterWrapper>(
        std::make_shared<ImageFilter>(m_acquisitionParameters));
    slot.imageCapture->StartCapture(std::move(store), std::move(filter));
  }
  // Under the lock, so that the first pattern is shown before any camera
  // thread can advance to the second.
  std::lock_guard lock(m_captureMutex);
  if (SLPatternPtr first = CurrentPatternLocked()) m_capture.display->DisplayPatterns({}, {first});
}

void StructuredLightScanner::CapturePatternSequence(const utils::ProgressCallback& progressIn) {
  CheckCaptureReady();
  const utils::ProgressCallback progress = progressIn;  // released before returning
  if (progress && progress(0.0)) return;

  OnCaptureStateChanged(1);
  const std::uint64_t patternCount = m_scan->PatternCount();
  bool cancelled = false;
  try {
    StartPatternCapture();
    while (m_completedPatternCount.load() < patternCount) {
      std::this_thread::sleep_for(kPollInterval);
      const double fraction = double(m_completedPatternCount.load()) / double(patternCount);
      if (progress && progress(fraction)) {
        cancelled = true;
        break;
      }
    }
    if (!cancelled) {
      if (m_textureCaptureMode == 2) {
        OnCaptureStateChanged(2);
        m_highQualityTexture = CaptureHighQualityTexture();
      } else {
        m_highQualityTexture = HighQualityTexture{};
      }
    }
  } catch (...) {
    // No frame may arrive for a capture nobody waits for any more.
    try {
      DetachCaptures();
    } catch (...) {
    }
    throw;
  }

  OnCaptureStateChanged(0);
  DetachCaptures();
  m_patternDisplay->DisplaySetupPattern();
  if (!cancelled && progress) progress(1.0);
}

bool StructuredLightScanner::EvaluatePatternSequence(const utils::ProgressCallback& progressIn) {
  if (!m_scan)
    throw std::logic_error(
        "StructuredLightScanner::EvaluatePatternSequence - scan object is not set.");
  const utils::ProgressCallback progress = progressIn;
  if (progress && progress(0.0)) return false;

  const std::size_t n = m_cameras.size();
  bool cancel = false;
  for (std::size_t i = 0; i < n; ++i) {
    CameraSlot& slot = m_cameras[i];
    slot.evaluationResult.reset();
    if (!slot.scannedImages) continue;
    utils::ProgressCallback sub;
    if (progress) sub = utils::SubProgress(progress, double(i) / n, double(i + 1) / n).AsCallback();
    SLScanEvaluationResultPtr result = m_scan->Evaluate(*slot.scannedImages, sub);
    if (result && (result->CorrespondencesX() || result->CorrespondencesY())) {
      if (auto quality = result->Quality()) {
        if (auto x = result->CorrespondencesX()) ClampQualityNearBorders(*x, *quality);
        if (auto y = result->CorrespondencesY()) ClampQualityNearBorders(*y, *quality);
      }
      slot.evaluationResult = std::move(result);
      slot.scannedImages.reset();
    }
    if (progress) cancel = progress(double(i + 1) / n);
  }
  return !cancel;
}

std::vector<math::Vec3d> StructuredLightScanner::SampleDepthPixels(std::uint32_t width,
                                                                   std::uint32_t height,
                                                                   const DepthPixelPoint& pointAt) {
  std::vector<math::Vec3d> points;
  if (!pointAt) return points;
  math::Vec3d world;
  for (std::uint32_t y = 0; y < height; y += 3)
    for (std::uint32_t x = 0; x < width; x += 4)
      if (pointAt(x, y, world)) points.push_back(world);
  return points;
}

bool StructuredLightScanner::CheckExtendedViewScanDistance(const std::vector<math::Vec3d>& scanA,
                                                           const std::vector<math::Vec3d>& scanB,
                                                           double threshold,
                                                           std::uint32_t projectorWidth,
                                                           std::uint32_t projectorHeight) const {
  constexpr std::uint32_t kReduction = 15;
  const std::string prefix = "StructuredLightScanner::CheckExtendedViewScanDistance - ";
  if (!m_projectorModel) throw std::logic_error(prefix + "Projector model is not set.");
  if (projectorWidth == 0) projectorWidth = m_projectorModel->GetResX();
  if (projectorHeight == 0) projectorHeight = m_projectorModel->GetResY();
  const std::uint32_t w = projectorWidth / kReduction;
  const std::uint32_t h = projectorHeight / kReduction;
  if (w == 0 || h == 0) throw std::logic_error(prefix + "Projector size is below 15 x 15 pixels.");
  std::unique_ptr<cam::CameraModel> projector = m_projectorModel->CloneModel();
  projector->ScaleToResolution(w, h);

  // Depth along the projector's viewing axis per reduced projector pixel, 0
  // where no point landed. A few hundred thousand points at most: one pass
  // in point order is fast and makes the first point of a cell win
  // deterministically.
  auto splat = [&](const std::vector<math::Vec3d>& points) {
    img::UniImage<float> depth(w, h);
    depth = 0.0f;
    math::Vec2d pixel;
    for (const math::Vec3d& world : points) {
      const math::Vec3d p = projector->GetFrame_cTw().MultP(world);
      if (!projector->CameraPointToPixel(pixel, p)) continue;
      if (!std::isfinite(pixel[0]) || !std::isfinite(pixel[1])) continue;
      const double px = std::clamp(std::trunc(pixel[0]), 0.0, double(w - 1));
      const double py = std::clamp(std::trunc(pixel[1]), 0.0, double(h - 1));
      float& cell = depth(static_cast<std::uint32_t>(px), static_cast<std::uint32_t>(py));
      if (cell == 0.0f) cell = static_cast<float>(p[2]);
    }
    return depth;
  };
  const img::UniImage<float> a = splat(scanA);
  const img::UniImage<float> b = splat(scanB);

  std::vector<float> differences;
  for (std::int32_t i = 0; i < a.size; ++i)
    if (a.data[i] > 0.0f && b.data[i] > 0.0f)
      differences.push_back(std::fabs(a.data[i] - b.data[i]));
  float median = 0.0f;
  if (!differences.empty()) {
    auto middle = differences.begin() + static_cast<std::ptrdiff_t>(differences.size() / 2);
    std::nth_element(differences.begin(), middle, differences.end());
    median = *middle;
  }
  return median <= threshold;
}

}  // namespace scan
