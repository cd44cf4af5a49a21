#include "vid/ImageQueue.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

namespace vid {

struct ImageQueue::Sync {
  std::mutex mutex;
  std::condition_variable notEmpty;
  std::condition_variable full;
  std::deque<ImagePtr> images;
};

ImageQueue::ImageQueue(std::size_t capacity, int mode)
    : m_capacity(capacity), m_mode(mode), m_sync(std::make_shared<Sync>()) {
  if (capacity == 0) throw std::invalid_argument("Queue capacity may not be zero.");
}

bool ImageQueue::PushImage(ImagePtr image) {
  if (!image) throw std::invalid_argument("The image argument may not be nullptr.");
  std::lock_guard lock(m_sync->mutex);
  auto& images = m_sync->images;
  if (images.size() < m_capacity) {
    images.push_back(std::move(image));
  } else if (m_mode == kReplaceNewest) {
    images.back() = std::move(image);
  }
  const bool isFull = images.size() >= m_capacity;
  m_sync->notEmpty.notify_all();
  if (isFull) m_sync->full.notify_all();
  return !(isFull && m_mode != kReplaceNewest && m_mode != kDiscardNew);
}

ImagePtr ImageQueue::Pop() {
  std::lock_guard lock(m_sync->mutex);
  auto& images = m_sync->images;
  if (images.empty()) return nullptr;
  ImagePtr image = std::move(images.front());
  images.pop_front();
  return image;
}

std::size_t ImageQueue::Count() const {
  std::lock_guard lock(m_sync->mutex);
  return m_sync->images.size();
}

bool ImageQueue::Wait(int which, double timeoutSeconds) const {
  std::unique_lock lock(m_sync->mutex);
  const auto& images = m_sync->images;
  const auto timeout = std::chrono::duration<double>(std::clamp(timeoutSeconds, 0.0, 1e8));
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::nanoseconds>(timeout);
  if (which == kNotEmpty)
    return m_sync->notEmpty.wait_until(lock, deadline, [&] { return !images.empty(); });
  return m_sync->full.wait_until(lock, deadline, [&] { return images.size() >= m_capacity; });
}

}  // namespace vid
