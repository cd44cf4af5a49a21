#pragma once

#include <memory>

#include "foundation/img/UniImage.h"
#include "scan/SLPatternSequence.h"
#include "scan/SLScannedImagesStore.h"

namespace scan {

// The surface colour as the camera saw it. A four-pattern sequence (black,
// red, green, blue; grey frames) gives per pixel each colour frame minus the
// black frame, floored at 0; a one-pattern sequence gives a copy of its colour
// frame. Any other sequence, or a missing frame, gives no texture.
class SLTextureScanEvaluation {
 public:
  explicit SLTextureScanEvaluation(SLPatternSequencePtr sequence);

  void Evaluate(const SLScannedImagesStore& store);
  img::UniImagePtr<img::RGB8> GetTexture() const { return m_texture; }

 private:
  SLPatternSequencePtr m_sequence;
  img::UniImagePtr<img::RGB8> m_texture;
};

// White-balance factors of a colour image, sampled on every 5th row and
// column of its central half: red and blue means are equalised to green (no
// channel amplified more than 6 times) and the brightest sample lands at 254.
void ComputeWhiteBalanceParams(double& red, double& green, double& blue, const img::UniImage<img::RGB8>& image);

// Multiplies every pixel's channels by the factors; a pixel whose largest
// product exceeds 255 is scaled down as a whole (hue kept). Truncates.
void ApplyWhiteBalance(img::UniImage<img::RGB8>& image, double red, double green, double blue);

}  // namespace scan
