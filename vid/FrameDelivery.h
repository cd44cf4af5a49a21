#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "vid/ImageCapture.h"

namespace vid {

// The delivery side of a source: the delivery lock, the attached store and
// filter, the stream GUID and the frame event. Deliver follows the frame
// delivery contract of ImageCapture.h; sources call it on their streaming
// thread and Attach/Detach from StartCapture/StopCapture.
class FrameDelivery {
 public:
  FrameDelivery();  // a new stream GUID
  FrameDelivery(const FrameDelivery&) = delete;
  FrameDelivery& operator=(const FrameDelivery&) = delete;

  // Replaces store and filter; a null store releases both.
  void Attach(std::shared_ptr<ImageStore> store, std::shared_ptr<ImageFilter> filter);
  void Detach();
  bool IsAttached() const;
  const utils::Guid& GetStreamGuid() const { return m_guid; }

  // Delivers one frame of format.height rows of `stride` bytes at `buffer`,
  // which must stay valid and unchanged during the call. Returns whether a
  // store is still attached. An exception from the filter or the store
  // releases both, fires the frame event and is passed on.
  bool Deliver(std::uint8_t* buffer, const Format& format, std::int32_t stride, double timestamp,
               bool flag, std::shared_ptr<const ImageMetadata> metadata = {});

  // Frames delivered so far (frame events fired).
  std::uint64_t GetFrameCount() const;
  // Waits until the frame count exceeds `seen`, at most timeoutSeconds. True
  // when it does.
  bool WaitForFrameAfter(std::uint64_t seen, double timeoutSeconds) const;

 private:
  void Signal();

  const utils::Guid m_guid;
  mutable std::mutex m_deliveryMutex;
  std::shared_ptr<ImageStore> m_store;
  std::shared_ptr<ImageFilter> m_filter;

  mutable std::mutex m_eventMutex;
  mutable std::condition_variable m_event;
  std::uint64_t m_frameCount = 0;
};

}  // namespace vid
