#pragma once

#include <memory>

#include "platform/Dispatch.h"

namespace platform::posix {

class DelayedWorkThread;
class PollMainQueue;

// The dispatch service in standard C++ and POSIX. Serial queues, timers and interrupt sources
// hold what they need themselves, so they may be destroyed before or after this.
class PosixDispatch final : public Dispatch {
 public:
  PosixDispatch();
  ~PosixDispatch() override;
  PosixDispatch(const PosixDispatch&) = delete;
  PosixDispatch& operator=(const PosixDispatch&) = delete;

  MainQueue& mainQueue() override;
  std::shared_ptr<Queue> makeSerialQueue(const std::string& label) override;
  std::unique_ptr<RepeatingTimer> makeRepeatingTimer(std::shared_ptr<Queue> queue) override;
  // Runs on one background thread shared by all delayed work; destruction drops what is pending.
  void runAfter(std::chrono::nanoseconds delay, Work work) override;
  std::unique_ptr<SignalSource> makeInterruptSource(std::vector<int> signalNumbers) override;
  std::unique_ptr<ParentExitSource> makeParentExitSource() override;

 private:
  std::shared_ptr<PollMainQueue> mainQueue_;        // shared with interrupt sources
  std::unique_ptr<DelayedWorkThread> delayedWork_;  // thread-safe itself
};

}  // namespace platform::posix
