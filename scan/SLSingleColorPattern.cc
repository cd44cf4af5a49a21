#include "scan/SLSingleColorPattern.h"

#include <cmath>
#include <cstring>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace scan {

SLSingleColorPattern::SLSingleColorPattern(std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t alpha)
    : m_red(red), m_green(green), m_blue(blue), m_alpha(alpha) {}

std::array<std::uint8_t, 4> SLSingleColorPattern::BGRA() const {
  auto level = [this](std::uint8_t v) {
    return static_cast<std::uint8_t>(static_cast<int>(255.0 * std::pow(v / 255.0, m_gamma) * m_brightness / 255.0));
  };
  return {level(m_blue), level(m_green), level(m_red), m_alpha};
}

void SLSingleColorPattern::Render(SLRenderImage& image) const {
  const auto bgra = BGRA();
  for (std::uint32_t y = 0; y < image.height; ++y) {
    for (std::uint32_t x = 0; x < image.width; ++x) image.Put(x, y, bgra);
  }
}

std::shared_ptr<SLSingleColorPattern> SLSingleColorPattern::WhitePattern() {
  return std::make_shared<SLSingleColorPattern>(255, 255, 255, 255);
}
std::shared_ptr<SLSingleColorPattern> SLSingleColorPattern::BlackPattern() {
  return std::make_shared<SLSingleColorPattern>(0, 0, 0, 255);
}
std::shared_ptr<SLSingleColorPattern> SLSingleColorPattern::GrayPattern(std::uint8_t level) {
  return std::make_shared<SLSingleColorPattern>(level, level, level, 255);
}
std::shared_ptr<SLSingleColorPattern> SLSingleColorPattern::RedPattern() {
  return std::make_shared<SLSingleColorPattern>(255, 0, 0, 255);
}
std::shared_ptr<SLSingleColorPattern> SLSingleColorPattern::GreenPattern() {
  return std::make_shared<SLSingleColorPattern>(0, 255, 0, 255);
}
std::shared_ptr<SLSingleColorPattern> SLSingleColorPattern::BluePattern() {
  return std::make_shared<SLSingleColorPattern>(0, 0, 255, 255);
}

std::shared_ptr<SLPatternSequence> SLSingleColorPattern::ColorSequence() {
  auto sequence = std::make_shared<SLPatternSequence>();
  sequence->AddPattern(BlackPattern());
  sequence->AddPattern(RedPattern());
  sequence->AddPattern(GreenPattern());
  sequence->AddPattern(BluePattern());
  return sequence;
}

SLPatternSequencePtr MakeTextureSequence(std::uint32_t mode) {
  if (mode == 0) return SLSingleColorPattern::ColorSequence();
  if (mode != 1) throw std::invalid_argument("MakeTextureSequence - mode must be 0 or 1.");
  auto sequence = std::make_shared<SLPatternSequence>();
  auto grey = SLSingleColorPattern::GrayPattern(128);
  grey->SetCaptureType(1);
  sequence->AddPattern(grey);
  return sequence;
}

SLSetupPattern::SLSetupPattern(double scale) : m_scale(scale < 1.0 ? 1.0 : scale) {}

namespace {

using BGRA = std::array<std::uint8_t, 4>;

void FillRow(SLRenderImage& image, std::int64_t y, const BGRA& value) {
  if (y < 0 || y >= image.height) return;
  for (std::uint32_t x = 0; x < image.width; ++x) std::memcpy(image.Pixel(x, std::uint32_t(y)), value.data(), 4);
}

void FillColumn(SLRenderImage& image, std::int64_t x, const BGRA& value) {
  if (x < 0 || x >= image.width) return;
  for (std::uint32_t y = 0; y < image.height; ++y) std::memcpy(image.Pixel(std::uint32_t(x), y), value.data(), 4);
}

// Bands of `count` lines on both sides of the lines centre−reach … centre+reach.
void Bands(SLRenderImage& image, bool rows, std::int64_t centre, std::int64_t reach, std::int64_t count,
           const BGRA& value) {
  for (std::int64_t i = 1; i <= count; ++i) {
    for (std::int64_t line : {centre - reach - i, centre + reach + i}) {
      if (rows) {
        FillRow(image, line, value);
      } else {
        FillColumn(image, line, value);
      }
    }
  }
}

}  // namespace

void SLSetupPattern::Render(SLRenderImage& image) const {
  const std::uint32_t W = image.width;
  const std::uint32_t H = image.height;
  if (W < 1 || H < 1) return;
  const auto s = static_cast<std::uint32_t>(5.0 * m_scale);
  std::vector<BGRA> sine(s);
  for (std::uint32_t i = 0; i < s; ++i) {
    const double c =
        std::pow(0.5 * std::cos(2.0 * std::numbers::pi * i / m_scale) + 0.5, m_gamma) * m_brightness;
    const auto rgba = SineIntensity(c);
    sine[i] = {rgba[2], rgba[1], rgba[0], 0};
  }
  for (std::uint32_t y = 0; y < H; ++y) {
    const std::uint32_t a = y / s;
    for (std::uint32_t x = 0; x < W; ++x) {
      const std::uint32_t b = x / s;
      const bool vertical = (a + b) % 2 == 1;  // tile V varies along x
      std::memcpy(image.Pixel(x, y), sine[vertical ? x % s : y % s].data(), 4);
    }
  }
  const BGRA white{m_brightness, m_brightness, m_brightness, 0};
  const BGRA black{0, 0, 0, 0};
  const std::int64_t cx = W / 2;
  const std::int64_t cy = H / 2;
  FillRow(image, cy, black);
  FillColumn(image, cx, black);
  std::int64_t reach = 0;
  for (std::int64_t w : {2, 4, 8}) {
    Bands(image, true, cy, reach, w, white);
    Bands(image, false, cx, reach, w, white);
    reach += w;
    Bands(image, true, cy, reach, w, black);
    Bands(image, false, cx, reach, w, black);
    reach += w;
  }
  for (std::int64_t y : {std::int64_t(0), std::int64_t(1), std::int64_t(H) - 2, std::int64_t(H) - 1}) {
    FillRow(image, y, white);
  }
  for (std::int64_t x : {std::int64_t(0), std::int64_t(1), std::int64_t(W) - 2, std::int64_t(W) - 1}) {
    FillColumn(image, x, white);
  }
  for (std::size_t i = 0; i < std::size_t(W) * H * 4; ++i) image.data[i] &= image.channelMask[i % 4];
}

}  // namespace scan
