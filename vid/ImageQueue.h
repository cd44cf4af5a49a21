#pragma once

#include <cstddef>
#include <deque>
#include <memory>

#include "vid/ImageCapture.h"

namespace vid {

// A store that hands frames to consumer threads. Thread-safe: a source pushes
// on its streaming thread while consumers pop or wait on others.
class ImageQueue : public ImageStore {
 public:
  enum Mode : int {
    kReplaceNewest = 0,  // when full, the newest queued frame is replaced
    kDiscardNew = 1,     // when full, new frames are discarded
    kStopWhenFull = 2,   // as 1, and PushImage returns false once the queue is full
  };
  enum Condition : int { kNotEmpty = 0, kFull = 1 };

  // Throws std::invalid_argument "Queue capacity may not be zero." for capacity 0.
  // A mode other than 0 or 1 behaves as 2.
  ImageQueue(std::size_t capacity, int mode);
  ImageQueue(const ImageQueue&) = delete;
  ImageQueue& operator=(const ImageQueue&) = delete;

  // Throws std::invalid_argument "The image argument may not be nullptr." for
  // a null image. False only when the queue is full in mode 2.
  bool PushImage(ImagePtr image) override;

  // The oldest frame, or null when the queue is empty.
  ImagePtr Pop();
  std::size_t Count() const;
  std::size_t Capacity() const { return m_capacity; }
  int GetMode() const { return m_mode; }

  // Waits until the queue is not empty (which = 0) or full (any other value),
  // at most timeoutSeconds (≤ 0: no waiting). True when the condition holds.
  bool Wait(int which, double timeoutSeconds) const;

 private:
  struct Sync;
  const std::size_t m_capacity;
  const int m_mode;
  std::shared_ptr<Sync> m_sync;  // lock, condition variables and the frames
};

}  // namespace vid
