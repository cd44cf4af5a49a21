#pragma once

#include <cstdint>

#include "vid/ImageCapture.h"

namespace felvar {

// Waits for a usable texture frame: for an RGB24 frame the brightness Y is
// the integer mean of (R + G + B) / 3 over every fourth pixel of every
// fourth row; "ImageTextureFilter, Y=<Y>" and ", Pass." or ", Fail." go to
// standard output. A frame brighter than the threshold passes on as an
// owned copy; a darker one, and any frame of another subtype (without a
// line), is dropped. The filter never stops the capture.
class ImageTextureFilter : public vid::ImageFilter {
 public:
  explicit ImageTextureFilter(std::uint32_t threshold) : m_threshold(threshold) {}
  vid::FilterResult Filter(const vid::Image& image) override;

  // The brightness of an RGB24 frame as above.
  static std::uint32_t Brightness(const vid::Image& image);

 private:
  std::uint32_t m_threshold;
};

}  // namespace felvar
