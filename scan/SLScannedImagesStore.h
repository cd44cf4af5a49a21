#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "foundation/img/UniImage.h"
#include "scan/SLPattern.h"
#include "scan/SLPatternSequence.h"

namespace scan {

// The frames of one camera for one capture, filed by the pattern that was
// shown (keyed by pattern address). A pattern keeps its first frame: later
// frames for it are discarded. Filled by one capture thread; read by the
// evaluations only after the capture (or under the scanner's lock).
class SLScannedImagesStore {
 public:
  using GrayPtr = img::UniImagePtr<img::uint8>;
  using ColorPtr = img::UniImagePtr<img::RGB8>;

  virtual ~SLScannedImagesStore() = default;

  // True when the frame was filed, false when the pattern already had one
  // (or pattern or image is null).
  bool AddGrayImage(const SLPatternPtr& pattern, GrayPtr image);
  bool AddColorImage(const SLPatternPtr& pattern, ColorPtr image);

  // Grey plus colour frames.
  std::size_t Count() const { return m_grayImages.size() + m_colorImages.size(); }

  // The grey frames of the sequence's patterns in the sequence's own order
  // (not the display order), up to the first pattern without a grey frame.
  std::vector<GrayPtr> GrayImagesOf(const SLPatternSequence& sequence) const;
  GrayPtr GrayImageOf(const SLPatternPtr& pattern) const;
  // Null when the pattern has no colour frame.
  ColorPtr ColorImageOf(const SLPatternPtr& pattern) const;

 private:
  std::map<SLPatternPtr, GrayPtr> m_grayImages;
  std::map<SLPatternPtr, ColorPtr> m_colorImages;
};

using SLScannedImagesStorePtr = std::shared_ptr<SLScannedImagesStore>;

}  // namespace scan
