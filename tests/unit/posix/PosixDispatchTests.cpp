#include <gtest/gtest.h>
#include <signal.h>

#include "platform/posix/PosixDispatch.h"
#include "support/DispatchContract.h"

namespace platform::posix {
namespace {

using test_support::Latch;

struct Posix {
  static std::unique_ptr<Dispatch> make() { return std::make_unique<PosixDispatch>(); }
  // At the main thread: a signal that lands on a thread asleep elsewhere waits, under
  // ThreadSanitizer, until that thread wakes.
  static void interrupt(pthread_t mainThread) { ::pthread_kill(mainThread, SIGINT); }
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

}  // namespace
}  // namespace platform::posix

namespace test_support {
INSTANTIATE_TYPED_TEST_SUITE_P(Posix, DispatchContract, ::testing::Types<platform::posix::Posix>);
}  // namespace test_support
