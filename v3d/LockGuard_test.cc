#include "v3d/LockGuard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <latch>
#include <system_error>
#include <thread>
#include <vector>

namespace v3d {
namespace {

using namespace std::chrono_literals;

TEST(RecursiveLock, OwnerLocksAgainUpToTheMaximum) {
  RecursiveLock lock(3);
  lock.Lock();
  lock.Lock();
  EXPECT_TRUE(lock.TryLockFor(0ms));
  EXPECT_EQ(lock.GetCountOfThisThread(), 3u);
  EXPECT_THROW(lock.Lock(), std::system_error);
  EXPECT_EQ(lock.GetCountOfThisThread(), 3u);
  for (int i = 0; i < 3; ++i) lock.Unlock();
  EXPECT_EQ(lock.GetCountOfThisThread(), 0u);
  EXPECT_THROW(lock.Unlock(), std::system_error);
}

TEST(RecursiveLock, OtherThreadsWaitUntilTheCountReturnsToZero) {
  RecursiveLock lock;
  lock.Lock();
  lock.Lock();
  std::atomic<bool> acquired{false};
  std::latch started(1);
  std::thread worker([&] {
    EXPECT_THROW(lock.Unlock(), std::system_error);  // not the owner
    EXPECT_FALSE(lock.TryLockFor(5ms));
    started.count_down();
    lock.Lock();
    acquired = true;
    lock.Unlock();
  });
  started.wait();
  lock.Unlock();
  EXPECT_FALSE(acquired);  // one level is still held
  lock.Unlock();
  worker.join();
  EXPECT_TRUE(acquired);
  EXPECT_TRUE(lock.TryLockFor(0ms));
  lock.Unlock();
}

TEST(LockGuard, SerialisesNestedSectionsOfManyThreads) {
  constexpr int kThreads = 4, kRounds = 2000;
  long counter = 0;  // guarded by the viewer lock only
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        LockGuard outer;
        const long seen = counter;
        {
          LockGuard inner;  // scene code calling scene code
          counter = seen + 1;
        }
        EXPECT_EQ(counter, seen + 1);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter, kThreads * kRounds);
  EXPECT_EQ(GetViewerLock().GetCountOfThisThread(), 0u);
}

TEST(LockGuard, TimedGuardGivesUpWhileAnotherThreadHoldsTheLock) {
  std::promise<void> held, done;
  std::thread holder([&] {
    LockGuard guard;
    held.set_value();
    done.get_future().wait();
  });
  held.get_future().wait();
  {
    LockGuard timed(20ms);
    EXPECT_FALSE(timed.OwnsLock());
  }  // releases nothing
  done.set_value();
  holder.join();
  LockGuard timed(20ms);
  EXPECT_TRUE(timed.OwnsLock());
}

}  // namespace
}  // namespace v3d
