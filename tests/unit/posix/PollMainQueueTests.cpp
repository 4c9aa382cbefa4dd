#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "DispatchTestSupport.h"
#include "platform/posix/PosixDispatch.h"

namespace platform::posix {
namespace {

using testing::runMainQueueUntilQuit;

TEST(PollMainQueue, PostedWorkRunsInOrderOnTheRunningThread) {
  PosixDispatch dispatch;
  MainQueue& mainQueue = dispatch.mainQueue();
  std::vector<int> order;
  std::vector<std::thread::id> threads;
  constexpr int kItems = 50;
  for (int i = 0; i < kItems; ++i) {
    mainQueue.post([&, i] {
      order.push_back(i);
      threads.push_back(std::this_thread::get_id());
      if (i == kItems - 1) mainQueue.quit();
    });
  }

  ASSERT_TRUE(runMainQueueUntilQuit(dispatch));

  ASSERT_EQ(order.size(), static_cast<std::size_t>(kItems));
  for (int i = 0; i < kItems; ++i) {
    EXPECT_EQ(order[i], i);
    EXPECT_EQ(threads[i], std::this_thread::get_id());
  }
}

TEST(PollMainQueue, WorkPostedFromOtherThreadsWakesTheLoopAndKeepsEachPostersOrder) {
  PosixDispatch dispatch;
  MainQueue& mainQueue = dispatch.mainQueue();
  constexpr int kPosters = 4;
  constexpr int kItemsEach = 100;
  std::map<int, std::vector<int>> seen;
  int total = 0;
  std::vector<std::thread> posters;
  // The posters start once the loop is running, so their first items find it asleep or busy.
  mainQueue.post([&] {
    for (int poster = 0; poster < kPosters; ++poster) {
      posters.emplace_back([&, poster] {
        for (int i = 0; i < kItemsEach; ++i) {
          mainQueue.post([&, poster, i] {
            seen[poster].push_back(i);
            if (++total == kPosters * kItemsEach) mainQueue.quit();
          });
        }
      });
    }
  });

  const bool quit = runMainQueueUntilQuit(dispatch);
  for (auto& poster : posters) poster.join();

  ASSERT_TRUE(quit);
  for (const auto& [poster, items] : seen) {
    ASSERT_EQ(items.size(), static_cast<std::size_t>(kItemsEach)) << "poster " << poster;
    for (int i = 0; i < kItemsEach; ++i) EXPECT_EQ(items[i], i) << "poster " << poster;
  }
}

TEST(PollMainQueue, WorkPostedFromWorkRunsOnlyAfterThePosterReturns) {
  PosixDispatch dispatch;
  MainQueue& mainQueue = dispatch.mainQueue();
  bool posterReturned = false;
  bool innerSawPosterReturned = false;
  mainQueue.post([&] {
    mainQueue.post([&] {
      innerSawPosterReturned = posterReturned;
      mainQueue.quit();
    });
    posterReturned = true;
  });

  ASSERT_TRUE(runMainQueueUntilQuit(dispatch));
  EXPECT_TRUE(innerSawPosterReturned);
}

TEST(PollMainQueue, QuitReturnsFromRunWhileWorkIsStillPosted) {
  PosixDispatch dispatch;
  MainQueue& mainQueue = dispatch.mainQueue();
  mainQueue.post([&] {
    for (int i = 0; i < 10; ++i) mainQueue.post([] {});
    mainQueue.quit();
  });

  EXPECT_TRUE(runMainQueueUntilQuit(dispatch));
}

TEST(PollMainQueue, WorkNeverRunIsReleasedWithTheDispatch) {
  auto captured = std::make_shared<int>(0);
  std::weak_ptr<int> watch = captured;
  bool ran = false;
  {
    PosixDispatch dispatch;
    dispatch.mainQueue().post([captured = std::move(captured), &ran] { ran = true; });
  }
  EXPECT_FALSE(ran);
  EXPECT_TRUE(watch.expired());
}

}  // namespace
}  // namespace platform::posix
