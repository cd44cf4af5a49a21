#include "foundation/utils/ThreadPriority.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace {

// The lowered priority belongs to the worker and to the threads it starts
// (where OpenMP's team of a fusion comes from), never to the rest of the
// process: the user interface's thread keeps its own.
TEST(ThreadPriority, LowersTheWorkerAndItsChildrenOnly) {
  const int mainBefore = utils::GetThisThreadNice();
  int worker = 0, child = 0, expected = std::min(mainBefore + 10, 19);
  std::thread([&] {
    worker = utils::LowerThisThreadPriority(10);
    std::thread([&] { child = utils::GetThisThreadNice(); }).join();
  }).join();
  EXPECT_EQ(worker, expected);
  EXPECT_EQ(child, expected);
  EXPECT_EQ(utils::GetThisThreadNice(), mainBefore);
}

TEST(ThreadPriority, StopsAtTheLowestLevel) {
  int nice = 0;
  std::thread([&] {
    utils::LowerThisThreadPriority(15);
    nice = utils::LowerThisThreadPriority(15);
  }).join();
  EXPECT_EQ(nice, 19);
}

}  // namespace
