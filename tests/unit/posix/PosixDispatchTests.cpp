#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "platform/posix/PosixDispatch.h"
#include "platform/posix/ThreadName.h"
#include "support/DispatchContract.h"

namespace platform::posix {
namespace {

using test_support::Latch;

struct Posix {
  static std::unique_ptr<Dispatch> make() { return std::make_unique<PosixDispatch>(); }
  // At the main thread: a signal that lands on a thread asleep elsewhere waits, under
  // ThreadSanitizer, until that thread wakes.
  static void interrupt(pthread_t mainThread, int signalNumber) {
    ::pthread_kill(mainThread, signalNumber);
  }
};

// The last holder of a queue may be work on it, e.g. a level tick holding the session.
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

std::multiset<std::string> threadNamesOfThisProcess() {
  std::multiset<std::string> names;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    if (std::getline(comm, name)) names.insert(name);
  }
  return names;
}

// In `top -H` and a debugger, each of the tool's threads says what it does.
TEST(ThreadNames, EachThreadIsNamedForItsJob) {
  PosixDispatch dispatch;
  auto queue = dispatch.makeSerialQueue("com.tessaloquin.audio-samples");
  Latch delayedWorkRan;
  dispatch.runAfter(std::chrono::nanoseconds::zero(), [&] { delayedWorkRan.set(); });
  Latch timerFired;
  std::atomic<bool> fired{false};
  auto timer = dispatch.makeRepeatingTimer(queue);
  timer->schedule(std::chrono::nanoseconds::zero(), std::chrono::hours(1));
  timer->setEventHandler([&] {
    if (!fired.exchange(true)) timerFired.set();
  });
  timer->activate();
  ASSERT_TRUE(delayedWorkRan.reached());
  ASSERT_TRUE(timerFired.reached());

  const std::multiset<std::string> names = threadNamesOfThisProcess();
  timer->cancel();
  for (const char* job : {"audio-samples", "delayed work", "repeat timer"}) {
    EXPECT_EQ(names.count(job), 1U) << job;
  }
  EXPECT_EQ(names.count("com.tessaloquin"), 0U);
  EXPECT_EQ(threadNameOf("org.example.a-rather-long-job-name"), "a-rather-long-j");
}

}  // namespace
}  // namespace platform::posix

namespace test_support {
INSTANTIATE_TYPED_TEST_SUITE_P(Posix, DispatchContract, ::testing::Types<platform::posix::Posix>);
}  // namespace test_support
