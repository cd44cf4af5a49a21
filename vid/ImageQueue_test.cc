#include "vid/ImageQueue.h"

#include <gtest/gtest.h>

#include <thread>

#include "vid/TestFrames.h"

namespace vid {
namespace {

using test::FirstByte;
using test::PixelFrame;

std::vector<int> Drain(ImageQueue& queue) {
  std::vector<int> values;
  while (ImagePtr image = queue.Pop()) values.push_back(FirstByte(image));
  return values;
}

TEST(ImageQueue, ModeZeroReplacesTheNewestWhenFull) {
  ImageQueue queue(3, ImageQueue::kReplaceNewest);
  for (int i = 1; i <= 5; ++i) EXPECT_TRUE(queue.PushImage(PixelFrame(std::uint8_t(i))));
  EXPECT_EQ(queue.Count(), 3u);
  EXPECT_EQ(Drain(queue), (std::vector<int>{1, 2, 5}));
  EXPECT_EQ(queue.Pop(), nullptr);
}

TEST(ImageQueue, ModeOneDiscardsNewFramesAndKeepsAsking) {
  ImageQueue queue(3, ImageQueue::kDiscardNew);
  for (int i = 1; i <= 5; ++i) EXPECT_TRUE(queue.PushImage(PixelFrame(std::uint8_t(i))));
  EXPECT_EQ(Drain(queue), (std::vector<int>{1, 2, 3}));
}

TEST(ImageQueue, ModeTwoEndsTheCaptureOnceFull) {
  ImageQueue queue(3, ImageQueue::kStopWhenFull);
  EXPECT_TRUE(queue.PushImage(PixelFrame(1)));
  EXPECT_TRUE(queue.PushImage(PixelFrame(2)));
  EXPECT_FALSE(queue.PushImage(PixelFrame(3)));
  EXPECT_FALSE(queue.PushImage(PixelFrame(4)));
  EXPECT_EQ(Drain(queue), (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(queue.PushImage(PixelFrame(6)));  // room again
}

TEST(ImageQueue, BadArguments) {
  try {
    ImageQueue queue(0, 0);
    ADD_FAILURE();
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "Queue capacity may not be zero.");
  }
  ImageQueue queue(1, 0);
  try {
    queue.PushImage(nullptr);
    ADD_FAILURE();
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "The image argument may not be nullptr.");
  }
}

TEST(ImageQueue, WaitsTimeOutWhenNothingArrives) {
  ImageQueue queue(2, 0);
  EXPECT_FALSE(queue.Wait(ImageQueue::kNotEmpty, 0.02));
  EXPECT_FALSE(queue.Wait(ImageQueue::kFull, 0.0));
  queue.PushImage(PixelFrame(1));
  EXPECT_TRUE(queue.Wait(ImageQueue::kNotEmpty, 0.0));
  EXPECT_FALSE(queue.Wait(ImageQueue::kFull, 0.01));
  EXPECT_FALSE(queue.Wait(7, -1.0));  // any non-zero value waits for full
}

TEST(ImageQueue, ConsumerWakesWhenAProducerThreadPushes) {
  ImageQueue queue(3, ImageQueue::kDiscardNew);
  std::thread producer([&] {
    for (int i = 1; i <= 3; ++i) queue.PushImage(PixelFrame(std::uint8_t(i)));
  });
  // Generous time-outs: the result, not the time, is checked.
  EXPECT_TRUE(queue.Wait(ImageQueue::kNotEmpty, 10.0));
  EXPECT_TRUE(queue.Wait(ImageQueue::kFull, 10.0));
  producer.join();
  EXPECT_EQ(Drain(queue), (std::vector<int>{1, 2, 3}));
}

TEST(ImageQueue, ConcurrentProducersAndAConsumerLoseNothing) {
  constexpr int kProducers = 4;
  constexpr int kEach = 250;
  ImageQueue queue(kProducers * kEach, ImageQueue::kDiscardNew);
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p)
    producers.emplace_back([&, p] {
      for (int i = 0; i < kEach; ++i) queue.PushImage(PixelFrame(std::uint8_t(p)));
    });
  std::vector<int> perProducer(kProducers, 0);
  int popped = 0;
  while (popped < kProducers * kEach) {
    ASSERT_TRUE(queue.Wait(ImageQueue::kNotEmpty, 10.0));
    while (ImagePtr image = queue.Pop()) {
      ++perProducer[FirstByte(image)];
      ++popped;
    }
  }
  for (auto& t : producers) t.join();
  EXPECT_EQ(perProducer, std::vector<int>(kProducers, kEach));
  EXPECT_EQ(queue.Count(), 0u);
}

TEST(ImageQueue, QueueOutlivesItsSourceWhileAConsumerHoldsIt) {
  auto queue = std::make_shared<ImageQueue>(1, 0);
  std::weak_ptr<ImageQueue> weak = queue;
  std::thread consumer([q = queue] { q->Wait(ImageQueue::kNotEmpty, 10.0); });
  queue->PushImage(PixelFrame(9));
  queue.reset();
  consumer.join();
  EXPECT_TRUE(weak.expired());
}

}  // namespace
}  // namespace vid
