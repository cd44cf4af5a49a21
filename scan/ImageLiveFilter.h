#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "vid/ContentChangeDetection.h"
#include "vid/FramerateMeasure.h"
#include "vid/ImageCapture.h"

namespace scan {

// The filter of a camera's live preview: measures the frame rate, drops
// frames so that about maxFrameRate of them reach the preview, feeds an
// optional content-change detector and passes each kept frame on as an owned
// copy. Filter runs on the camera's delivery thread; SetContentChangeDetection
// may be called from any thread.
class ImageLiveFilter : public vid::ImageFilter {
 public:
  // maxFrameRate in frames per second; framerateMeasure may be null (no limit).
  ImageLiveFilter(double maxFrameRate, std::shared_ptr<vid::FramerateMeasure> framerateMeasure);

  // Keeps a weak reference; the detector is fed every kept frame until it
  // reports a change or its time-out, and then let go (it fires once).
  void SetContentChangeDetection(const std::shared_ptr<vid::ContentChangeDetection>& detector);

  vid::FilterResult Filter(const vid::Image& image) override;

 private:
  const double m_maxFrameRate;
  std::int32_t m_dropCounter = 0;
  const std::shared_ptr<vid::FramerateMeasure> m_framerateMeasure;
  std::mutex m_mutex;  // guards m_contentChangeDetection
  std::weak_ptr<vid::ContentChangeDetection> m_contentChangeDetection;
};

}  // namespace scan
