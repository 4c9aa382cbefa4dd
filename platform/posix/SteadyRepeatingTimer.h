#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Dispatch.h"

namespace platform::posix {

// A repeating timer kept by a thread of its own on the steady clock, posting each firing to its
// queue. Deadlines advance by whole intervals from the first, so lateness never accumulates. A
// firing still waiting on the queue absorbs later ones; a non-positive interval fires once.
// Destruction cancels and waits for the timer's thread, never for a firing.
class SteadyRepeatingTimer final : public RepeatingTimer {
 public:
  explicit SteadyRepeatingTimer(std::shared_ptr<Queue> queue);
  ~SteadyRepeatingTimer() override;
  SteadyRepeatingTimer(const SteadyRepeatingTimer&) = delete;
  SteadyRepeatingTimer& operator=(const SteadyRepeatingTimer&) = delete;

  // The first delay counts from this call.
  void schedule(std::chrono::nanoseconds firstDelay, std::chrono::nanoseconds interval) override;
  void setEventHandler(Work handler) override;
  void activate() override;
  // Any thread. A firing already posted but not yet started then skips the handler.
  void cancel() override;

 private:
  struct Firing;
  void keepTime();
  void fire();

  std::shared_ptr<Queue> queue_;
  // Shared with posted firings, which may outlive the timer.
  std::shared_ptr<Firing> firing_;
  // Written by the owner before activate(); read by the timer thread after.
  std::chrono::steady_clock::time_point firstDeadline_;
  std::chrono::nanoseconds interval_{};
  bool scheduled_ = false;
  // Pairs with wake_ so that a cancel cannot slip past the timer thread's wait.
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;  // set by activate() under mutex_; joined by whoever destroys the timer
};

}  // namespace platform::posix
