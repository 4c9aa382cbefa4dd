#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/PosixDispatch.h"

namespace platform::posix {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Bounds every wait, so that a fault shows as a failure rather than a hang.
constexpr std::chrono::seconds kHangLimit{5};

// A one-shot event that one thread sets and another waits for, at most kHangLimit.
struct Latch {
  std::promise<void> promise;
  std::shared_future<void> future = promise.get_future().share();

  void set() { promise.set_value(); }
  bool reached() const { return future.wait_for(kHangLimit) == std::future_status::ready; }
};

// Runs the main queue on the calling thread until work on it quits; false if nothing did within
// kHangLimit. The watchdog quits from its own thread rather than through post(), so that a loop
// which no longer wakes for posted work still returns.
bool runMainQueueUntilQuit(Dispatch& dispatch) {
  auto timedOut = std::make_shared<std::atomic<bool>>(false);
  MainQueue& mainQueue = dispatch.mainQueue();
  dispatch.runAfter(kHangLimit, [&mainQueue, timedOut] {
    *timedOut = true;
    mainQueue.quit();
  });
  mainQueue.run();
  return !*timedOut;
}

// Runs the main queue for a few turns: quits after a round trip through the delayed-work thread.
bool runMainQueueBriefly(Dispatch& dispatch) {
  MainQueue& mainQueue = dispatch.mainQueue();
  dispatch.runAfter(std::chrono::milliseconds(20),
                    [&mainQueue] { mainQueue.post([&mainQueue] { mainQueue.quit(); }); });
  return runMainQueueUntilQuit(dispatch);
}

// Returns once everything posted to `queue` so far has run, or false after kHangLimit.
bool drain(Queue& queue) {
  auto reached = std::make_shared<Latch>();
  queue.post([reached] { reached->set(); });
  return reached->reached();
}

// Numbered work from several posters, recording the order each poster's items ran in and where.
struct OrderLog {
  static constexpr int kItemsEach = 200;
  std::map<int, std::vector<int>> seen;
  std::vector<std::thread::id> runners;

  void post(Queue& queue, int poster, const std::function<void()>& then = nullptr) {
    for (int i = 0; i < kItemsEach; ++i) {
      queue.post([this, poster, i, then] {
        seen[poster].push_back(i);
        runners.push_back(std::this_thread::get_id());
        if (then) then();
      });
    }
  }

  // Each poster's items all ran, in order, on one thread.
  void expectInOrderOnOneThread(int posters) const {
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(posters));
    for (const auto& [poster, items] : seen) {
      ASSERT_EQ(items.size(), static_cast<std::size_t>(kItemsEach)) << "poster " << poster;
      for (int i = 0; i < kItemsEach; ++i) EXPECT_EQ(items[i], i) << "poster " << poster;
    }
    for (const auto& runner : runners) EXPECT_EQ(runner, runners.front());
  }
};

TEST(PollMainQueue, RunsEachPostersWorkInOrderOnTheRunningThreadWakingForOtherThreads) {
  PosixDispatch dispatch;
  MainQueue& mainQueue = dispatch.mainQueue();
  constexpr int kPosters = 4;
  OrderLog log;
  int total = 0;
  const auto quitAtTheEnd = [&] {
    if (++total == (kPosters + 1) * OrderLog::kItemsEach) mainQueue.quit();
  };
  // The other posters start once the loop is running, so their first items find it asleep or
  // busy; this thread posts before run().
  std::vector<std::thread> posters;
  mainQueue.post([&] {
    for (int poster = 0; poster < kPosters; ++poster) {
      posters.emplace_back([&, poster] { log.post(mainQueue, poster, quitAtTheEnd); });
    }
  });
  log.post(mainQueue, kPosters, quitAtTheEnd);

  const bool quit = runMainQueueUntilQuit(dispatch);
  for (auto& poster : posters) poster.join();
  ASSERT_TRUE(quit);
  log.expectInOrderOnOneThread(kPosters + 1);
  EXPECT_EQ(log.runners.front(), std::this_thread::get_id());
}

