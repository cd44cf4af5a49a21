#include "scan/ImageFilter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace scan {

ImageFilter::ImageFilter(const AcquisitionParameters& p, vid::SecondsClock clock)
    : m_clock(std::move(clock)),
      m_maxHoldingTime(p.maxPatternHoldingTime),
      m_sensitivity(p.imageContentSensitivity),
      m_skipCount(p.imageSkipCount) {
  if (p.imageContentSensitivity >= 100) {
    m_mode = kEveryFrame;
    m_framesToAverage = 0;
  } else {
    m_mode = p.imageContentSensitivity == 0 ? kFixedRate : kChangeDetection;
    // The shift count is taken modulo 32 (two's complement, as the hardware does).
    const std::int64_t power = std::int64_t{1} << (p.noiseReduction & 31);
    m_framesToAverage = static_cast<std::int32_t>((power + 2) / 2);
  }
  if (p.restDuration > 0.0) {
    m_restDuration = p.restDuration;
    m_state = p.waitForMotionFirst ? kWaitingForMotion : kWaitingForRest;
  }
  RestartTimer();
}

double ImageFilter::Now() const { return m_clock ? m_clock() : vid::SteadySeconds(); }

std::int32_t ImageFilter::SuggestImageSkipCount(bool slowCamera) {
  // The compositor query is not available on this platform: "cannot be asked".
  return 2 + (slowCamera ? 1 : 0);
}

bool ImageFilter::Changed(const img::UniImage<img::uint8>& reference,
                          const img::UniImage<img::uint8>& frame, double sensitivity) {
  constexpr std::uint32_t kStep = 5;
  const double threshold = (100.0 - sensitivity) * 2.55;
  const std::uint32_t w = std::min(frame.width, reference.width);
  const std::uint32_t h = std::min(frame.height, reference.height);
  const std::uint32_t x0 = w / 4, x1 = (w / 4) * 3;
  const std::uint32_t y0 = h / 4, y1 = (h / 4) * 3;
  const double samples = double((x1 - x0) / kStep + 1) * double((y1 - y0) / kStep + 1);
  const long needed = std::lround(samples * 0.02);
  if (needed < 1 || y0 > y1) return false;
  long count = 0;
  for (std::uint32_t y = y0; y <= y1; y += kStep) {
    const img::uint8* r = reference.Row(y);
    const img::uint8* f = frame.Row(y);
    for (std::uint32_t x = x0; x <= x1; x += kStep) {
      if (std::abs(int(r[x]) - int(f[x])) > threshold && ++count >= needed) return true;
    }
  }
  return false;
}

std::unique_ptr<img::UniImage<img::uint8>> ImageFilter::Process(
    const img::UniImage<img::uint8>& frame) {
  if (m_referenceImage.IsEmpty()) {
    m_referenceImage = frame;
    RestartTimer();
    return nullptr;
  }
  if (m_state == kWaitingForMotion && Changed(frame)) {
    RestartTimer();
    m_state = kWaitingForRest;
  }
  if (m_state == kWaitingForRest) {
    if (Changed(frame)) {
      m_referenceImage = frame;
      RestartTimer();
    } else if (Elapsed() > m_restDuration) {
      m_state = kTaking;
    }
  }
  if (m_state == kWaitingForPattern) {
    const bool timeout = Elapsed() > m_maxHoldingTime;
    if (m_mode == kChangeDetection) {
      if (timeout || Changed(frame)) {
        m_skipCounter = m_skipCount;
        m_state = kSkipping;
      }
    } else if (m_mode == kFixedRate) {
      if (timeout) m_state = kTaking;
    } else {
      m_state = kTaking;
    }
  }
  if (m_state == kSkipping) {
    if (m_skipCounter > 0) {
      --m_skipCounter;
    } else {
      m_state = kTaking;
    }
  }
  if (m_state == kTaking) return Take(frame);
  return nullptr;
}

std::unique_ptr<img::UniImage<img::uint8>> ImageFilter::Take(
    const img::UniImage<img::uint8>& frame) {
  m_referenceImage = frame;
  if (m_framesToAverage < 2) return Finish(std::make_unique<img::UniImage<img::uint8>>(frame));

  if (m_sumCount == 0 || !m_sumImage.SameSize(frame)) {
    m_sumImage.ResetSize(frame.width, frame.height);
    std::copy(frame.data, frame.data + frame.size, m_sumImage.data);
    m_sumCount = 1;
  } else {
    for (std::int32_t i = 0; i < frame.size; ++i) m_sumImage.data[i] += frame.data[i];
    ++m_sumCount;
  }
  if (m_sumCount < m_framesToAverage) return nullptr;

  auto result = std::make_unique<img::UniImage<img::uint8>>(m_sumImage.width, m_sumImage.height);
  for (std::int32_t i = 0; i < m_sumImage.size; ++i)
    result->data[i] = static_cast<img::uint8>(m_sumImage.data[i] / m_sumCount);
  return Finish(std::move(result));
}

std::unique_ptr<img::UniImage<img::uint8>> ImageFilter::Finish(
    std::unique_ptr<img::UniImage<img::uint8>> result) {
  m_sumImage = img::UniImage<img::int32>();
  m_sumCount = 0;
  m_state = kWaitingForPattern;
  RestartTimer();
  return result;
}

}  // namespace scan
