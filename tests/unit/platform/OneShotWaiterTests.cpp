#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "platform/OneShotWaiter.h"
#include "support/RunOnMainQueue.h"
#include "support/ScriptedPlatform.h"

namespace platform {
namespace {

using test_support::runOnMainQueue;

class OneShotWaiterTest : public ::testing::Test {
 protected:
  test_support::ScriptedPlatform platform;
  MainQueue& mainQueue = platform.dispatch().mainQueue();
};

Task<int> awaitValue(OneShotWaiter<int> waiter, std::thread::id& continuedOn) {
  const int value = co_await waiter;
  continuedOn = std::this_thread::get_id();
  co_return value;
}

TEST_F(OneShotWaiterTest, ResumedBeforeSuspensionContinuesAtOnce) {
  OneShotWaiter<int> waiter("early", mainQueue);
  waiter.resume(42);
  std::thread::id continuedOn;
  EXPECT_EQ(std::get<int>(runOnMainQueue(platform, awaitValue(waiter, continuedOn))), 42);
  EXPECT_EQ(continuedOn, std::this_thread::get_id());
}

TEST_F(OneShotWaiterTest, ResumedFromAnotherThreadContinuesOnTheMainQueue) {
  OneShotWaiter<int> waiter("late", mainQueue);
  std::jthread service([waiter]() mutable {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    waiter.resume(7);
  });
  std::thread::id continuedOn;
  EXPECT_EQ(std::get<int>(runOnMainQueue(platform, awaitValue(waiter, continuedOn))), 7);
  EXPECT_EQ(continuedOn, std::this_thread::get_id());
}

TEST_F(OneShotWaiterTest, FailureIsThrownWhereItIsAwaited) {
  OneShotWaiter<int> waiter("failing", mainQueue);
  waiter.fail(std::make_exception_ptr(PlatformError("GError", "g-io-error-quark", 1, "gone")));
  std::thread::id unused;
  const auto outcome = runOnMainQueue(platform, awaitValue(waiter, unused));
  EXPECT_EQ(std::get<PlatformError>(outcome).domain(), "g-io-error-quark");
}

TEST(OneShotWaiterDeathTest, SecondResumeIsAProgrammingError) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        test_support::ScriptedPlatform platform;
        OneShotWaiter<> waiter("waitForRecordingFinish(seconds:)", platform.dispatch().mainQueue());
        waiter.resume();
        waiter.resume();
      },
      "waitForRecordingFinish\\(seconds:\\)\" resumed twice");
}

}  // namespace
}  // namespace platform
