#include "scan/SLScannedImagesStore.h"

namespace scan {

bool SLScannedImagesStore::AddGrayImage(const SLPatternPtr& pattern, GrayPtr image) {
  if (!pattern || !image) return false;
  return m_grayImages.emplace(pattern, std::move(image)).second;
}

bool SLScannedImagesStore::AddColorImage(const SLPatternPtr& pattern, ColorPtr image) {
  if (!pattern || !image) return false;
  return m_colorImages.emplace(pattern, std::move(image)).second;
}

std::vector<SLScannedImagesStore::GrayPtr> SLScannedImagesStore::GrayImagesOf(const SLPatternSequence& sequence) const {
  std::vector<GrayPtr> frames;
  for (const SLPatternPtr& pattern : sequence.Patterns()) {
    auto it = m_grayImages.find(pattern);
    if (it == m_grayImages.end()) break;
    frames.push_back(it->second);
  }
  return frames;
}

SLScannedImagesStore::GrayPtr SLScannedImagesStore::GrayImageOf(const SLPatternPtr& pattern) const {
  auto it = m_grayImages.find(pattern);
  return it == m_grayImages.end() ? nullptr : it->second;
}

SLScannedImagesStore::ColorPtr SLScannedImagesStore::ColorImageOf(const SLPatternPtr& pattern) const {
  auto it = m_colorImages.find(pattern);
  return it == m_colorImages.end() ? nullptr : it->second;
}

}  // namespace scan
