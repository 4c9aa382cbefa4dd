#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>
#include <thread>

#include "DispatchTestSupport.h"
#include "platform/posix/PosixDispatch.h"

namespace platform::posix {
namespace {

using testing::quitSoon;
using testing::runMainQueueUntilQuit;

bool sigintIsIgnored() {
  struct sigaction current {};
  sigaction(SIGINT, nullptr, &current);
  return current.sa_handler == SIG_IGN;
}

class InterruptSourceTest : public ::testing::Test {
 protected:
  // Callers ignore SIGINT before making a source.
  void SetUp() override { signal(SIGINT, SIG_IGN); }

  PosixDispatch dispatch;
  MainQueue& mainQueue = dispatch.mainQueue();
  // Written only by handlers on the main queue, run by the test's thread.
  int events = 0;
};

TEST_F(InterruptSourceTest, SigintFromAnotherThreadIsReportedOnTheMainQueue) {
  auto source = dispatch.makeInterruptSource();
  std::thread::id handlerThread;
  source->setEventHandler([&] {
    ++events;
    handlerThread = std::this_thread::get_id();
    mainQueue.quit();
  });
  source->activate();
  std::thread interrupter;
  mainQueue.post([&] { interrupter = std::thread([] { kill(getpid(), SIGINT); }); });

  const bool quit = runMainQueueUntilQuit(dispatch);
  interrupter.join();

  ASSERT_TRUE(quit);
  EXPECT_EQ(events, 1);
  EXPECT_EQ(handlerThread, std::this_thread::get_id());
}

TEST_F(InterruptSourceTest, SigintBeforeActivationIsLost) {
  auto source = dispatch.makeInterruptSource();
  source->setEventHandler([&] { ++events; });
  raise(SIGINT);
  source->activate();
  quitSoon(dispatch);

  ASSERT_TRUE(runMainQueueUntilQuit(dispatch));
  EXPECT_EQ(events, 0);
}

TEST_F(InterruptSourceTest, SeveralSigintsBeforeTheHandlerRunAreOneEvent) {
  auto source = dispatch.makeInterruptSource();
  source->setEventHandler([&] { ++events; });
  source->activate();
  for (int i = 0; i < 3; ++i) raise(SIGINT);
  quitSoon(dispatch);

  ASSERT_TRUE(runMainQueueUntilQuit(dispatch));
  EXPECT_EQ(events, 1);
}

TEST_F(InterruptSourceTest, SigintAfterTheHandlerRanIsAnotherEvent) {
  auto source = dispatch.makeInterruptSource();
  source->setEventHandler([&] {
    if (++events == 1) {
      raise(SIGINT);
    } else {
      mainQueue.quit();
    }
  });
  source->activate();
  raise(SIGINT);

  ASSERT_TRUE(runMainQueueUntilQuit(dispatch));
  EXPECT_EQ(events, 2);
}

TEST_F(InterruptSourceTest, DestroyedSourceLeavesSigintIgnoredAndANewSourceWorks) {
  auto first = dispatch.makeInterruptSource();
  first->setEventHandler([&] { ++events; });
  first->activate();
  EXPECT_FALSE(sigintIsIgnored());
  first.reset();
  EXPECT_TRUE(sigintIsIgnored());
  raise(SIGINT);

  PosixDispatch next;
  bool nextHeardIt = false;
  auto second = next.makeInterruptSource();
  second->setEventHandler([&] {
    nextHeardIt = true;
    next.mainQueue().quit();
  });
  second->activate();
  raise(SIGINT);

  ASSERT_TRUE(runMainQueueUntilQuit(next));
  EXPECT_TRUE(nextHeardIt);
  quitSoon(dispatch);
  ASSERT_TRUE(runMainQueueUntilQuit(dispatch));
  EXPECT_EQ(events, 0);
}

TEST_F(InterruptSourceTest, OnlyOneSourceIsActiveAtATime) {
  auto first = dispatch.makeInterruptSource();
  first->activate();
  PosixDispatch other;
  auto second = other.makeInterruptSource();

  EXPECT_THROW(second->activate(), std::logic_error);
  first.reset();
  EXPECT_NO_THROW(second->activate());
}

TEST_F(InterruptSourceTest, SourceMayOutliveItsDispatch) {
  auto owner = std::make_unique<PosixDispatch>();
  auto source = owner->makeInterruptSource();
  source->activate();
  owner.reset();
  raise(SIGINT);
  source.reset();

  EXPECT_TRUE(sigintIsIgnored());
}

}  // namespace
}  // namespace platform::posix
