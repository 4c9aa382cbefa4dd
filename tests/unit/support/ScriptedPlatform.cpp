#include "ScriptedPlatform.h"

#include <future>
#include <utility>

namespace test_support {

using platform::PlatformError;
using platform::StreamOutputType;

PlatformError scriptedError(std::int64_t code, const std::string& domain) {
  return PlatformError("ScriptedError", domain, code, "scripted failure");
}

void drain(platform::Queue& queue) {
  std::promise<void> drained;
  queue.post([&drained] { drained.set_value(); });
  drained.get_future().wait();
}

// --- ScriptedCapture -------------------------------------------------------------------------

class ScriptedCapture::ScriptedStream final : public platform::Stream {
 public:
  explicit ScriptedStream(ScriptedCapture& capture) : capture_(capture) {}

  void addStreamOutput(std::weak_ptr<platform::StreamOutput> output, StreamOutputType type,
                       std::shared_ptr<platform::Queue> queue) override {
    if (auto refusal = capture_.refusedOutputs.find(type);
        refusal != capture_.refusedOutputs.end()) {
      throw refusal->second;
    }
    capture_.outputs.push_back({type, std::move(output), std::move(queue)});
  }
  void addRecordingOutput(std::shared_ptr<platform::RecordingOutput>) override {
    if (capture_.recordingOutputRefusal) throw *capture_.recordingOutputRefusal;
    capture_.recordingOutputAdded = true;
  }
  void startCapture(platform::ErrorCompletion completion) override {
    capture_.startCapture(std::move(completion));
  }
  void stopCapture(platform::ErrorCompletion completion) override {
    capture_.stopCapture(std::move(completion));
  }

 private:
  ScriptedCapture& capture_;
};

ScriptedCapture::~ScriptedCapture() {
  std::lock_guard guard(threadsLock_);
  for (auto& thread : threads_) thread.join();
}

platform::ShareableContent ScriptedCapture::contentWith(
    int displayCount, const std::vector<std::int32_t>& processIDs) {
  platform::ShareableContent content;
  for (int i = 0; i < displayCount; ++i) {
    content.displays.push_back(std::make_shared<ScriptedDisplay>(i));
  }
  for (std::int32_t pid : processIDs) {
    content.applications.push_back(std::make_shared<ScriptedApplication>(pid));
  }
  return content;
}

void ScriptedCapture::reply(Reply mode, std::function<void()> answer, std::function<void()>& held) {
  switch (mode) {
    case Reply::immediately:
      answer();
      break;
    case Reply::fromAnotherThread: {
      std::lock_guard guard(threadsLock_);
      threads_.emplace_back([answer = std::move(answer)] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        answer();
      });
      break;
    }
    case Reply::never:
      held = std::move(answer);
      break;
  }
}

void ScriptedCapture::getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                                          platform::ContentCompletion completion) {
  contentArguments.emplace_back(excludingDesktopWindows, onScreenWindowsOnly);
  reply(
      contentReply,
      [completion = std::move(completion), content = content, error = contentError] {
        completion(content, error);
      },
      heldContent_);
  ++contentRequests;
}

std::shared_ptr<platform::ContentFilter> ScriptedCapture::makeContentFilter(
    std::shared_ptr<const platform::Display> display,
    std::vector<std::shared_ptr<const platform::RunningApplication>> excludingApplications) {
  filter = std::make_shared<ScriptedFilter>();
  filter->display = std::move(display);
  for (const auto& application : excludingApplications) {
    filter->excludedProcessIDs.push_back(application->processID());
  }
  return filter;
}

std::shared_ptr<platform::Stream> ScriptedCapture::makeStream(
    std::shared_ptr<platform::ContentFilter>, const platform::StreamConfiguration& configuration,
    std::weak_ptr<platform::StreamDelegate> delegate) {
  this->configuration = configuration;
  std::lock_guard guard(delegatesLock_);
  streamDelegate_ = std::move(delegate);
  return std::make_shared<ScriptedStream>(*this);
}

std::shared_ptr<platform::RecordingOutput> ScriptedCapture::makeRecordingOutput(
    const platform::RecordingOutputConfiguration& configuration,
    std::weak_ptr<platform::RecordingOutputDelegate> delegate) {
  recordingConfiguration = configuration;
  std::lock_guard guard(delegatesLock_);
  recordingDelegate_ = std::move(delegate);
  return std::make_shared<platform::RecordingOutput>();
}

void ScriptedCapture::startCapture(platform::ErrorCompletion completion) {
  reply(
      startReply, [completion = std::move(completion), error = startError] { completion(error); },
      heldStart_);
  ++startCalls;  // after a held completion is in place, for tests that wait on the count
}

