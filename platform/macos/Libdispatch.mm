// The dispatch service over libdispatch.
//
// create: the serial queue, timer and signal source wrap libdispatch objects; sources are created
//   inactive, as libdispatch makes them.
// start: activate() hands a source to libdispatch; from then on its handler runs on the source's
//   queue: the sample queue for the level timer, the main queue for the stop signals and the
//   parent's exit.
// run: the main queue is libdispatch's, drained by CFRunLoopRun() on the process's main thread
//   until quit() stops that run loop. The stop takes effect when the run loop's callout returns,
//   and libdispatch finishes the drain of the main queue it is in first, so work queued before
//   the quit may still run in this run().
// stop: cancel() ends a timer; a source is also cancelled when its owner lets go of it, so a
//   handler never outlives the object that installed it.
// runAfter: one block on the default-QoS global queue, never cancelled.

#include "platform/macos/Libdispatch.h"

#include <CoreFoundation/CoreFoundation.h>
#include <dispatch/dispatch.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/macos/MacErrors.h"

namespace platform::macos {

namespace {

class SerialQueue final : public Queue {
 public:
  explicit SerialQueue(dispatch_queue_t queue) : queue_(queue) {}
  void post(Work work) override {
    dispatch_async(queue_, ^{
      work();
    });
  }
  dispatch_queue_t native() const { return queue_; }

 private:
  dispatch_queue_t queue_;
};

class MainRunLoopQueue final : public MainQueue {
 public:
  void post(Work work) override {
    dispatch_async(dispatch_get_main_queue(), ^{
      work();
    });
  }
  // The main queue is drained only by the main thread's run loop, so this must be called there.
  void run() override { CFRunLoopRun(); }
  void quit() override { CFRunLoopStop(CFRunLoopGetMain()); }
};

// Releasing a source that was never activated is a crash in libdispatch; cancelling first keeps
// its handler from ever running.
class Source {
 public:
  explicit Source(dispatch_source_t source) : source_(source) {}
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;
  ~Source() {
    dispatch_source_cancel(source_);
    if (!activated_) dispatch_activate(source_);
  }
  void setEventHandler(Work handler) {
    dispatch_source_set_event_handler(source_, ^{
      handler();
    });
  }
  void activate() {
    activated_ = true;
    dispatch_activate(source_);
  }
  dispatch_source_t get() const { return source_; }

 private:
  dispatch_source_t source_;
  bool activated_ = false;
};

// libdispatch collapses the firings a stopped process missed into one, but keeps the grid of the
// first deadline, so the next may follow it at once: a firing more than half an interval late
// sets the timer again from itself. Handlers run one at a time on the timer's queue.
class DispatchTimer final : public RepeatingTimer {
 public:
  explicit DispatchTimer(dispatch_queue_t queue)
      : source_(dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, queue)),
        rhythm_(std::make_shared<Rhythm>()) {}
  void schedule(std::chrono::nanoseconds firstDelay, std::chrono::nanoseconds interval) override {
    rhythm_->due = std::chrono::steady_clock::now() + firstDelay;
    rhythm_->interval = interval;
    dispatch_source_set_timer(source_.get(), dispatch_time(DISPATCH_TIME_NOW, firstDelay.count()),
                              static_cast<std::uint64_t>(interval.count()), 0);
  }
  void setEventHandler(Work handler) override {
    // Unretained: libdispatch keeps the source alive while its handler runs.
    void* source = (__bridge void*)source_.get();
    source_.setEventHandler([rhythm = rhythm_, source, handler = std::move(handler)] {
      rhythm->keep((__bridge dispatch_source_t)source);
      handler();
    });
  }
  void activate() override { source_.activate(); }
  void cancel() override { dispatch_source_cancel(source_.get()); }

