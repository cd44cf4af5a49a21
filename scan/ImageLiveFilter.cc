#include "scan/ImageLiveFilter.h"

#include <algorithm>
#include <cmath>

namespace scan {

ImageLiveFilter::ImageLiveFilter(double maxFrameRate,
                                 std::shared_ptr<vid::FramerateMeasure> framerateMeasure)
    : m_maxFrameRate(maxFrameRate), m_framerateMeasure(std::move(framerateMeasure)) {}

void ImageLiveFilter::SetContentChangeDetection(
    const std::shared_ptr<vid::ContentChangeDetection>& detector) {
  std::lock_guard lock(m_mutex);
  m_contentChangeDetection = detector;
}

vid::FilterResult ImageLiveFilter::Filter(const vid::Image& image) {
  const vid::FilterResult dropped{nullptr, true, false};
  if (m_framerateMeasure) {
    m_framerateMeasure->Update();
    const double rate = m_framerateMeasure->GetFramerate();
    if (rate > m_maxFrameRate) {
      if (m_dropCounter != 0) {
        --m_dropCounter;
        return dropped;
      }
      const double ratio = std::floor(rate / m_maxFrameRate) - 1.0;
      m_dropCounter = static_cast<std::int32_t>(std::clamp(ratio, 0.0, 1e9));
    }
  }
  {
    std::lock_guard lock(m_mutex);
    if (auto detector = m_contentChangeDetection.lock()) {
      if (detector->Update(image) || detector->IsTimerExpired()) m_contentChangeDetection.reset();
    }
  }
  vid::ImagePtr copy = vid::CopyImage(image);
  if (!copy) return dropped;
  return vid::FilterResult{std::move(copy), false, false};
}

}  // namespace scan
