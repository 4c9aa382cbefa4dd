#pragma once

// What every dispatch service promises, written once. Each implementation's tests instantiate
// it with a traits type that has `static std::unique_ptr<platform::Dispatch> make()` and
// `static void interrupt(pthread_t mainThread, int signalNumber)` (sent so that the service sees
// it):
//   INSTANTIATE_TYPED_TEST_SUITE_P(Posix, DispatchContract, ::testing::Types<Posix>);
// The tests run on the process's main thread, which libdispatch's main queue requires.

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <future>
#include <map>
#include <memory>
#include <numeric>
#include <thread>
#include <vector>

#include "platform/Dispatch.h"

namespace test_support {

using namespace std::chrono_literals;

// Bounds every wait, so that a fault shows as a failure rather than a hang.
inline constexpr std::chrono::seconds kHangLimit{5};

// A one-shot event that one thread sets and another waits for, at most kHangLimit.
struct Latch {
  std::promise<void> promise;
  std::shared_future<void> future = promise.get_future().share();

  void set() { promise.set_value(); }
  bool reached() const { return future.wait_for(kHangLimit) == std::future_status::ready; }
};

// Returns once everything posted to `queue` so far has run, or false after kHangLimit.
inline bool drainWithin(platform::Queue& queue) {
  auto reached = std::make_shared<Latch>();
  queue.post([reached] { reached->set(); });
  return reached->reached();
}

// Runs the main queue on the calling thread until work on it quits; false if nothing did within
// kHangLimit. The watchdog quits from its own thread rather than through post(), so that a loop
// which no longer wakes for posted work still returns; once the run is over it touches nothing.
inline bool runMainQueueUntilQuit(platform::Dispatch& dispatch) {
  struct Watch {
    std::atomic<bool> over{false};
    std::atomic<bool> timedOut{false};
  };
  auto watch = std::make_shared<Watch>();
  platform::MainQueue& mainQueue = dispatch.mainQueue();
  dispatch.runAfter(kHangLimit, [&mainQueue, watch] {
    if (watch->over) return;
    watch->timedOut = true;
    mainQueue.quit();
  });
  mainQueue.run();
  watch->over = true;
  return !watch->timedOut;
}

template <typename Traits>
class DispatchContract : public ::testing::Test {
 protected:
  // Written only by timer handlers on `queue`; declared first, so it outlives the queue's work.
  int firings = 0;
  std::unique_ptr<platform::Dispatch> dispatch = Traits::make();
  std::shared_ptr<platform::Queue> queue = dispatch->makeSerialQueue("com.tessaloquin.test");
  std::unique_ptr<platform::RepeatingTimer> timer = dispatch->makeRepeatingTimer(queue);
};

TYPED_TEST_SUITE_P(DispatchContract);

// Threads may change between items (libdispatch's do); order and exclusion may not.
TYPED_TEST_P(DispatchContract, SerialQueueRunsEachPostersWorkInOrderOneAtATimeNeverInsidePost) {
  constexpr int kPosters = 3;
  constexpr int kEach = 200;
  std::map<int, std::vector<int>> seen;  // written only by work on the queue
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  std::atomic<bool> ranInsidePost{false};
  auto nestedRan = std::make_shared<std::atomic<bool>>(false);
  this->queue->post([&, nestedRan] {
    this->queue->post([nestedRan] { *nestedRan = true; });
    ranInsidePost = nestedRan->load();
  });
  std::vector<std::thread> posters;
  for (int poster = 0; poster < kPosters; ++poster) {
    posters.emplace_back([&, poster] {
      for (int i = 0; i < kEach; ++i) {
        this->queue->post([&, poster, i] {
          if (running.fetch_add(1) != 0) overlapped = true;
          std::this_thread::sleep_for(20us);
          seen[poster].push_back(i);
          running.fetch_sub(1);
        });
      }
    });
  }
  for (auto& poster : posters) poster.join();
  ASSERT_TRUE(drainWithin(*this->queue));

  EXPECT_FALSE(ranInsidePost);
  EXPECT_FALSE(overlapped);
  for (int poster = 0; poster < kPosters; ++poster) {
    std::vector<int> expected(kEach);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(seen[poster], expected) << "poster " << poster;
  }
}

TYPED_TEST_P(DispatchContract, MainQueueRunsWorkFromAnyThreadOnTheRunningThreadUntilQuit) {
  platform::MainQueue& mainQueue = this->dispatch->mainQueue();
  std::vector<std::thread::id> runners;  // main queue only
  bool ranInsidePost = false;
  std::thread poster;
  // Later items come from work on the queue and from another thread while the loop runs.
  mainQueue.post([&] {
    runners.push_back(std::this_thread::get_id());
    mainQueue.post([&] { runners.push_back(std::this_thread::get_id()); });
    ranInsidePost = runners.size() > 1;
    poster = std::thread([&] {
      mainQueue.post([&] {
        runners.push_back(std::this_thread::get_id());
        mainQueue.quit();
      });
    });
  });
  const bool quit = runMainQueueUntilQuit(*this->dispatch);
  poster.join();
  EXPECT_TRUE(quit);
  EXPECT_FALSE(ranInsidePost);
  EXPECT_EQ(runners, (std::vector<std::thread::id>(3, std::this_thread::get_id())));
}

// On its queue: a firing never runs while other work on the queue does.
TYPED_TEST_P(DispatchContract, TimerFiresOnItsQueueFromTheFirstDelayEveryIntervalUntilCancelled) {
  constexpr auto kFirst = 40ms;
  constexpr auto kInterval = 10ms;
  constexpr int kWanted = 4;
  Latch enough;
  const auto scheduled = std::chrono::steady_clock::now();
  this->timer->setEventHandler([&] {
    const int firing = ++this->firings;
    EXPECT_GE(std::chrono::steady_clock::now() - scheduled, kFirst + (firing - 1) * kInterval);
    if (firing == kWanted) {
      this->timer->cancel();
      enough.set();
    }
  });
  this->timer->schedule(kFirst, kInterval);
  int firingsWhileBusy = -1;
  this->queue->post([&] {
    std::this_thread::sleep_for(kFirst + 3 * kInterval);
    firingsWhileBusy = this->firings;
  });
  this->timer->activate();

  ASSERT_TRUE(enough.reached());
  std::this_thread::sleep_for(30ms);  // time for stray firings to arrive
  ASSERT_TRUE(drainWithin(*this->queue));
  EXPECT_EQ(firingsWhileBusy, 0);
  EXPECT_EQ(this->firings, kWanted);
}

// A deadline long past is what a process stopped with SIGSTOP finds when it goes on: the missed
// firings collapse into one, and the rhythm starts again from it rather than catching up.
TYPED_TEST_P(DispatchContract, TimerCollapsesMissedFiringsIntoOneAndKeepsItsRhythmFromThere) {
  constexpr auto kInterval = 100ms;
  constexpr int kWanted = 3;
  Latch enough;
  std::vector<std::chrono::steady_clock::time_point> began;  // timer handler only
  this->timer->setEventHandler([&] {
    began.push_back(std::chrono::steady_clock::now());
    std::this_thread::sleep_for(5ms);  // a handler's own work must not let the backlog in
    if (began.size() == kWanted) {
      this->timer->cancel();
      enough.set();
    }
  });
  this->timer->schedule(-8 * kInterval - kInterval / 4, kInterval);
  this->timer->activate();
  ASSERT_TRUE(enough.reached());
  ASSERT_TRUE(drainWithin(*this->queue));
  for (std::size_t index = 1; index < began.size(); ++index) {
    EXPECT_GE(began[index] - began[index - 1], kInterval / 2) << "firing " << index;
  }
}

TYPED_TEST_P(DispatchContract, RunAfterWaitsTheDelayAndRunsOffTheCallingThread) {
  Latch ran;
  std::chrono::steady_clock::duration waited{};
  std::thread::id ranOn;
  const auto requested = std::chrono::steady_clock::now();
  this->dispatch->runAfter(80ms, [&] {
    waited = std::chrono::steady_clock::now() - requested;
    ranOn = std::this_thread::get_id();
    ran.set();
  });
  ASSERT_TRUE(ran.reached());
  EXPECT_GE(waited, 80ms);
  EXPECT_NE(ranOn, std::this_thread::get_id());
}

// Each signal of the source, SIGTERM and SIGHUP included, is reported rather than ending the
// process, on the main queue.
TYPED_TEST_P(DispatchContract, InterruptSourceReportsEachOfItsSignalsOnTheMainQueue) {
  for (const std::vector<int>& signalNumbers :
       {std::vector<int>{SIGINT}, std::vector<int>{SIGINT, SIGTERM, SIGHUP}}) {
    for (const int sent : signalNumbers) {
      std::signal(SIGINT, SIG_IGN);
      platform::MainQueue& mainQueue = this->dispatch->mainQueue();
      auto source = this->dispatch->makeInterruptSource(signalNumbers);
      std::atomic<bool> reported{false};
      std::thread::id handledOn;
      source->setEventHandler([&] {
        handledOn = std::this_thread::get_id();
        reported = true;
        mainQueue.quit();
      });
      source->activate();
      // A source may be armed asynchronously, so the sender repeats until the handler reports.
      const pthread_t mainThread = ::pthread_self();
      std::thread sender([&] {
        const auto deadline = std::chrono::steady_clock::now() + kHangLimit;
        while (!reported && std::chrono::steady_clock::now() < deadline) {
          TypeParam::interrupt(mainThread, sent);
          std::this_thread::sleep_for(20ms);
        }
      });
      const bool quit = runMainQueueUntilQuit(*this->dispatch);
      sender.join();
      EXPECT_TRUE(quit) << "signal " << sent;
      EXPECT_EQ(handledOn, std::this_thread::get_id()) << "signal " << sent;
      source.reset();
      // Leftover deliveries of the repeating sender must find the signal ignored, not default.
      std::signal(sent, SIG_IGN);
    }
  }
  std::signal(SIGTERM, SIG_DFL);
  std::signal(SIGHUP, SIG_DFL);
}

REGISTER_TYPED_TEST_SUITE_P(DispatchContract,
                            SerialQueueRunsEachPostersWorkInOrderOneAtATimeNeverInsidePost,
                            MainQueueRunsWorkFromAnyThreadOnTheRunningThreadUntilQuit,
                            TimerFiresOnItsQueueFromTheFirstDelayEveryIntervalUntilCancelled,
                            TimerCollapsesMissedFiringsIntoOneAndKeepsItsRhythmFromThere,
                            RunAfterWaitsTheDelayAndRunsOffTheCallingThread,
                            InterruptSourceReportsEachOfItsSignalsOnTheMainQueue);

}  // namespace test_support