 private:
  // Written by schedule() before activation, then only by handlers.
  struct Rhythm {
    std::chrono::steady_clock::time_point due;
    std::chrono::nanoseconds interval{};
    void keep(dispatch_source_t source) {
      const auto now = std::chrono::steady_clock::now();
      if (interval <= std::chrono::nanoseconds::zero() || now - due <= interval / 2) {
        due += interval;
        return;
      }
      due = now + interval;
      dispatch_source_set_timer(source, dispatch_time(DISPATCH_TIME_NOW, interval.count()),
                                static_cast<std::uint64_t>(interval.count()), 0);
    }
  };
  Source source_;
  std::shared_ptr<Rhythm> rhythm_;
};

// One libdispatch source per signal. Each signal is ignored once active, so none ends the process
// (until then the caller holds them pending); libdispatch still sees each delivery and coalesces
// those that arrive before the handler runs.
class InterruptSource final : public SignalSource {
 public:
  explicit InterruptSource(std::vector<int> signalNumbers)
      : signalNumbers_(std::move(signalNumbers)) {
    for (const int signalNumber : signalNumbers_) {
      sources_.push_back(std::make_unique<Source>(
          dispatch_source_create(DISPATCH_SOURCE_TYPE_SIGNAL, static_cast<uintptr_t>(signalNumber),
                                 0, dispatch_get_main_queue())));
    }
  }
  void setEventHandler(Work handler) override {
    for (const auto& source : sources_) source->setEventHandler(handler);
  }
  void activate() override {
    for (const int signalNumber : signalNumbers_) std::signal(signalNumber, SIG_IGN);
    for (const auto& source : sources_) source->activate();
  }

 private:
  const std::vector<int> signalNumbers_;
  std::vector<std::unique_ptr<Source>> sources_;
};

// The parent at creation, watched for its exit on the main queue. libdispatch reports no exit that
// came before the source was armed, and may make no source at all for a process already gone:
// getppid() then tells, as the process has been handed to another parent.
class ParentExitSource final : public platform::ParentExitSource {
 public:
  ParentExitSource() : parent_(getppid()) {
    dispatch_source_t source =
        dispatch_source_create(DISPATCH_SOURCE_TYPE_PROC, static_cast<uintptr_t>(parent_),
                               DISPATCH_PROC_EXIT, dispatch_get_main_queue());
    if (source != nullptr) source_.emplace(source);
  }
  void setEventHandler(Work handler) override {
    handler_ = handler;
    if (source_) source_->setEventHandler(std::move(handler));
  }
  void activate() override {
    if (source_) source_->activate();
    if (!source_ || getppid() != parent_) {
      Work handler = handler_;
      dispatch_async(dispatch_get_main_queue(), ^{
        handler();
      });
    }
  }

 private:
  const pid_t parent_;
  std::optional<Source> source_;
  Work handler_;
};

class LibdispatchService final : public Dispatch {
 public:
  MainQueue& mainQueue() override { return mainQueue_; }
  std::shared_ptr<Queue> makeSerialQueue(const std::string& label) override {
    // ScreenCaptureKit calls back on these queues for hours. A queue made as plain serial
    // inherits its target's frequency, and the global queues' is "never": nothing the framework
    // and the bridges autorelease in a callback would be freed until the worker thread exits.
    // A pool per work item frees it after each callback.
    dispatch_queue_attr_t attributes = dispatch_queue_attr_make_with_autorelease_frequency(
        DISPATCH_QUEUE_SERIAL, DISPATCH_AUTORELEASE_FREQUENCY_WORK_ITEM);
    attributes = dispatch_queue_attr_make_with_qos_class(attributes, QOS_CLASS_USER_INITIATED, 0);
    return std::make_shared<SerialQueue>(dispatch_queue_create(label.c_str(), attributes));
  }
  std::unique_ptr<RepeatingTimer> makeRepeatingTimer(std::shared_ptr<Queue> queue) override {
    return std::make_unique<DispatchTimer>(nativeQueue(queue));
  }
  void runAfter(std::chrono::nanoseconds delay, Work work) override {
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, delay.count()),
                   dispatch_get_global_queue(QOS_CLASS_DEFAULT, 0), ^{
                     work();
                   });
  }
  std::unique_ptr<SignalSource> makeInterruptSource(std::vector<int> signalNumbers) override {
    return std::make_unique<InterruptSource>(std::move(signalNumbers));
  }
  std::unique_ptr<platform::ParentExitSource> makeParentExitSource() override {
    return std::make_unique<ParentExitSource>();
  }

 private:
  MainRunLoopQueue mainQueue_;
};

}  // namespace

dispatch_queue_t nativeQueue(const std::shared_ptr<Queue>& queue) {
  const auto* serial = dynamic_cast<const SerialQueue*>(queue.get());
  if (serial == nullptr) throw toolError(ToolErrorCode::internalFault);
  return serial->native();
}

std::unique_ptr<Dispatch> makeLibdispatch() {
  return std::make_unique<LibdispatchService>();
}

}  // namespace platform::macos
