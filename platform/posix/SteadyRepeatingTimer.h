#pragma once

#include <chrono>
#include <memory>
#include <thread>

#include "platform/Dispatch.h"

namespace platform::posix {

// A repeating timer kept by a thread of its own on the steady clock, posting each firing to its
// queue. Deadlines advance by whole intervals from the first, so small lateness never
// accumulates; a firing that begins more than half an interval late stands for all it missed,
// and the next comes a whole interval after it. A non-positive interval fires once.
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
  void post();

  std::shared_ptr<Queue> queue_;
  // Shared with posted firings, which may outlive the timer; its mutex pairs with its condition
  // so that a cancel cannot slip past the timer thread's wait.
  std::shared_ptr<Firing> firing_;
  // Written by the owner before activate(); read by the timer thread after.
  std::chrono::steady_clock::time_point firstDeadline_;
  std::chrono::nanoseconds interval_{};
  bool scheduled_ = false;
  std::thread thread_;  // set by activate() under the firing's mutex; joined by the destroyer
};

}  // namespace platform::posix
