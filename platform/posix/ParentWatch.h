#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>

#include "platform/Dispatch.h"

namespace platform::posix {

class PollMainQueue;
class SteadyRepeatingTimer;

// The parent-exit source. It watches the parent process itself, so it fires when that process
// ends, whichever of its threads started this one, and never for another process that reuses the
// number: through a pidfd the main queue polls. Where pidfd_open is missing or refused (an older
// kernel, a seccomp sandbox, a system other than Linux), getppid() is checked on the main queue
// every kFallbackInterval instead, since a process whose parent ends is handed to another one.
// A process with no parent to watch (process 1 of a PID namespace, whose getppid() is 0) is
// never told anything.
class ParentWatch final : public ParentExitSource {
 public:
  // The longest the fallback takes to notice.
  static constexpr std::chrono::milliseconds kFallbackInterval{250};

  // Throws std::system_error when the system has no descriptor to spare for the watch.
  explicit ParentWatch(std::shared_ptr<PollMainQueue> mainQueue);
  ~ParentWatch() override;
  ParentWatch(const ParentWatch&) = delete;
  ParentWatch& operator=(const ParentWatch&) = delete;

  void setEventHandler(Work handler) override;
  void activate() override;

 private:
  enum class Watch { descriptor, polling, goneAlready, noParent };

  std::shared_ptr<PollMainQueue> mainQueue_;
  const pid_t parent_;
  Watch watch_ = Watch::descriptor;              // set by the constructor
  int exitFd_ = -1;                              // set by the constructor
  std::unique_ptr<SteadyRepeatingTimer> check_;  // polling: owner thread only
  Work handler_;                                 // owner thread only
  bool active_ = false;                          // owner thread only
};

}  // namespace platform::posix
