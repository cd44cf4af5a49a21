#include "scan/SLScan.h"

namespace scan {

std::uint32_t SLScan::PatternCount() const {
  std::uint32_t count = 0;
  for (const auto& sequence : m_sequences) count += sequence->PatternCount();
  return count;
}

SLPatternPtr SLScan::PatternAtIndex(std::uint32_t i) const {
  for (const auto& sequence : m_sequences) {
    const std::uint32_t n = sequence->PatternCount();
    if (i < n) return sequence->PatternAt(i);
    i -= n;
  }
  return nullptr;
}

std::vector<SLPatternPtr> SLScan::AllPatterns() const {
  std::vector<SLPatternPtr> patterns;
  for (const auto& sequence : m_sequences) {
    for (std::uint32_t i = 0; i < sequence->PatternCount(); ++i) patterns.push_back(sequence->PatternAt(i));
  }
  return patterns;
}

img::UniImagePtr<float> SLScan::GenerateDefaultUnitPhaseX(std::uint32_t width, std::uint32_t height) {
  auto image = std::make_shared<img::UniImage<float>>(width, height);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      (*image)(x, y) = static_cast<float>(x) / (2.0f * static_cast<float>(width)) + 0.25f;
    }
  }
  return image;
}

img::UniImagePtr<float> SLScan::GenerateDefaultUnitPhaseY(std::uint32_t width, std::uint32_t height) {
  auto image = std::make_shared<img::UniImage<float>>(width, height);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      (*image)(x, y) = static_cast<float>(y) / (2.0f * static_cast<float>(height)) + 0.25f;
    }
  }
  return image;
}

}  // namespace scan
