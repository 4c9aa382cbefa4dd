#include "platform/posix/ParentWatch.h"

#include <unistd.h>

#if defined(__linux__)
#include <sys/syscall.h>
#elif defined(__APPLE__)
#include <sys/event.h>
#endif

#include <cerrno>
#include <system_error>
#include <utility>

#include "platform/posix/PollMainQueue.h"

namespace platform::posix {

namespace {

// A descriptor that becomes readable when `process` ends; -1 with errno set when it cannot be
// had, ESRCH when the process is gone already.
int openExitDescriptor(pid_t process) {
#if defined(__linux__)
  return static_cast<int>(::syscall(SYS_pidfd_open, process, 0));
#elif defined(__APPLE__)
  // A kqueue is readable while it holds an event.
  const int queue = ::kqueue();
  if (queue == -1) return -1;
  struct kevent change;
  EV_SET(&change, process, EVFILT_PROC, EV_ADD | EV_ONESHOT, NOTE_EXIT, 0, nullptr);
  if (::kevent(queue, &change, 1, nullptr, 0, nullptr) == -1) {
    const int error = errno;
    ::close(queue);
    errno = error;
    return -1;
  }
  return queue;
#else
  (void)process;
  errno = ENOSYS;
  return -1;
#endif
}

}  // namespace

ParentWatch::ParentWatch(std::shared_ptr<PollMainQueue> mainQueue)
    : mainQueue_(std::move(mainQueue)) {
  const pid_t parent = ::getppid();
  exitFd_ = openExitDescriptor(parent);
  if (exitFd_ == -1 && errno != ESRCH) {
    throw std::system_error(errno, std::generic_category(), "watching the parent process");
  }
  // Reparented since getppid(): the parent ended, and the number may already name another
  // process, so the descriptor cannot be trusted.
  goneBeforeOpen_ = exitFd_ == -1 || ::getppid() != parent;
}

ParentWatch::~ParentWatch() {
  if (active_ && !goneBeforeOpen_) mainQueue_->unwatch(exitFd_);
  if (exitFd_ != -1) ::close(exitFd_);
}

void ParentWatch::setEventHandler(Work handler) {
  handler_ = std::move(handler);
}

void ParentWatch::activate() {
  if (active_) return;
  active_ = true;
  if (goneBeforeOpen_) {
    mainQueue_->post(handler_);
  } else {
    mainQueue_->watchReadable(exitFd_, handler_);
  }
}

}  // namespace platform::posix