TEST(PollMainQueue, WorkPostedFromWorkWaitsForThePosterAndWorkLeftByQuitWaitsForTheNextRun) {
  PosixDispatch dispatch;
  MainQueue& mainQueue = dispatch.mainQueue();
  bool posterReturned = false;
  bool innerSawPosterReturned = false;
  int leftovers = 0;
  // One leftover is queued behind the quitting item, the other is posted by it.
  mainQueue.post([&] {
    mainQueue.post([&] {
      innerSawPosterReturned = posterReturned;
      mainQueue.post([&] { ++leftovers; });
      mainQueue.quit();
    });
    mainQueue.post([&] { ++leftovers; });
    posterReturned = true;
  });

  ASSERT_TRUE(runMainQueueUntilQuit(dispatch));
  EXPECT_TRUE(innerSawPosterReturned);
  EXPECT_EQ(leftovers, 0);
  ASSERT_TRUE(runMainQueueBriefly(dispatch));
  EXPECT_EQ(leftovers, 2);
}

TEST(PollMainQueue, WorkNeverRunIsReleasedWithTheDispatch) {
  auto captured = std::make_shared<int>(0);
  std::weak_ptr<int> watch = captured;
  bool ran = false;
  {
    PosixDispatch dispatch;
    dispatch.mainQueue().post([captured, &ran] { ran = true; });
    dispatch.runAfter(1h, [captured = std::move(captured), &ran] { ran = true; });
  }
  EXPECT_FALSE(ran);
  EXPECT_TRUE(watch.expired());
}

TEST(SerialQueue, WorkFromEachPosterRunsInOrderOnOneThreadOfItsOwn) {
  PosixDispatch dispatch;
  auto queue = dispatch.makeSerialQueue("test.order");
  constexpr int kPosters = 3;
  OrderLog log;  // Written only by work on the queue; read after drain().
  std::vector<std::thread::id> posterIds(kPosters);
  std::vector<std::thread> posters;
  for (int poster = 0; poster < kPosters; ++poster) {
    posters.emplace_back([&, poster] {
      posterIds[poster] = std::this_thread::get_id();
      log.post(*queue, poster);
    });
  }
  for (auto& poster : posters) poster.join();
  ASSERT_TRUE(drain(*queue));

  log.expectInOrderOnOneThread(kPosters);
  for (const auto& poster : posterIds) EXPECT_NE(log.runners.front(), poster);
}

TEST(SerialQueue, SeparateQueuesRunSideBySideAndReleasingOneWaitsForItsRunningWork) {
  PosixDispatch dispatch;
  auto waiting = dispatch.makeSerialQueue("test.waiting");
  auto answering = dispatch.makeSerialQueue("test.answering");
  Latch started;
  Latch answer;
  std::atomic<bool> answered{false};
  std::atomic<bool> finished{false};
  waiting->post([&] {
    started.set();
    answered = answer.reached();
    std::this_thread::sleep_for(50ms);
    finished = true;
  });
  answering->post([&] { answer.set(); });
  ASSERT_TRUE(started.reached());

  waiting.reset();
  EXPECT_TRUE(finished);
  EXPECT_TRUE(answered);
}

TEST(SerialQueue, QueueReleasedFromItsOwnWorkDoesNotDeadlockAndDropsTheRest) {
  PosixDispatch dispatch;
  auto queue = dispatch.makeSerialQueue("test.self");
  Latch bothPosted;
  Latch released;
  Latch droppedWorkGone;
  std::atomic<bool> droppedWorkRan{false};
  // Reports the destruction of the item behind the releasing one.
  std::shared_ptr<void> sentinel(nullptr, [&droppedWorkGone](void*) { droppedWorkGone.set(); });
  queue->post([&] {
    if (!bothPosted.reached()) return;
    queue.reset();
    released.set();
  });
  queue->post([sentinel = std::move(sentinel), &droppedWorkRan] { droppedWorkRan = true; });
  bothPosted.set();

  ASSERT_TRUE(released.reached());
  ASSERT_TRUE(droppedWorkGone.reached());
  EXPECT_FALSE(droppedWorkRan);
}

TEST(SerialQueue, QueueKeptOnlyByItsPendingWorkEndsAfterRunningIt) {
  PosixDispatch dispatch;
  auto queue = dispatch.makeSerialQueue("test.captured");
  std::weak_ptr<Queue> watch = queue;
  Latch ran;
  queue->post([keep = queue, &ran] { ran.set(); });
  queue.reset();

  ASSERT_TRUE(ran.reached());
  // The last reference goes when the worker destroys the item, just after it ran.
  for (int waited = 0; !watch.expired() && waited < 5000; ++waited)
    std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(watch.expired());
}

