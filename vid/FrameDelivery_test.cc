#include "vid/FrameDelivery.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "vid/ImageQueue.h"
#include "vid/TestFrames.h"

namespace vid {
namespace {

using test::RecordingStore;

const Format kFormat{subtype::Y800, 2, 2, 25.0};

// A filter that answers each frame from a script and records what it saw.
class ScriptedFilter : public ImageFilter {
 public:
  std::function<FilterResult(const Image&)> script;
  int calls = 0;
  FilterResult Filter(const Image& image) override {
    ++calls;
    return script ? script(image) : FilterResult{};
  }
};

struct Device {
  std::uint8_t buffer[8] = {1, 2, 0xEE, 0xEE, 3, 4, 0xEE, 0xEE};  // stride 4
  FrameDelivery delivery;
  bool Deliver(double t = 0.0, bool flag = false) {
    return delivery.Deliver(buffer, kFormat, 4, t, flag);
  }
};

TEST(FrameDelivery, WithoutFilterTheStoreGetsAnOwnedCopy) {
  Device device;
  auto store = std::make_shared<RecordingStore>();
  device.delivery.Attach(store, nullptr);
  EXPECT_TRUE(device.Deliver(0.04, true));
  device.buffer[0] = 77;  // the device reuses its buffer
  ASSERT_EQ(store->Count(), 1u);
  const ImagePtr image = store->Images()[0];
  EXPECT_TRUE(image->data->ownsData);
  EXPECT_EQ(image->data->data[0], 1);
  EXPECT_EQ(image->Stride(), 4);
  EXPECT_EQ(image->format, kFormat);
  EXPECT_EQ(image->info.sourceGuid, device.delivery.GetStreamGuid());
  EXPECT_DOUBLE_EQ(image->info.timestamp, 0.04);
  EXPECT_TRUE(image->info.flag);
  EXPECT_FALSE(device.delivery.GetStreamGuid().IsNull());
}

TEST(FrameDelivery, FilterSeesTheDeviceBufferWithoutACopy) {
  Device device;
  auto filter = std::make_shared<ScriptedFilter>();
  const std::uint8_t* seen = nullptr;
  filter->script = [&](const Image& image) {
    seen = image.data->data;
    return FilterResult{};
  };
  device.delivery.Attach(std::make_shared<RecordingStore>(), filter);
  device.Deliver();
  EXPECT_EQ(seen, device.buffer);
}

TEST(FrameDelivery, DropSkipsTheStoreAndCaptureContinues) {
  Device device;
  auto store = std::make_shared<RecordingStore>();
  auto filter = std::make_shared<ScriptedFilter>();
  filter->script = [&](const Image&) { return FilterResult{nullptr, filter->calls == 1, false}; };
  device.delivery.Attach(store, filter);
  EXPECT_TRUE(device.Deliver());
  EXPECT_EQ(store->Count(), 0u);
  EXPECT_TRUE(device.Deliver());
  EXPECT_EQ(store->Count(), 1u);
  EXPECT_TRUE(device.delivery.IsAttached());
}

TEST(FrameDelivery, ReplacementReachesTheStore) {
  Device device;
  auto store = std::make_shared<RecordingStore>();
  auto filter = std::make_shared<ScriptedFilter>();
  filter->script = [](const Image&) { return FilterResult{test::PixelFrame(200), false, false}; };
  device.delivery.Attach(store, filter);
  device.Deliver();
  ASSERT_EQ(store->Count(), 1u);
  EXPECT_EQ(test::FirstByte(store->Images()[0]), 200);
}

TEST(FrameDelivery, StopEndsTheCaptureEvenWhenTheStoreWantsMore) {
  Device device;
  auto store = std::make_shared<RecordingStore>(true);
  auto filter = std::make_shared<ScriptedFilter>();
  filter->script = [](const Image&) { return FilterResult{nullptr, false, true}; };
  device.delivery.Attach(store, filter);
  EXPECT_FALSE(device.Deliver());
  EXPECT_EQ(store->Count(), 1u);  // the stopping frame itself is still stored
  EXPECT_FALSE(device.delivery.IsAttached());
  device.Deliver();
  EXPECT_EQ(store->Count(), 1u);
  EXPECT_EQ(filter->calls, 1);
  EXPECT_EQ(filter.use_count(), 1);  // released by the source
}

TEST(FrameDelivery, StoreAnsweringFalseDetachesAndFullQueueStopsDelivery) {
  Device device;
  auto queue = std::make_shared<ImageQueue>(3, ImageQueue::kStopWhenFull);
  device.delivery.Attach(queue, nullptr);
  EXPECT_TRUE(device.Deliver());
  EXPECT_TRUE(device.Deliver());
  EXPECT_FALSE(device.Deliver());
  device.Deliver();
  EXPECT_EQ(queue->Count(), 3u);
}

TEST(FrameDelivery, NullStoreAttachesNothing) {
  Device device;
  auto filter = std::make_shared<ScriptedFilter>();
  device.delivery.Attach(nullptr, filter);
  EXPECT_FALSE(device.delivery.IsAttached());
  device.Deliver();
  EXPECT_EQ(filter->calls, 0);
}

TEST(FrameDelivery, AFailingStoreIsReleasedAndTheErrorPassedOn) {
  struct Throwing : ImageStore {
    bool PushImage(ImagePtr) override { throw std::runtime_error("disk full"); }
  };
  Device device;
  device.delivery.Attach(std::make_shared<Throwing>(), nullptr);
  const auto before = device.delivery.GetFrameCount();
  EXPECT_THROW(device.Deliver(), std::runtime_error);
  EXPECT_FALSE(device.delivery.IsAttached());
  EXPECT_EQ(device.delivery.GetFrameCount(), before + 1);
}

TEST(FrameDelivery, FrameEventWakesAWaiter) {
  Device device;
  EXPECT_FALSE(device.delivery.WaitForFrameAfter(0, 0.01));
  std::thread streaming([&] { device.Deliver(); });
  EXPECT_TRUE(device.delivery.WaitForFrameAfter(0, 10.0));
  streaming.join();
  EXPECT_EQ(device.delivery.GetFrameCount(), 1u);
}

// A store that notes any call made after the test has detached it.
class WatchedStore : public ImageStore {
 public:
  std::atomic<bool> detached{false};
  std::atomic<int> lateCalls{0};
  std::atomic<int> calls{0};
  bool PushImage(ImagePtr) override {
    ++calls;
    if (detached) ++lateCalls;
    return true;
  }
};

TEST(FrameDelivery, NoFrameReachesAStoreAfterDetachReturns) {
  Device device;
  std::atomic<bool> running{true};
  std::thread streaming([&] {
    std::uint8_t buffer[8] = {};
    while (running) device.delivery.Deliver(buffer, kFormat, 4, 0.0, false);
  });
  std::vector<std::shared_ptr<WatchedStore>> stores;
  for (int round = 0; round < 200; ++round) {
    auto store = std::make_shared<WatchedStore>();
    stores.push_back(store);
    device.delivery.Attach(store, nullptr);
    while (store->calls == 0 && round % 2 == 0) std::this_thread::yield();
    device.delivery.Detach();
    store->detached = true;
  }
  running = false;
  streaming.join();
  for (const auto& store : stores) EXPECT_EQ(store->lateCalls, 0);
}

}  // namespace
}  // namespace vid
