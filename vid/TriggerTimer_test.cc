#include "vid/TriggerTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>

namespace vid {
namespace {

class CountingTrigger : public SoftwareTrigger {
 public:
  bool SendSoftwareTrigger() override {
    {
      std::lock_guard lock(m_mutex);
      ++m_count;
    }
    m_changed.notify_all();
    return true;
  }
  bool WaitFor(int count) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_count >= count; });
  }
  int Count() {
    std::lock_guard lock(m_mutex);
    return m_count;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  int m_count = 0;
};

TEST(TriggerTimer, FiresPeriodicallyUntilStopped) {
  auto trigger = std::make_shared<CountingTrigger>();
  TriggerTimer timer(trigger, 0.002);
  EXPECT_FALSE(timer.IsRunning());
  timer.Start();
  timer.Start();  // no second thread
  EXPECT_TRUE(timer.IsRunning());
  ASSERT_TRUE(trigger->WaitFor(3));
  timer.Stop();
  EXPECT_FALSE(timer.IsRunning());
  const int count = trigger->Count();
  EXPECT_EQ(timer.GetTriggerCount(), std::uint64_t(count));
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(trigger->Count(), count);
  timer.Start();  // restartable
  ASSERT_TRUE(trigger->WaitFor(count + 1));
}

TEST(TriggerTimer, StopBeforeTheFirstTickSendsNothing) {
  auto trigger = std::make_shared<CountingTrigger>();
  {
    TriggerTimer timer(trigger, 100.0);
    timer.Start();
  }  // the destructor stops without waiting for the period
  EXPECT_EQ(trigger->Count(), 0);
}

TEST(TriggerTimer, BadArguments) {
  EXPECT_THROW(TriggerTimer(nullptr, 1.0), std::invalid_argument);
  auto trigger = std::make_shared<CountingTrigger>();
  EXPECT_THROW(TriggerTimer(trigger, 0.0), std::invalid_argument);
  EXPECT_THROW(TriggerTimer(trigger, -1.0), std::invalid_argument);
  EXPECT_THROW(TriggerTimer(trigger, std::nan("")), std::invalid_argument);
}

}  // namespace
}  // namespace vid