TEST(DelayedWork, RunsNoEarlierThanAskedInDeadlineOrderOffTheCallersThread) {
  PosixDispatch dispatch;
  const auto caller = std::this_thread::get_id();
  std::string order;
  Latch innerRan;
  const auto requested = Clock::now();
  dispatch.runAfter(80ms, [&] {
    EXPECT_GE(Clock::now() - requested, 80ms);
    EXPECT_NE(std::this_thread::get_id(), caller);
    order += 'c';
    dispatch.runAfter(1ms, [&] { innerRan.set(); });
  });
  dispatch.runAfter(40ms, [&] { order += 'b'; });
  dispatch.runAfter(0ms, [&] { order += 'a'; });

  ASSERT_TRUE(innerRan.reached());
  EXPECT_EQ(order, "abc");
}

TEST(DelayedWork, DispatchReleasedFromDelayedWorkDoesNotDeadlock) {
  auto dispatch = std::make_unique<PosixDispatch>();
  Latch requested;
  Latch released;
  dispatch->runAfter(0ms, [&] {
    requested.future.wait();
    dispatch.reset();
    released.set();
  });
  requested.set();

  EXPECT_TRUE(released.reached());
}

class RepeatingTimerTest : public ::testing::Test {
 protected:
  // Counts each firing, then runs `then`.
  void onFiring(std::function<void()> then = [] {}) {
    timer->setEventHandler([this, then] {
      ++firings;
      then();
    });
  }

  // Holds the queue back until the returned latch is set; the hold first records `firings`.
  std::shared_ptr<Latch> holdQueue(int& firingsWhenHeld) {
    auto gate = std::make_shared<Latch>();
    queue->post([this, gate, &firingsWhenHeld] {
      firingsWhenHeld = firings;
      gate->reached();
    });
    return gate;
  }

  // Leaves time for stray firings to arrive, then waits until they have run.
  bool settle() {
    std::this_thread::sleep_for(30ms);
    return drain(*queue);
  }

  // Written only by handlers on `queue`; declared first so that the queue's worker is joined
  // before it goes.
  int firings = 0;
  PosixDispatch dispatch;
  std::shared_ptr<Queue> queue = dispatch.makeSerialQueue("test.timer");
  std::unique_ptr<RepeatingTimer> timer = dispatch.makeRepeatingTimer(queue);
};

TEST_F(RepeatingTimerTest, FiresRepeatedlyOnItsQueueNoEarlierThanScheduledUntilCancelled) {
  std::thread::id queueThread;
  queue->post([&] { queueThread = std::this_thread::get_id(); });
  constexpr auto kFirst = 40ms;
  constexpr auto kInterval = 10ms;
  constexpr int kWanted = 4;
  Latch enough;
  const auto scheduled = Clock::now();
  onFiring([&] {
    EXPECT_GE(Clock::now() - scheduled, kFirst + (firings - 1) * kInterval) << "firing " << firings;
    EXPECT_EQ(std::this_thread::get_id(), queueThread);
    if (firings == kWanted) {
      timer->cancel();
      enough.set();
    }
  });
  timer->schedule(kFirst, kInterval);
  timer->activate();

  ASSERT_TRUE(enough.reached());
  ASSERT_TRUE(settle());
  EXPECT_EQ(firings, kWanted);
}

TEST_F(RepeatingTimerTest, FiresNeitherBeforeActivationNorAfterItsHandlerDestroysIt) {
  Latch destroyed;
  onFiring([&] {
    timer.reset();
    destroyed.set();
  });
  timer->schedule(0ms, 1ms);
  ASSERT_TRUE(settle());
  EXPECT_EQ(firings, 0);

  timer->activate();
  ASSERT_TRUE(destroyed.reached());
  ASSERT_TRUE(settle());
  EXPECT_EQ(firings, 1);
}

