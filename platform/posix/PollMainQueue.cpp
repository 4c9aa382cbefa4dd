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
    std::vector<pollfd> fds = {{wakeup_.readFd(), POLLIN, 0}, {doorbell_.readFd(), POLLIN, 0}};
    {
      std::lock_guard lock(mutex_);
      idle = pending_.empty();
      for (const auto& watch : watches_) fds.push_back({watch.first, POLLIN, 0});
    }
    if (poll(fds.data(), fds.size(), idle ? -1 : 0) == -1) {
      // A signal landing on this thread interrupts poll() whatever SA_RESTART says.
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "poll");
    }
    if (fds[1].revents != 0 && doorbell_.drain()) answerDoorbell();
    if (fds[0].revents != 0) wakeup_.drain();
    answerWatches(fds);
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

void PollMainQueue::watchReadable(int fd, Work handler) {
  {
    std::lock_guard lock(mutex_);
    watches_[fd] = std::move(handler);
  }
  // The loop may be asleep in a poll() that does not include the new descriptor yet.
  wakeup_.ring();
}

void PollMainQueue::unwatch(int fd) {
  std::lock_guard lock(mutex_);
  watches_.erase(fd);
}

void PollMainQueue::answerWatches(const std::vector<pollfd>& polled) {
  std::vector<Work> due;
  {
    std::lock_guard lock(mutex_);
    for (std::size_t index = 2; index < polled.size(); ++index) {
      if (polled[index].revents == 0) continue;
      const auto watch = watches_.find(polled[index].fd);
      if (watch == watches_.end()) continue;
      due.push_back(std::move(watch->second));
      watches_.erase(watch);
    }
  }
  for (Work& handler : due) {
    if (!quitting_) handler();
  }
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
