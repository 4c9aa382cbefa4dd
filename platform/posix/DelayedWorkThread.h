#pragma once

#include <chrono>
#include <memory>
#include <thread>

#include "platform/Dispatch.h"

namespace platform::posix {

// Runs work once its deadline on the steady clock has passed, one item at a time, earliest first,
// on a thread started by the first request. Destruction drops work not yet started.
class DelayedWorkThread {
 public:
  DelayedWorkThread();
  ~DelayedWorkThread();
  DelayedWorkThread(const DelayedWorkThread&) = delete;
  DelayedWorkThread& operator=(const DelayedWorkThread&) = delete;

  // Thread-safe.
  void runAfter(std::chrono::nanoseconds delay, Work work);

 private:
  struct State;
  static void serve(std::shared_ptr<State> state);

  // Shared with the thread, which may outlive this when released from work running on it.
  std::shared_ptr<State> state_;
  std::thread thread_;  // started under state_->mutex; joined by the destructor
};

}  // namespace platform::posix
