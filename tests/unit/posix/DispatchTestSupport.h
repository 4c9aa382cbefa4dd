#pragma once

#include <atomic>
#include <chrono>
#include <future>
#include <memory>

#include "platform/Dispatch.h"

namespace platform::posix::testing {

// Bounds every wait, so that a fault shows as a failure rather than a hang.
inline constexpr std::chrono::seconds kHangLimit{5};

// Runs the main queue on the calling thread until work on it quits; returns false if nothing
// did within kHangLimit. The watchdog quits from its own thread rather than through post(), so
// that a loop which no longer wakes for posted work still returns.
inline bool runMainQueueUntilQuit(Dispatch& dispatch) {
  auto timedOut = std::make_shared<std::atomic<bool>>(false);
  MainQueue& mainQueue = dispatch.mainQueue();
  dispatch.runAfter(kHangLimit, [&mainQueue, timedOut] {
    *timedOut = true;
    mainQueue.quit();
  });
  mainQueue.run();
  return !*timedOut;
}

// Quits the main queue after a round trip through the delayed-work thread, giving the loop a few
// turns first.
inline void quitSoon(Dispatch& dispatch) {
  MainQueue& mainQueue = dispatch.mainQueue();
  dispatch.runAfter(std::chrono::milliseconds(20),
                    [&mainQueue] { mainQueue.post([&mainQueue] { mainQueue.quit(); }); });
}

inline bool isReady(std::future<void>& future) {
  return future.wait_for(kHangLimit) == std::future_status::ready;
}

// Returns once everything posted to `queue` so far has run, or false after kHangLimit.
inline bool drain(Queue& queue) {
  std::promise<void> reached;
  auto future = reached.get_future();
  queue.post([&reached] { reached.set_value(); });
  return isReady(future);
}

}  // namespace platform::posix::testing
