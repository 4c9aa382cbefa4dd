#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

using Work = std::function<void()>;

// A queue that runs submitted work one item at a time, in submission order, on a thread it owns.
class Queue {
 public:
  virtual ~Queue() = default;
  // Thread-safe; never runs `work` before returning.
  virtual void post(Work work) = 0;
};

// The queue of the process's main thread. The thread that calls run() becomes the main thread and
// services the queue until quit(), from any thread; run() returns once the item running then has
// returned. Work already queued at the quit may run before run() returns or wait for the next
// run(): libdispatch ends a drain of the main queue it has begun, the POSIX queue stops at once.
// Work posted after run() has returned waits for the next run().
class MainQueue : public Queue {
 public:
  virtual void run() = 0;
  virtual void quit() = 0;
};

// A repeating timer whose handler runs on the queue it was made for. Created inactive; owned by
// whoever made it. Once cancelled, no new firing starts; a firing already running is not awaited.
class RepeatingTimer {
 public:
  virtual ~RepeatingTimer() = default;
  // Set before activate().
  virtual void schedule(std::chrono::nanoseconds firstDelay, std::chrono::nanoseconds interval) = 0;
  virtual void setEventHandler(Work handler) = 0;
  virtual void activate() = 0;
  virtual void cancel() = 0;
};

// Turns deliveries of the signals it was made for (SIGINT, and SIGTERM and SIGHUP when a recording
// stops on them) into events on the main queue. Created inactive: deliveries before activate()
// are not seen (a caller that must not lose them holds them pending, and asks before activate(),
// which may drop one pending). Deliveries that arrive before the handler runs are reported once.
// activate() takes the signals over: they never end the process from then on.
class SignalSource {
 public:
  virtual ~SignalSource() = default;
  // Set before activate(); runs on the main queue.
  virtual void setEventHandler(Work handler) = 0;
  virtual void activate() = 0;
};

// Reports on the main queue that the process's parent has ended: the process that was the parent
// when the source was made, not the thread of it that started this one, so a parent's worker
// thread that ends stops nothing. Created inactive; a parent that ended before activate() is
// reported at once. The handler may be called more than once.
class ParentExitSource {
 public:
  virtual ~ParentExitSource() = default;
  // Set before activate(); runs on the main queue.
  virtual void setEventHandler(Work handler) = 0;
  virtual void activate() = 0;
};

// The queues, timers and event sources of the platform's dispatch service.
class Dispatch {
 public:
  virtual ~Dispatch() = default;
  virtual MainQueue& mainQueue() = 0;
  // A serial queue of user-initiated priority.
  virtual std::shared_ptr<Queue> makeSerialQueue(const std::string& label) = 0;
  virtual std::unique_ptr<RepeatingTimer> makeRepeatingTimer(std::shared_ptr<Queue> queue) = 0;
  // Runs `work` once, `delay` from now on the monotonic clock, on a shared background queue.
  // There is no cancelling it: work that may outlive its owner holds the owner weakly.
  virtual void runAfter(std::chrono::nanoseconds delay, Work work) = 0;
  // A source for `signalNumbers` reporting on the main queue, inactive.
  virtual std::unique_ptr<SignalSource> makeInterruptSource(std::vector<int> signalNumbers) = 0;
  // A parent-exit source reporting on the main queue, inactive. Throws std::system_error when the
  // system refuses what the watch needs (a descriptor).
  virtual std::unique_ptr<ParentExitSource> makeParentExitSource() = 0;
};

}  // namespace platform
