#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/macos/Libdispatch.h"
#include "platform/macos/MacErrors.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class Counter {
 public:
  void bump() {
    std::lock_guard guard(lock_);
    ++count_;
    changed_.notify_all();
  }
  int value() {
    std::lock_guard guard(lock_);
    return count_;
  }
  bool waitFor(int atLeast, std::chrono::milliseconds limit) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, limit, [&] { return count_ >= atLeast; });
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  int count_ = 0;
};

// Returns once everything posted to `queue` before it has run.
void drain(platform::Queue& queue) {
  Counter done;
  queue.post([&] { done.bump(); });
  ASSERT_TRUE(done.waitFor(1, 5s));
}

TEST(Libdispatch, SerialQueueRunsWorkOneAtATimeInOrderAndNeverInsidePost) {
  auto dispatch = platform::macos::makeLibdispatch();
  auto queue = dispatch->makeSerialQueue("com.tessaloquin.test");
  std::vector<int> order;
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  std::atomic<bool> ranInsidePost{false};
  Counter done;
  for (int i = 0; i < 200; ++i) {
    queue->post([&, i] {
      if (running.fetch_add(1) != 0) overlapped = true;
      std::this_thread::sleep_for(50us);
      order.push_back(i);
      running.fetch_sub(1);
      done.bump();
    });
  }
  std::atomic<bool> nestedRan{false};
  Counter nestedDone;
  queue->post([&] {
    queue->post([&] {
      nestedRan = true;
      nestedDone.bump();
    });
    ranInsidePost = nestedRan.load();
  });

  ASSERT_TRUE(nestedDone.waitFor(1, 5s));
  ASSERT_TRUE(done.waitFor(200, 5s));
  EXPECT_FALSE(overlapped);
  EXPECT_FALSE(ranInsidePost);
  ASSERT_EQ(order.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(order[i], i);
}

TEST(Libdispatch, TimerFiresOnItsQueueFromTheFirstDelayUntilCancelled) {
  auto dispatch = platform::macos::makeLibdispatch();
  auto queue = dispatch->makeSerialQueue("com.tessaloquin.test");
  static int key;
  dispatch_queue_set_specific(platform::macos::nativeQueue(queue), &key, &key, nullptr);

  Counter firings;
  std::atomic<bool> offQueue{false};
  Clock::time_point firstFiring;
  auto timer = dispatch->makeRepeatingTimer(queue);
  const Clock::time_point scheduled = Clock::now();
  timer->schedule(100ms, 10ms);
  timer->setEventHandler([&] {
    if (dispatch_get_specific(&key) != &key) offQueue = true;
    if (firings.value() == 0) firstFiring = Clock::now();
    firings.bump();
  });
  timer->activate();
  ASSERT_TRUE(firings.waitFor(3, 5s));
  timer->cancel();
  drain(*queue);

  EXPECT_FALSE(offQueue);
  EXPECT_GE(firstFiring - scheduled, 100ms);
  const int afterCancel = firings.value();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(firings.value(), afterCancel);
}

TEST(Libdispatch, DestroyingATimerStopsItWhetherOrNotItWasActivated) {
  auto dispatch = platform::macos::makeLibdispatch();
  auto queue = dispatch->makeSerialQueue("com.tessaloquin.test");
  Counter neverActivated;
  Counter activated;
  {
    auto inactive = dispatch->makeRepeatingTimer(queue);
    inactive->schedule(0ms, 5ms);
    inactive->setEventHandler([&] { neverActivated.bump(); });

    auto active = dispatch->makeRepeatingTimer(queue);
    active->schedule(0ms, 5ms);
    active->setEventHandler([&] { activated.bump(); });
    active->activate();
    ASSERT_TRUE(activated.waitFor(1, 5s));
  }
  drain(*queue);
  const int afterDestruction = activated.value();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(neverActivated.value(), 0);
  EXPECT_EQ(activated.value(), afterDestruction);
}

struct ForeignQueue : platform::Queue {
  void post(platform::Work) override {}
};

TEST(Libdispatch, RefusesAQueueItDidNotMake) {
  auto dispatch = platform::macos::makeLibdispatch();
  try {
    dispatch->makeRepeatingTimer(std::make_shared<ForeignQueue>());
    FAIL() << "a foreign queue was accepted";
  } catch (const platform::PlatformError& error) {
    EXPECT_EQ(error.domain(), platform::macos::kToolErrorDomain);
    EXPECT_EQ(error.code(), 4);
  }
}

TEST(Libdispatch, RunAfterWaitsTheDelayAndRunsOffTheCallingThread) {
  auto dispatch = platform::macos::makeLibdispatch();
  Counter ran;
  std::atomic<bool> onCaller{false};
  Clock::time_point ranAt;
  const auto caller = std::this_thread::get_id();
  const Clock::time_point requested = Clock::now();
  dispatch->runAfter(150ms, [&] {
    ranAt = Clock::now();
    onCaller = std::this_thread::get_id() == caller;
    ran.bump();
  });
  ASSERT_TRUE(ran.waitFor(1, 5s));
  EXPECT_GE(ranAt - requested, 150ms);
  EXPECT_FALSE(onCaller);
}

TEST(Libdispatch, MainQueueRunsWorkOnTheMainThreadUntilQuit) {
  ASSERT_NE(pthread_main_np(), 0) << "gtest must run tests on the main thread";
  auto dispatch = platform::macos::makeLibdispatch();
  platform::MainQueue& mainQueue = dispatch->mainQueue();
  std::vector<int> order;
  bool allOnMain = true;
  mainQueue.post([&] {
    allOnMain = allOnMain && pthread_main_np() != 0;
    order.push_back(1);
  });
  std::thread([&] {
    mainQueue.post([&] {
      allOnMain = allOnMain && pthread_main_np() != 0;
      order.push_back(2);
      mainQueue.quit();
    });
  }).join();
  mainQueue.run();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_TRUE(allOnMain);
}

TEST(Libdispatch, InterruptSourceTurnsIgnoredSigintIntoMainQueueEvents) {
  signal(SIGINT, SIG_IGN);
  auto dispatch = platform::macos::makeLibdispatch();
  platform::MainQueue& mainQueue = dispatch->mainQueue();
  auto source = dispatch->makeInterruptSource();
  int handled = 0;
  bool onMain = true;
  std::atomic<bool> reported{false};
  source->setEventHandler([&] {
    reported = true;
    ++handled;
    onMain = onMain && pthread_main_np() != 0;
    mainQueue.quit();
  });
  source->activate();

  // libdispatch arms the source asynchronously, so keep signalling until it reports.
  std::thread sender([&] {
    const auto deadline = Clock::now() + 5s;
    while (!reported && Clock::now() < deadline) {
      kill(getpid(), SIGINT);
      std::this_thread::sleep_for(20ms);
    }
    if (!reported) mainQueue.post([&] { mainQueue.quit(); });
  });
  mainQueue.run();
  sender.join();

  EXPECT_GE(handled, 1);
  EXPECT_TRUE(onMain);
}

}  // namespace
