#include "scan/ImageWrappers.h"

#include <iostream>
#include <stdexcept>
#include <string>

#include "vid/ImageConversion.h"

namespace scan {
namespace {

std::string Describe(const vid::Image& image) {
  return vid::MediaSubtype2String(image.format.mediaSubtype) + " " +
         std::to_string(image.format.width) + "x" + std::to_string(image.format.height) +
         " stride " + std::to_string(image.Stride());
}

}  // namespace

ImageStoreWrapper::ImageStoreWrapper(PatternSource getPattern, CapturedEvent imageCaptured,
                                     SLScannedImagesStorePtr scannedImages, std::size_t cameraIndex,
                                     std::size_t patternCount, std::uint32_t rotation)
    : m_getPattern(std::move(getPattern)),
      m_imageCaptured(std::move(imageCaptured)),
      m_scannedImages(std::move(scannedImages)),
      m_cameraIndex(cameraIndex),
      m_patternCount(patternCount),
      m_rotation(rotation) {
  if (!m_getPattern) throw std::invalid_argument("ImageStoreWrapper - getPatternFunc is nullptr.");
  if (!m_imageCaptured)
    throw std::invalid_argument("ImageStoreWrapper - imageCapturedEvent is nullptr.");
  if (!m_scannedImages)
    throw std::invalid_argument("ImageStoreWrapper - scannedImagesStore is nullptr.");
  if (!vid::IsValidRotation(m_rotation))
    throw std::invalid_argument("ImageStoreWrapper - rotation is not a rotation code.");
}

bool ImageStoreWrapper::AcceptSize(std::uint32_t width, std::uint32_t height) {
  if (m_width == 0) {
    m_width = width;
    m_height = height;
    return true;
  }
  if (width == m_width && height == m_height) return true;
  std::cerr << "Error: ImageStoreWrapper::PushImage - camera " << m_cameraIndex << " delivered a "
            << width << "x" << height << " frame after " << m_width << "x" << m_height
            << " frames; frame dropped.\n";
  return false;
}

bool ImageStoreWrapper::PushImage(vid::ImagePtr image) {
  if (!image) throw std::invalid_argument("ImageStoreWrapper::PushImage - image is nullptr.");
  if (m_scannedImages->Count() >= m_patternCount) return false;

  const SLPatternPtr pattern = m_getPattern();
  if (!pattern) return true;  // nothing is being shown for this camera
  if (pattern->GetCaptureType() == 1) {
    auto color = std::make_shared<img::UniImage<img::RGB8>>();
    if (!vid::ConvertToColor(*image, *color, 0, m_rotation)) {
      std::cerr << "Error: ImageStoreWrapper::PushImage - camera " << m_cameraIndex
                << ": a frame of " << Describe(*image)
                << " cannot be converted to colour; frame dropped.\n";
      return true;
    }
    if (!AcceptSize(color->width, color->height)) return true;
    m_scannedImages->AddColorImage(pattern, std::move(color));
  } else {
    auto grey = std::make_shared<img::UniImage<img::uint8>>();
    if (!vid::TakeAsGray(*image, *grey, m_rotation)) {
      std::cerr << "Error: ImageStoreWrapper::PushImage - camera " << m_cameraIndex
                << ": a frame of " << Describe(*image)
                << " cannot be converted to grey; frame dropped.\n";
      return true;
    }
    if (!AcceptSize(grey->width, grey->height)) return true;
    m_scannedImages->AddGrayImage(pattern, std::move(grey));
  }
  image.reset();
  m_imageCaptured(m_cameraIndex);
  return m_scannedImages->Count() < m_patternCount;
}

ImageFilterWrapper::ImageFilterWrapper(std::shared_ptr<scan::ImageFilter> imageFilter)
    : m_filter(std::move(imageFilter)) {
  if (!m_filter) throw std::invalid_argument("ImageFilterWrapper - imageFilter is nullptr.");
}

vid::FilterResult ImageFilterWrapper::Filter(const vid::Image& image) {
  vid::FilterResult dropped{nullptr, true, false};
  img::UniImage<img::uint8> grey;
  if (!vid::ViewAsGray(image, grey)) {
    if (!m_reported) {
      std::cerr << "Error: ImageFilterWrapper::Filter - a frame of " << Describe(image)
                << " cannot be read as grey; such frames are dropped.\n";
      m_reported = true;
    }
    return dropped;
  }
  auto accepted = m_filter->Process(grey);
  if (!accepted) return dropped;
  vid::ImagePtr replacement;
  if (vid::IsColorFormat(image.format) && m_filter->FramesToAverage() < 2) {
    replacement = vid::CopyImage(image);
  } else {
    replacement = vid::MakeGrayImage(std::move(*accepted), image.info, image.format.fps);
  }
  if (!replacement) return dropped;
  return vid::FilterResult{std::move(replacement), false, false};
}

}  // namespace scan
