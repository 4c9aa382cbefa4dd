#include "platform/posix/ParentWatch.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "platform/posix/PollMainQueue.h"
#include "platform/posix/SteadyRepeatingTimer.h"

namespace platform::posix {

namespace {

// A descriptor that becomes readable when `process` ends; -1 with errno set when it cannot be
// had, ESRCH when the process is gone already.
int openExitDescriptor(pid_t process) {
#if defined(SYS_pidfd_open)
  return static_cast<int>(::syscall(SYS_pidfd_open, process, 0));
#else
  (void)process;
  errno = ENOSYS;
  return -1;
#endif
}

// The system is out of descriptors or memory, rather than refusing pidfds as such.
bool exhausted(int error) {
  return error == EMFILE || error == ENFILE || error == ENOMEM;
}

}  // namespace

ParentWatch::ParentWatch(std::shared_ptr<PollMainQueue> mainQueue)
    : mainQueue_(std::move(mainQueue)), parent_(::getppid()) {
  if (parent_ == 0) {
    watch_ = Watch::noParent;
    return;
  }
  exitFd_ = openExitDescriptor(parent_);
  if (exitFd_ == -1) {
    if (exhausted(errno)) {
      throw std::system_error(errno, std::generic_category(), "watching the parent process");
    }
    watch_ = errno == ESRCH ? Watch::goneAlready : Watch::polling;
  }
  // Reparented since getppid(): the parent ended, and the number may already name another
  // process, so the descriptor cannot be trusted.
  if (::getppid() != parent_) watch_ = Watch::goneAlready;
}

ParentWatch::~ParentWatch() {
  if (active_ && watch_ == Watch::descriptor) mainQueue_->unwatch(exitFd_);
  if (exitFd_ != -1) ::close(exitFd_);
}

void ParentWatch::setEventHandler(Work handler) {
  handler_ = std::move(handler);
}

void ParentWatch::activate() {
  if (active_) return;
  active_ = true;
  switch (watch_) {
    case Watch::descriptor:
      mainQueue_->watchReadable(exitFd_, handler_);
      break;
    case Watch::polling:
      check_ = std::make_unique<SteadyRepeatingTimer>(mainQueue_);
      check_->schedule(std::chrono::nanoseconds::zero(), kFallbackInterval);
      check_->setEventHandler([handler = handler_, parent = parent_] {
        if (::getppid() != parent) handler();
      });
      check_->activate();
      break;
    case Watch::goneAlready:
      mainQueue_->post(handler_);
      break;
    case Watch::noParent:
      break;
  }
}

}  // namespace platform::posix
