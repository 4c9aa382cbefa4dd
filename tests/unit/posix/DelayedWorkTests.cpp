#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "DispatchTestSupport.h"
#include "platform/posix/PosixDispatch.h"

namespace platform::posix {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::isReady;

TEST(DelayedWork, DelayedWorkRunsAfterItsDelayNotBeforeAndOffTheCallersThread) {
  PosixDispatch dispatch;
  constexpr auto kDelay = 50ms;
  Clock::duration waited{};
  std::thread::id runner;
  std::promise<void> ran;
  auto ranFuture = ran.get_future();
  const auto requested = Clock::now();
  dispatch.runAfter(kDelay, [&] {
    waited = Clock::now() - requested;
    runner = std::this_thread::get_id();
    ran.set_value();
  });

  ASSERT_TRUE(isReady(ranFuture));
  EXPECT_GE(waited, kDelay);
  EXPECT_NE(runner, std::this_thread::get_id());
}

TEST(DelayedWork, EarlierDeadlinesRunFirstWhateverTheOrderOfRequests) {
  PosixDispatch dispatch;
  std::string order;
  std::promise<void> allRan;
  auto allRanFuture = allRan.get_future();
  dispatch.runAfter(80ms, [&] {
    order += 'c';
    allRan.set_value();
  });
  dispatch.runAfter(40ms, [&] { order += 'b'; });
  dispatch.runAfter(0ms, [&] { order += 'a'; });

  ASSERT_TRUE(isReady(allRanFuture));
  EXPECT_EQ(order, "abc");
}

TEST(DelayedWork, DelayedWorkMayRequestMoreDelayedWork) {
  PosixDispatch dispatch;
  std::promise<void> innerRan;
  auto innerRanFuture = innerRan.get_future();
  dispatch.runAfter(0ms, [&] { dispatch.runAfter(1ms, [&] { innerRan.set_value(); }); });

  EXPECT_TRUE(isReady(innerRanFuture));
}

TEST(DelayedWork, PendingDelayedWorkIsDroppedWithTheDispatch) {
  auto captured = std::make_shared<int>(0);
  std::weak_ptr<int> watch = captured;
  bool ran = false;
  {
    PosixDispatch dispatch;
    dispatch.runAfter(1h, [captured = std::move(captured), &ran] { ran = true; });
  }
  EXPECT_FALSE(ran);
  EXPECT_TRUE(watch.expired());
}

TEST(DelayedWork, DispatchReleasedFromDelayedWorkDoesNotDeadlock) {
  auto dispatch = std::make_unique<PosixDispatch>();
  std::promise<void> released;
  auto releasedFuture = released.get_future();
  std::promise<void> requested;
  auto& owner = dispatch;
  dispatch->runAfter(0ms, [&owner, &released, requestedFuture = requested.get_future().share()] {
    requestedFuture.wait();
    owner.reset();
    released.set_value();
  });
  requested.set_value();

  EXPECT_TRUE(isReady(releasedFuture));
}

}  // namespace
}  // namespace platform::posix
