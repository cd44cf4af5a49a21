#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "scan/ImageFilter.h"
#include "scan/SLPattern.h"
#include "scan/SLScannedImagesStore.h"
#include "vid/ImageCapture.h"

namespace scan {

// Files each accepted frame of one camera in its SLScannedImagesStore under
// the pattern being shown, converted to grey or, for a pattern of capture type
// 1, to colour, with the camera's rotation applied. An 8-bit grey unrotated
// frame hands its buffer to the store without a copy. Runs on the camera's
// delivery thread.
//
// A frame that cannot be converted, or whose size (after rotation) differs
// from the first frame this wrapper stored, is rejected with one "Error: ..."
// line on stderr; the capture goes on with the next frame.
class ImageStoreWrapper : public vid::ImageStore {
 public:
  using PatternSource = std::function<SLPatternPtr()>;
  using CapturedEvent = std::function<void(std::size_t cameraIndex)>;

  // Throws std::invalid_argument "ImageStoreWrapper - getPatternFunc is
  // nullptr.", "... imageCapturedEvent is nullptr.", "... scannedImagesStore
  // is nullptr." (in this order), or "... rotation is not a rotation code."
  ImageStoreWrapper(PatternSource getPattern, CapturedEvent imageCaptured,
                    SLScannedImagesStorePtr scannedImages, std::size_t cameraIndex,
                    std::size_t patternCount, std::uint32_t rotation);

  // False once the store holds patternCount frames (the frame is then not
  // looked at and imageCaptured is not called). Throws std::invalid_argument
  // "ImageStoreWrapper::PushImage - image is nullptr." for a null frame.
  bool PushImage(vid::ImagePtr image) override;

 private:
  bool AcceptSize(std::uint32_t width, std::uint32_t height);

  PatternSource m_getPattern;
  CapturedEvent m_imageCaptured;
  SLScannedImagesStorePtr m_scannedImages;
  std::size_t m_cameraIndex;
  std::size_t m_patternCount;
  std::uint32_t m_rotation;
  std::uint32_t m_width = 0;  // size of the frames stored so far; 0 before the first
  std::uint32_t m_height = 0;
};

// Adapts an ImageFilter to the capture interface: the frame is read as 8-bit
// grey (viewed without a copy when it already is), and a frame the filter
// accepts is passed on as the grey result with the incoming frame's metadata.
// A colour frame accepted without averaging is passed on as an owned copy of
// itself instead, so that colour patterns keep their colour; the store makes
// it grey for grey patterns exactly as the filter did. A frame that cannot be
// read as grey is dropped (logged once per wrapper).
class ImageFilterWrapper : public vid::ImageFilter {
 public:
  // Throws std::invalid_argument "ImageFilterWrapper - imageFilter is nullptr.".
  explicit ImageFilterWrapper(std::shared_ptr<scan::ImageFilter> imageFilter);

  vid::FilterResult Filter(const vid::Image& image) override;

 private:
  std::shared_ptr<scan::ImageFilter> m_filter;
  bool m_reported = false;
};

}  // namespace scan
