#include "platform/posix/SteadyRepeatingTimer.h"

#include <atomic>
#include <utility>

namespace platform::posix {

struct SteadyRepeatingTimer::Firing {
  Work handler;                         // written before activate(), read-only after
  std::atomic<bool> cancelled{false};   // set under the timer's mutex_, read anywhere
  std::atomic<bool> onTheQueue{false};  // set by the timer thread, cleared by the firing
};

SteadyRepeatingTimer::SteadyRepeatingTimer(std::shared_ptr<Queue> queue)
    : queue_(std::move(queue)), firing_(std::make_shared<Firing>()) {}

SteadyRepeatingTimer::~SteadyRepeatingTimer() {
  cancel();
  if (thread_.joinable()) thread_.join();
}

void SteadyRepeatingTimer::schedule(std::chrono::nanoseconds firstDelay,
                                    std::chrono::nanoseconds interval) {
  firstDeadline_ = std::chrono::steady_clock::now() + firstDelay;
  interval_ = interval;
  scheduled_ = true;
}

void SteadyRepeatingTimer::setEventHandler(Work handler) {
  firing_->handler = std::move(handler);
}

void SteadyRepeatingTimer::activate() {
  if (!scheduled_ || thread_.joinable()) return;
  // Holding the lock keeps the first firing, and so any handler destroying this timer, until
  // thread_ is set.
  std::lock_guard lock(mutex_);
  thread_ = std::thread(&SteadyRepeatingTimer::keepTime, this);
}

void SteadyRepeatingTimer::cancel() {
  {
    std::lock_guard lock(mutex_);
    firing_->cancelled = true;
  }
  wake_.notify_all();
}

void SteadyRepeatingTimer::keepTime() {
  auto deadline = firstDeadline_;
  std::unique_lock lock(mutex_);
  for (;;) {
    if (wake_.wait_until(lock, deadline, [&] { return firing_->cancelled.load(); })) return;
    lock.unlock();
    fire();
    lock.lock();
    if (interval_ <= std::chrono::nanoseconds::zero()) return;
    deadline += interval_;
  }
}

void SteadyRepeatingTimer::fire() {
  if (firing_->onTheQueue.exchange(true)) return;
  queue_->post([firing = firing_] {
    firing->onTheQueue = false;
    if (!firing->cancelled && firing->handler) firing->handler();
  });
}

}  // namespace platform::posix
