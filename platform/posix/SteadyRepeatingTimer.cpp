#include "platform/posix/SteadyRepeatingTimer.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/posix/ThreadName.h"

namespace platform::posix {

using Clock = std::chrono::steady_clock;

// What the timer shares with its posted firings, which may outlive it.
struct SteadyRepeatingTimer::Firing {
  Work handler;  // written before activate(), read-only after
  std::mutex mutex;
  std::condition_variable changed;
  bool cancelled = false;                // guarded by mutex
  std::optional<Clock::time_point> ran;  // guarded by mutex: when the posted firing began
};

SteadyRepeatingTimer::SteadyRepeatingTimer(std::shared_ptr<Queue> queue)
    : queue_(std::move(queue)), firing_(std::make_shared<Firing>()) {}

SteadyRepeatingTimer::~SteadyRepeatingTimer() {
  cancel();
  if (thread_.joinable()) thread_.join();
}

void SteadyRepeatingTimer::schedule(std::chrono::nanoseconds firstDelay,
                                    std::chrono::nanoseconds interval) {
  firstDeadline_ = Clock::now() + firstDelay;
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
  std::lock_guard lock(firing_->mutex);
  thread_ = std::thread(&SteadyRepeatingTimer::keepTime, this);
}

void SteadyRepeatingTimer::cancel() {
  {
    std::lock_guard lock(firing_->mutex);
    firing_->cancelled = true;
  }
  firing_->changed.notify_all();
}

// One firing at a time: the next deadline is set once the last firing has begun. A firing that
// began more than half an interval late (the process was stopped, the queue was busy) stands for
// every one missed, and the rhythm starts again from it.
void SteadyRepeatingTimer::keepTime() {
  nameCurrentThread("repeat timer");
  Firing& firing = *firing_;
  auto deadline = firstDeadline_;
  std::unique_lock lock(firing.mutex);
  for (;;) {
    if (firing.changed.wait_until(lock, deadline, [&] { return firing.cancelled; })) return;
    firing.ran.reset();
    lock.unlock();
    post();
    lock.lock();
    firing.changed.wait(lock, [&] { return firing.cancelled || firing.ran; });
    if (firing.cancelled || interval_ <= std::chrono::nanoseconds::zero()) return;
    const bool late = *firing.ran - deadline > interval_ / 2;
    deadline = late ? *firing.ran + interval_ : deadline + interval_;
  }
}

void SteadyRepeatingTimer::post() {
  queue_->post([firing = firing_] {
    {
      std::lock_guard lock(firing->mutex);
      if (firing->cancelled) return;
      firing->ran = Clock::now();
    }
    firing->changed.notify_all();
    firing->handler();
  });
}

}  // namespace platform::posix
