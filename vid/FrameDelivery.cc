#include "vid/FrameDelivery.h"

#include <algorithm>
#include <chrono>

namespace vid {

FrameDelivery::FrameDelivery() : m_guid(utils::Guid::NewGuid()) {}

void FrameDelivery::Attach(std::shared_ptr<ImageStore> store, std::shared_ptr<ImageFilter> filter) {
  std::lock_guard lock(m_deliveryMutex);
  if (!store) filter.reset();
  m_store = std::move(store);
  m_filter = std::move(filter);
}

void FrameDelivery::Detach() { Attach(nullptr, nullptr); }

bool FrameDelivery::IsAttached() const {
  std::lock_guard lock(m_deliveryMutex);
  return m_store != nullptr;
}

bool FrameDelivery::Deliver(std::uint8_t* buffer, const Format& format, std::int32_t stride,
                            double timestamp, bool flag,
                            std::shared_ptr<const ImageMetadata> metadata) {
  std::unique_lock lock(m_deliveryMutex);
  try {
    Image frame;
    frame.data = MakeRawByteImage(format, stride, buffer, false);
    frame.format = format;
    frame.info = ImageInfo{m_guid, flag, timestamp, std::move(metadata)};

    ImagePtr current;
    FilterResult result;
    if (m_filter) {
      result = m_filter->Filter(frame);
      current = std::move(result.replacement);
    }
    if (!current && !result.drop) current = CopyImage(frame);
    bool more = true;
    if (current && m_store) more = m_store->PushImage(std::move(current));
    if (result.stop || !more) {
      m_store.reset();
      m_filter.reset();
    }
  } catch (...) {
    m_store.reset();
    m_filter.reset();
    lock.unlock();
    Signal();
    throw;
  }
  const bool attached = m_store != nullptr;
  lock.unlock();
  Signal();
  return attached;
}

void FrameDelivery::Signal() {
  {
    std::lock_guard lock(m_eventMutex);
    ++m_frameCount;
  }
  m_event.notify_all();
}

std::uint64_t FrameDelivery::GetFrameCount() const {
  std::lock_guard lock(m_eventMutex);
  return m_frameCount;
}

bool FrameDelivery::WaitForFrameAfter(std::uint64_t seen, double timeoutSeconds) const {
  std::unique_lock lock(m_eventMutex);
  const auto timeout = std::chrono::duration<double>(std::clamp(timeoutSeconds, 0.0, 1e8));
  return m_event.wait_for(lock, std::chrono::duration_cast<std::chrono::nanoseconds>(timeout),
                          [&] { return m_frameCount > seen; });
}

}  // namespace vid
