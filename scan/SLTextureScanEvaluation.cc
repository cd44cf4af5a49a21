#include "scan/SLTextureScanEvaluation.h"

#include <algorithm>
#include <stdexcept>

namespace scan {

SLTextureScanEvaluation::SLTextureScanEvaluation(SLPatternSequencePtr sequence) : m_sequence(std::move(sequence)) {
  if (!m_sequence) {
    throw std::invalid_argument("SLTextureScanEvaluation::SLTextureScanEvaluation - sequence is nullptr.");
  }
}

void SLTextureScanEvaluation::Evaluate(const SLScannedImagesStore& store) {
  m_texture.reset();
  const std::uint32_t count = m_sequence->PatternCount();
  if (count == 1) {
    const auto frame = store.ColorImageOf(m_sequence->Patterns().front());
    if (frame) m_texture = std::make_shared<img::UniImage<img::RGB8>>(*frame);
    return;
  }
  if (count != 4) return;
  const auto frames = store.GrayImagesOf(*m_sequence);
  if (frames.size() != 4) return;
  const auto& black = *frames[0];
  for (const auto& frame : frames) {
    if (!frame->SameSize(black)) return;
  }
  auto texture = std::make_shared<img::UniImage<img::RGB8>>(black.width, black.height);
  auto lift = [](int value, int dark) { return static_cast<img::uint8>(std::max(0, value - dark)); };
  for (std::int32_t j = 0; j < black.size; ++j) {
    const int k = black.data[j];
    texture->data[j] = img::RGB8{lift(frames[3]->data[j], k), lift(frames[2]->data[j], k), lift(frames[1]->data[j], k)};
  }
  m_texture = std::move(texture);
}

void ComputeWhiteBalanceParams(double& red, double& green, double& blue, const img::UniImage<img::RGB8>& image) {
  const std::uint32_t x0 = image.width / 4, x1 = 3 * (image.width / 4);
  const std::uint32_t y0 = image.height / 4, y1 = 3 * (image.height / 4);
  std::uint32_t sumR = 0, sumG = 0, sumB = 0;
  std::uint32_t maxR = 1, maxG = 1, maxB = 1;
  for (std::uint32_t y = y0; y < y1; y += 5) {
    for (std::uint32_t x = x0; x < x1; x += 5) {
      const img::RGB8 p = image(x, y);
      sumR += p.r;
      sumG += p.g;
      sumB += p.b;
      maxR = std::max<std::uint32_t>(maxR, p.r);
      maxG = std::max<std::uint32_t>(maxG, p.g);
      maxB = std::max<std::uint32_t>(maxB, p.b);
    }
  }
  const double gainR = std::min(6.0, double(sumG) / double(sumR));
  const double gainB = std::min(6.0, double(sumG) / double(sumB));
  const double s = 254.0 / std::max({double(maxG), maxR * gainR, maxB * gainB});
  red = s * gainR;
  green = s;
  blue = s * gainB;
}

void ApplyWhiteBalance(img::UniImage<img::RGB8>& image, double red, double green, double blue) {
  for (std::int32_t j = 0; j < image.size; ++j) {
    img::RGB8& p = image.data[j];
    double r = std::max(0.0, red * p.r), g = std::max(0.0, green * p.g), b = std::max(0.0, blue * p.b);
    const double largest = std::max({r, g, b});
    if (largest > 255.0) {
      // Multiply first: the largest channel then lands on 255 exactly.
      r = r * 255.0 / largest;
      g = g * 255.0 / largest;
      b = b * 255.0 / largest;
    }
    p = img::RGB8::FromRGB(static_cast<img::uint8>(r), static_cast<img::uint8>(g), static_cast<img::uint8>(b));
  }
}

}  // namespace scan