void ScriptedCapture::stopCapture(platform::ErrorCompletion completion) {
  reply(
      stopReply,
      [this, completion = std::move(completion), error = stopError] {
        if (finishOnStop == FinishOnStop::beforeStopCompletes) endRecordingAsScripted();
        completion(error);
        if (finishOnStop != FinishOnStop::beforeStopCompletes) endRecordingAsScripted();
      },
      heldStop_);
  ++stopCalls;
}

void ScriptedCapture::endRecordingAsScripted() {
  switch (finishOnStop) {
    case FinishOnStop::beforeStopCompletes:
    case FinishOnStop::afterStopCompletes:
      recordingFinishes();
      break;
    case FinishOnStop::fail:
      recordingFails(failureOnStop.value_or(scriptedError(-50, "Recording")));
      break;
    case FinishOnStop::never:
      break;
  }
}

void ScriptedCapture::completeContent() {
  std::exchange(heldContent_, nullptr)();
}
void ScriptedCapture::completeStart() {
  std::exchange(heldStart_, nullptr)();
}
void ScriptedCapture::completeStop() {
  std::exchange(heldStop_, nullptr)();
}

void ScriptedCapture::deliverSamples(StreamOutputType type, const ScriptedSampleBuffer& buffer) {
  const AddedOutput* target = outputs.empty() ? nullptr : &outputs.front();
  for (const AddedOutput& output : outputs) {
    if (output.type == type) target = &output;
  }
  if (target == nullptr) return;
  target->queue->post([output = target->output, type, &buffer] {
    if (auto receiver = output.lock()) receiver->streamDidOutputSampleBuffer(buffer, type);
  });
  drain(*target->queue);
}

std::shared_ptr<platform::StreamDelegate> ScriptedCapture::streamDelegate() {
  std::lock_guard guard(delegatesLock_);
  return streamDelegate_.lock();
}

std::shared_ptr<platform::RecordingOutputDelegate> ScriptedCapture::recordingDelegate() {
  std::lock_guard guard(delegatesLock_);
  return recordingDelegate_.lock();
}

void ScriptedCapture::streamStopsWithError(const PlatformError& error) {
  if (auto delegate = streamDelegate()) delegate->streamDidStopWithError(error);
}

void ScriptedCapture::recordingFinishes() {
  if (auto delegate = recordingDelegate()) delegate->recordingOutputDidFinishRecording();
}

void ScriptedCapture::recordingFails(const PlatformError& error) {
  if (auto delegate = recordingDelegate()) delegate->recordingOutputDidFailWithError(error);
}

// --- timers and dispatch ---------------------------------------------------------------------

void ManualTimer::schedule(std::chrono::nanoseconds firstDelay, std::chrono::nanoseconds interval) {
  firstDelay_ = firstDelay;
  interval_ = interval;
}

void ManualTimer::setEventHandler(platform::Work handler) {
  handler_ = std::move(handler);
  handlerBeforeActivation_ = !active_;
}

void ManualTimer::fire() {
  if (!active_ || cancelled_) return;
  queue_->post(handler_);
  drain(*queue_);
}

namespace {

// The session owns its timer alone; the test keeps a view of it to fire it.
class TimerHandle final : public platform::RepeatingTimer {
 public:
  explicit TimerHandle(std::shared_ptr<ManualTimer> timer) : timer_(std::move(timer)) {}
  void schedule(std::chrono::nanoseconds first, std::chrono::nanoseconds interval) override {
    timer_->schedule(first, interval);
  }
  void setEventHandler(platform::Work handler) override {
    timer_->setEventHandler(std::move(handler));
  }
  void activate() override { timer_->activate(); }
  void cancel() override { timer_->cancel(); }

 private:
  std::shared_ptr<ManualTimer> timer_;
};

}  // namespace

std::shared_ptr<platform::Queue> ScriptedDispatch::makeSerialQueue(const std::string& label) {
  queueLabels.push_back(label);
  return posix_.makeSerialQueue(label);
}

std::unique_ptr<platform::RepeatingTimer> ScriptedDispatch::makeRepeatingTimer(
    std::shared_ptr<platform::Queue> queue) {
  timers.push_back(std::make_shared<ManualTimer>(std::move(queue)));
  return std::make_unique<TimerHandle>(timers.back());
}

void ScriptedDispatch::runAfter(std::chrono::nanoseconds delay, platform::Work work) {
  requestedDelays.push_back(delay);
  const auto scaled = std::chrono::duration_cast<std::chrono::nanoseconds>(delay * delayScale);
  posix_.runAfter(scaled, std::move(work));
  ++delaysScheduled;
}

}  // namespace test_support
