#include "shell/PatternWindow.h"

#include <stdexcept>
#include <string>

namespace shell {
namespace {

// A pattern that renders another one through a colour mask.
class MaskedPattern : public scan::SLPattern {
 public:
  MaskedPattern(scan::SLPatternPtr inner, std::uint32_t mask) : m_inner(std::move(inner)), m_mask(mask) {
    m_brightness = m_inner->GetBrightness();
    m_gamma = m_inner->GetGamma();
    m_captureType = m_inner->GetCaptureType();
  }
  void Render(scan::SLRenderImage& image) const override {
    const auto previous = image.channelMask;
    image.SetColorChannelMaskToColorChannels(m_mask);
    m_inner->Render(image);
    image.channelMask = previous;
  }

 private:
  scan::SLPatternPtr m_inner;
  std::uint32_t m_mask;
};

}  // namespace

class MaskedPatternWindow::Display : public scan::SLPatternDisplay {
 public:
  Display(scan::SLPatternDisplayPtr inner, std::shared_ptr<std::atomic<std::uint32_t>> mask)
      : m_inner(std::move(inner)), m_mask(std::move(mask)) {}

  std::vector<double> DisplayPatterns(const utils::ProgressCallback& progress,
                                      const std::vector<scan::SLPatternPtr>& patterns) override {
    const std::uint32_t mask = m_mask->load();
    if (mask == kAllChannels) return m_inner->DisplayPatterns(progress, patterns);
    std::vector<scan::SLPatternPtr> masked;
    masked.reserve(patterns.size());
    for (const auto& pattern : patterns)
      masked.push_back(pattern ? std::make_shared<MaskedPattern>(pattern, mask) : nullptr);
    return m_inner->DisplayPatterns(progress, masked);
  }
  bool DisplaySetupPattern() override { return m_inner->DisplaySetupPattern(); }

 private:
  scan::SLPatternDisplayPtr m_inner;
  std::shared_ptr<std::atomic<std::uint32_t>> m_mask;
};

MaskedPatternWindow::MaskedPatternWindow(scan::SLPatternDisplayPtr inner, std::uint32_t width, std::uint32_t height,
                                         std::function<void()> bringToFront)
    : m_inner(std::move(inner)),
      m_width(width),
      m_height(height),
      m_bringToFront(std::move(bringToFront)),
      m_mask(std::make_shared<std::atomic<std::uint32_t>>(kAllChannels)) {
  if (!m_inner) throw std::invalid_argument("MaskedPatternWindow::MaskedPatternWindow - display is null.");
  if (width == 0 || height == 0)
    throw std::invalid_argument("MaskedPatternWindow::MaskedPatternWindow - size must not be zero.");
  m_display = std::make_shared<Display>(m_inner, m_mask);
}

void MaskedPatternWindow::BringToFront() {
  if (m_bringToFront) m_bringToFront();
}

TeePatternDisplay::TeePatternDisplay(scan::SLPatternDisplayPtr first, scan::SLPatternDisplayPtr second)
    : m_first(std::move(first)), m_second(std::move(second)) {
  if (!m_first || !m_second) throw std::invalid_argument("TeePatternDisplay::TeePatternDisplay - display is null.");
}

std::vector<double> TeePatternDisplay::DisplayPatterns(const utils::ProgressCallback& progress,
                                                       const std::vector<scan::SLPatternPtr>& patterns) {
  std::vector<double> shown = m_first->DisplayPatterns(progress, patterns);
  m_second->DisplayPatterns({}, patterns);
  return shown;
}

bool TeePatternDisplay::DisplaySetupPattern() {
  const bool shown = m_first->DisplaySetupPattern();
  m_second->DisplaySetupPattern();
  return shown;
}

std::uint32_t PatternColorMask(const std::string& patternColor) {
  if (patternColor == "red") return 9;
  if (patternColor == "green") return 10;
  if (patternColor == "blue") return 12;
  return PatternWindow::kAllChannels;
}

}  // namespace shell
