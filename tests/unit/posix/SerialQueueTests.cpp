#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "DispatchTestSupport.h"
#include "platform/posix/PosixDispatch.h"

namespace platform::posix {
namespace {

using namespace std::chrono_literals;
using testing::drain;
using testing::isReady;
using testing::kHangLimit;

TEST(SerialQueue, WorkFromEachPosterRunsInOrderOnOneThreadOfItsOwn) {
  PosixDispatch dispatch;
  auto queue = dispatch.makeSerialQueue("test.order");
  constexpr int kPosters = 3;
  constexpr int kItemsEach = 200;
  // Written only by work on the queue; read after drain().
  std::map<int, std::vector<int>> seen;
  std::vector<std::thread::id> runners;
  std::vector<std::thread::id> posterIds(kPosters);
  std::vector<std::thread> posters;
  for (int poster = 0; poster < kPosters; ++poster) {
    posters.emplace_back([&, poster] {
      posterIds[poster] = std::this_thread::get_id();
      for (int i = 0; i < kItemsEach; ++i) {
        queue->post([&, poster, i] {
          seen[poster].push_back(i);
          runners.push_back(std::this_thread::get_id());
        });
      }
    });
  }
  for (auto& poster : posters) poster.join();
  ASSERT_TRUE(drain(*queue));

  for (int poster = 0; poster < kPosters; ++poster) {
    ASSERT_EQ(seen[poster].size(), static_cast<std::size_t>(kItemsEach));
    for (int i = 0; i < kItemsEach; ++i) EXPECT_EQ(seen[poster][i], i);
  }
  ASSERT_FALSE(runners.empty());
  for (const auto& runner : runners) {
    EXPECT_EQ(runner, runners.front());
    for (const auto& poster : posterIds) EXPECT_NE(runner, poster);
  }
}

TEST(SerialQueue, SeparateQueuesRunSideBySide) {
  PosixDispatch dispatch;
  auto waiting = dispatch.makeSerialQueue("test.waiting");
  auto answering = dispatch.makeSerialQueue("test.answering");
  std::promise<void> answer;
  std::promise<void> waited;
  auto waitedFuture = waited.get_future();
  waiting->post([&] {
    if (answer.get_future().wait_for(kHangLimit) == std::future_status::ready) waited.set_value();
  });
  answering->post([&] { answer.set_value(); });

  EXPECT_TRUE(isReady(waitedFuture));
}

TEST(SerialQueue, ReleasingFromAnotherThreadWaitsForTheRunningWork) {
  PosixDispatch dispatch;
  auto queue = dispatch.makeSerialQueue("test.join");
  std::promise<void> started;
  auto startedFuture = started.get_future();
  std::atomic<bool> finished{false};
  queue->post([&] {
    started.set_value();
    std::this_thread::sleep_for(50ms);
    finished = true;
  });
  ASSERT_TRUE(isReady(startedFuture));

  queue.reset();

  EXPECT_TRUE(finished);
}

TEST(SerialQueue, QueueReleasedFromItsOwnWorkDoesNotDeadlockAndDropsTheRest) {
  PosixDispatch dispatch;
  auto queue = dispatch.makeSerialQueue("test.self");
  std::promise<void> released;
  auto releasedFuture = released.get_future();
  std::promise<void> droppedWorkGone;
  auto droppedWorkGoneFuture = droppedWorkGone.get_future();
  std::atomic<bool> droppedWorkRan{false};
  // Lets the item behind the releasing one report its destruction.
  class Sentinel {
   public:
    explicit Sentinel(std::promise<void>& gone) : gone_(gone) {}
    Sentinel(const Sentinel&) = delete;
    Sentinel& operator=(const Sentinel&) = delete;
    ~Sentinel() { gone_.set_value(); }

   private:
    std::promise<void>& gone_;
  };
  auto sentinel = std::make_shared<Sentinel>(droppedWorkGone);

  std::promise<void> bothPosted;
  auto& owner = queue;
  queue->post([&owner, &released, bothPostedFuture = bothPosted.get_future().share()] {
    if (bothPostedFuture.wait_for(kHangLimit) != std::future_status::ready) return;
    owner.reset();
    released.set_value();
  });
  queue->post([sentinel = std::move(sentinel), &droppedWorkRan] { droppedWorkRan = true; });
  bothPosted.set_value();

  ASSERT_TRUE(isReady(releasedFuture));
  ASSERT_TRUE(isReady(droppedWorkGoneFuture));
  EXPECT_FALSE(droppedWorkRan);
}

TEST(SerialQueue, QueueKeptOnlyByItsPendingWorkEndsAfterRunningIt) {
  PosixDispatch dispatch;
  auto queue = dispatch.makeSerialQueue("test.captured");
  std::weak_ptr<Queue> watch = queue;
  std::promise<void> ran;
  auto ranFuture = ran.get_future();
  queue->post([keep = queue, &ran] { ran.set_value(); });
  queue.reset();

  ASSERT_TRUE(isReady(ranFuture));
  // The last reference goes when the worker destroys the item, just after it ran.
  const auto giveUp = std::chrono::steady_clock::now() + kHangLimit;
  while (!watch.expired() && std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_TRUE(watch.expired());
}

}  // namespace
}  // namespace platform::posix
