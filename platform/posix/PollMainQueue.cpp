#include "platform/posix/PollMainQueue.h"

#include <poll.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace platform::posix {

void PollMainQueue::post(Work work) {
  bool wasEmpty;
  {
    std::lock_guard lock(mutex_);
    wasEmpty = pending_.empty();
    pending_.push_back(std::move(work));
  }
  // The loop never sleeps on a non-empty queue, so only the first item needs to wake it.
  if (wasEmpty) wakeup_.ring();
}

void PollMainQueue::run() {
  while (!quitting_) {
    bool idle;
    {
      std::lock_guard lock(mutex_);
      idle = pending_.empty();
    }
    pollfd fds[] = {{wakeup_.readFd(), POLLIN, 0}, {doorbell_.readFd(), POLLIN, 0}};
    if (poll(fds, 2, idle ? -1 : 0) == -1) {
      // A signal landing on this thread interrupts poll() whatever SA_RESTART says.
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "poll");
    }
    if (fds[1].revents != 0 && doorbell_.drain()) answerDoorbell();
    if (fds[0].revents != 0) wakeup_.drain();
    runPending();
  }
  quitting_ = false;
}

void PollMainQueue::quit() {
  quitting_ = true;
  wakeup_.ring();
}

void PollMainQueue::setDoorbellHandler(Work handler) {
  std::lock_guard lock(mutex_);
  doorbellHandler_ = std::move(handler);
}

void PollMainQueue::answerDoorbell() {
  Work handler;
  {
    std::lock_guard lock(mutex_);
    handler = doorbellHandler_;
  }
  if (handler && !quitting_) handler();
}

void PollMainQueue::runPending() {
  std::deque<Work> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(pending_);
  }
  while (!batch.empty() && !quitting_) {
    Work work = std::move(batch.front());
    batch.pop_front();
    work();
  }
  // What quit() cut off waits, in order, for the next run().
  std::lock_guard lock(mutex_);
  pending_.insert(pending_.begin(), std::make_move_iterator(batch.begin()),
                  std::make_move_iterator(batch.end()));
}

}  // namespace platform::posix
