#pragma once

// Helpers shared by the vid tests.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "vid/ImageCapture.h"

namespace vid::test {

// An owned 1×1 Y800 frame whose only pixel is `value`.
inline ImagePtr PixelFrame(std::uint8_t value) {
  auto image = std::make_shared<Image>();
  image->format = Format{subtype::Y800, 1, 1, 0.0};
  image->data = MakeRawByteImage(image->format, 1, &value, true);
  return image;
}

inline std::uint8_t FirstByte(const ImagePtr& image) { return image->data->data[0]; }

// Records every frame; answers PushImage with `answer`.
class RecordingStore : public ImageStore {
 public:
  explicit RecordingStore(bool answer = true) : m_answer(answer) {}
  bool PushImage(ImagePtr image) override {
    std::lock_guard lock(m_mutex);
    m_images.push_back(std::move(image));
    return m_answer;
  }
  std::vector<ImagePtr> Images() const {
    std::lock_guard lock(m_mutex);
    return m_images;
  }
  std::size_t Count() const {
    std::lock_guard lock(m_mutex);
    return m_images.size();
  }

 private:
  const bool m_answer;
  mutable std::mutex m_mutex;
  std::vector<ImagePtr> m_images;
};

}  // namespace vid::test
