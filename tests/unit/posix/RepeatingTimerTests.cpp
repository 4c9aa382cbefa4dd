#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "DispatchTestSupport.h"
#include "platform/posix/PosixDispatch.h"

namespace platform::posix {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::drain;
using testing::isReady;
using testing::kHangLimit;

class RepeatingTimerTest : public ::testing::Test {
 protected:
  // Holds the timer's queue back until the returned promise is kept.
  std::promise<void> blockQueue() {
    std::promise<void> gate;
    queue->post([opened = gate.get_future().share()] { opened.wait_for(kHangLimit); });
    return gate;
  }

  // Written only by handlers on `queue`; declared first so that the queue's worker is joined
  // before it goes.
  int firings = 0;
  PosixDispatch dispatch;
  std::shared_ptr<Queue> queue = dispatch.makeSerialQueue("test.timer");
};

TEST_F(RepeatingTimerTest, FiresRepeatedlyOnItsQueueNoEarlierThanScheduled) {
  std::thread::id queueThread;
  queue->post([&] { queueThread = std::this_thread::get_id(); });
  constexpr auto kFirst = 40ms;
  constexpr auto kInterval = 10ms;
  constexpr int kWanted = 4;
  std::vector<Clock::time_point> times;
  std::vector<std::thread::id> threads;
  std::promise<void> enough;
  auto enoughFuture = enough.get_future();
  auto timer = dispatch.makeRepeatingTimer(queue);
  timer->setEventHandler([&] {
    times.push_back(Clock::now());
    threads.push_back(std::this_thread::get_id());
    if (++firings == kWanted) {
      timer->cancel();
      enough.set_value();
    }
  });
  const auto scheduled = Clock::now();
  timer->schedule(kFirst, kInterval);
  timer->activate();

  ASSERT_TRUE(isReady(enoughFuture));
  ASSERT_EQ(times.size(), static_cast<std::size_t>(kWanted));
  for (int i = 0; i < kWanted; ++i) {
    EXPECT_GE(times[i] - scheduled, kFirst + i * kInterval) << "firing " << i;
    EXPECT_EQ(threads[i], queueThread);
  }
}

TEST_F(RepeatingTimerTest, NothingFiresBeforeActivation) {
  std::promise<void> fired;
  auto firedFuture = fired.get_future();
  auto timer = dispatch.makeRepeatingTimer(queue);
  timer->setEventHandler([&] {
    if (++firings == 1) fired.set_value();
  });
  timer->schedule(0ms, 1ms);
  std::this_thread::sleep_for(30ms);
  ASSERT_TRUE(drain(*queue));
  EXPECT_EQ(firings, 0);

  timer->activate();
  EXPECT_TRUE(isReady(firedFuture));
}

TEST_F(RepeatingTimerTest, CancelledTimerStopsFiring) {
  constexpr int kBeforeCancel = 3;
  auto timer = dispatch.makeRepeatingTimer(queue);
  std::promise<void> cancelled;
  auto cancelledFuture = cancelled.get_future();
  timer->setEventHandler([&] {
    if (++firings == kBeforeCancel) {
      timer->cancel();
      cancelled.set_value();
    }
  });
  timer->schedule(0ms, 1ms);
  timer->activate();
  ASSERT_TRUE(isReady(cancelledFuture));

  std::this_thread::sleep_for(30ms);
  ASSERT_TRUE(drain(*queue));
  EXPECT_EQ(firings, kBeforeCancel);
}

TEST_F(RepeatingTimerTest, CancelSkipsAFiringAlreadyOnTheQueue) {
  auto gate = blockQueue();
  auto timer = dispatch.makeRepeatingTimer(queue);
  timer->setEventHandler([&] { ++firings; });
  timer->schedule(0ms, 1ms);
  timer->activate();
  std::this_thread::sleep_for(30ms);

  timer->cancel();
  gate.set_value();

  ASSERT_TRUE(drain(*queue));
  EXPECT_EQ(firings, 0);
}

TEST_F(RepeatingTimerTest, FiringsWaitingOnABusyQueueMergeIntoOne) {
  auto gate = blockQueue();
  auto timer = dispatch.makeRepeatingTimer(queue);
  timer->setEventHandler([&] { ++firings; });
  timer->schedule(0ms, 1ms);
  timer->activate();
  // About a hundred deadlines pass while the queue is held.
  std::this_thread::sleep_for(100ms);
  int firingsBeforeLaterWork = -1;
  queue->post([&] { firingsBeforeLaterWork = firings; });
  gate.set_value();

  ASSERT_TRUE(drain(*queue));
  EXPECT_EQ(firingsBeforeLaterWork, 1);
}

TEST_F(RepeatingTimerTest, DestroyedTimerStopsFiring) {
  std::promise<void> fired;
  auto firedFuture = fired.get_future();
  auto timer = dispatch.makeRepeatingTimer(queue);
  timer->setEventHandler([&] {
    if (++firings == 1) fired.set_value();
  });
  timer->schedule(0ms, 1ms);
  timer->activate();
  ASSERT_TRUE(isReady(firedFuture));

  timer.reset();
  int firingsAtDestruction = -1;
  queue->post([&] { firingsAtDestruction = firings; });
  std::this_thread::sleep_for(30ms);
  ASSERT_TRUE(drain(*queue));
  EXPECT_EQ(firings, firingsAtDestruction);
}

TEST_F(RepeatingTimerTest, TimerDestroyedByItsOwnHandlerDoesNotDeadlock) {
  std::promise<void> destroyed;
  auto destroyedFuture = destroyed.get_future();
  auto timer = dispatch.makeRepeatingTimer(queue);
  auto& owner = timer;
  timer->setEventHandler([&owner, &destroyed, this] {
    ++firings;
    owner.reset();
    destroyed.set_value();
  });
  timer->schedule(0ms, 1ms);
  timer->activate();

  ASSERT_TRUE(isReady(destroyedFuture));
  std::this_thread::sleep_for(30ms);
  ASSERT_TRUE(drain(*queue));
  EXPECT_EQ(firings, 1);
}

TEST_F(RepeatingTimerTest, TimerOutlivingItsDispatchAndQueueOwnerKeepsFiring) {
  std::promise<void> fired;
  auto firedFuture = fired.get_future();
  std::unique_ptr<RepeatingTimer> timer;
  {
    PosixDispatch shortLived;
    timer = shortLived.makeRepeatingTimer(shortLived.makeSerialQueue("test.orphan"));
  }
  std::atomic<int> orphanFirings{0};
  timer->setEventHandler([&] {
    if (++orphanFirings == 2) fired.set_value();
  });
  timer->schedule(0ms, 1ms);
  timer->activate();

  EXPECT_TRUE(isReady(firedFuture));
  timer.reset();
}

}  // namespace
}  // namespace platform::posix
