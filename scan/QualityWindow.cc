#include "scan/QualityWindow.h"

#include <algorithm>
#include <limits>

#include "scan/DecodeKernels.h"

namespace scan {
namespace {

constexpr std::uint32_t kRadius = 2;  // the 5 × 5 window
constexpr std::uint32_t kWindow = 2 * kRadius + 1;

}  // namespace

QualityWindow::QualityWindow(std::size_t sourceCount, std::uint32_t width, std::uint32_t height)
    : m_sourceCount(sourceCount),
      m_width(width),
      m_height(height),
      m_ring(sourceCount * 2 * kWindow * std::size_t(width)) {}

float* QualityWindow::RingLo(std::size_t s, std::uint32_t y) {
  return m_ring.data() + (s * 2 * kWindow + y % kWindow) * std::size_t(m_width);
}

float* QualityWindow::RingHi(std::size_t s, std::uint32_t y) {
  return m_ring.data() + (s * 2 * kWindow + kWindow + y % kWindow) * std::size_t(m_width);
}

void QualityWindow::Clear() { std::fill(m_ring.begin(), m_ring.end(), std::numeric_limits<float>::quiet_NaN()); }

void QualityWindow::AddRow(std::size_t s, std::uint32_t y, const float* row) {
  kernels::WindowRowMinMax(row, m_width, RingLo(s, y), RingHi(s, y));
}

void QualityWindow::ScoreRow(std::uint32_t y, const float* const* values, float minContrast, float* q) {
  const std::uint32_t y0 = y >= kRadius ? y - kRadius : 0;
  const std::uint32_t y1 = std::min(m_height - 1, y + kRadius);
  std::fill(q, q + m_width, 1.0f);
  for (std::size_t s = 0; s < m_sourceCount; ++s) {
    const float* rowLo[kWindow];
    const float* rowHi[kWindow];
    for (std::uint32_t r = y0; r <= y1; ++r) {
      rowLo[r - y0] = RingLo(s, r);
      rowHi[r - y0] = RingHi(s, r);
    }
    kernels::ScoreQualityWindow(rowLo, rowHi, y1 - y0 + 1, values[s], m_width, minContrast, q);
  }
}

}  // namespace scan
