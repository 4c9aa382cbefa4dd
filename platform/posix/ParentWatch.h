#pragma once

#include <sys/types.h>

#include <memory>

#include "platform/Dispatch.h"

namespace platform::posix {

class PollMainQueue;

// The parent-exit source over a descriptor that the main queue polls: a pidfd on Linux, a kqueue
// with the parent's exit filter elsewhere. Either refers to the parent process itself, so it
// becomes readable when that process ends, whichever of its threads started this one, and never
// for another process that reuses the number.
class ParentWatch final : public ParentExitSource {
 public:
  // Opens the descriptor; throws std::system_error when the system refuses it.
  explicit ParentWatch(std::shared_ptr<PollMainQueue> mainQueue);
  ~ParentWatch() override;
  ParentWatch(const ParentWatch&) = delete;
  ParentWatch& operator=(const ParentWatch&) = delete;

  void setEventHandler(Work handler) override;
  void activate() override;

 private:
  std::shared_ptr<PollMainQueue> mainQueue_;
  int exitFd_ = -1;              // set by the constructor
  bool goneBeforeOpen_ = false;  // set by the constructor
  Work handler_;                 // owner thread only
  bool active_ = false;          // owner thread only
};

}  // namespace platform::posix