TEST_F(RepeatingTimerTest, FiringsWaitingOnABusyQueueMergeIntoOneThatCancelSkips) {
  onFiring();
  int firingsWhenHeld = -1;
  auto gate = holdQueue(firingsWhenHeld);
  timer->schedule(0ms, 1ms);
  timer->activate();
  // About a hundred deadlines pass while the queue is held.
  std::this_thread::sleep_for(100ms);
  int firingsBeforeLaterWork = -1;
  queue->post([&] { firingsBeforeLaterWork = firings; });
  gate->set();
  ASSERT_TRUE(drain(*queue));
  EXPECT_EQ(firingsBeforeLaterWork, 1);

  // Held again until a firing waits, which cancelling must then skip.
  gate = holdQueue(firingsWhenHeld);
  std::this_thread::sleep_for(30ms);
  timer->cancel();
  gate->set();
  ASSERT_TRUE(settle());
  EXPECT_EQ(firings, firingsWhenHeld);
}

TEST(RepeatingTimer, TimerOutlivingItsDispatchAndQueueOwnerKeepsFiring) {
  std::unique_ptr<RepeatingTimer> timer;
  {
    PosixDispatch shortLived;
    timer = shortLived.makeRepeatingTimer(shortLived.makeSerialQueue("test.orphan"));
  }
  Latch fired;
  std::atomic<int> firings{0};
  timer->setEventHandler([&] {
    if (++firings == 2) fired.set();
  });
  timer->schedule(0ms, 1ms);
  timer->activate();

  EXPECT_TRUE(fired.reached());
  timer.reset();
}

bool sigintIsIgnored() {
  struct sigaction current {};
  sigaction(SIGINT, nullptr, &current);
  return current.sa_handler == SIG_IGN;
}

class InterruptSourceTest : public ::testing::Test {
 protected:
  // Callers ignore SIGINT before making a source.
  void SetUp() override {
    signal(SIGINT, SIG_IGN);
    source = dispatch.makeInterruptSource();
  }

  PosixDispatch dispatch;
  std::unique_ptr<SignalSource> source;
  // Written only by handlers on the main queue, run by the test's thread.
  int events = 0;
};

TEST_F(InterruptSourceTest, EachSigintAfterTheHandlerRanIsReportedOnTheMainQueue) {
  std::thread::id handlerThread;
  // The first SIGINT comes from the delayed-work thread, the second from the handler itself.
  source->setEventHandler([&] {
    handlerThread = std::this_thread::get_id();
    if (++events == 1) {
      raise(SIGINT);
    } else {
      dispatch.mainQueue().quit();
    }
  });
  source->activate();
  dispatch.runAfter(0ms, [] { kill(getpid(), SIGINT); });

  ASSERT_TRUE(runMainQueueUntilQuit(dispatch));
  EXPECT_EQ(events, 2);
  EXPECT_EQ(handlerThread, std::this_thread::get_id());
}

TEST_F(InterruptSourceTest, SigintBeforeActivationIsLostAndSeveralBeforeTheHandlerRunAreOne) {
  source->setEventHandler([&] { ++events; });
  raise(SIGINT);
  source->activate();
  ASSERT_TRUE(runMainQueueBriefly(dispatch));
  EXPECT_EQ(events, 0);

  for (int i = 0; i < 3; ++i) raise(SIGINT);
  ASSERT_TRUE(runMainQueueBriefly(dispatch));
  EXPECT_EQ(events, 1);
}

TEST_F(InterruptSourceTest, OneSourceIsActiveAtATimeAndEachLeavesSigintIgnored) {
  source->setEventHandler([&] { ++events; });
  source->activate();
  EXPECT_FALSE(sigintIsIgnored());
  auto next = std::make_unique<PosixDispatch>();
  auto second = next->makeInterruptSource();
  bool secondHeardIt = false;
  second->setEventHandler([&] {
    secondHeardIt = true;
    next->mainQueue().quit();
  });
  EXPECT_THROW(second->activate(), std::logic_error);

  source.reset();
  EXPECT_TRUE(sigintIsIgnored());
  raise(SIGINT);
  ASSERT_NO_THROW(second->activate());
  raise(SIGINT);
  ASSERT_TRUE(runMainQueueUntilQuit(*next));
  EXPECT_TRUE(secondHeardIt);
  ASSERT_TRUE(runMainQueueBriefly(dispatch));
  EXPECT_EQ(events, 0);

  // The second source outlives its dispatch.
  next.reset();
  raise(SIGINT);
  second.reset();
  EXPECT_TRUE(sigintIsIgnored());
}

}  // namespace
}  // namespace platform::posix
