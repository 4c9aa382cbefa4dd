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

void ScriptedCapture::reply(Completion which, std::function<void()> answer) {
  if (!held.contains(which)) return answer();
  std::lock_guard guard(lock_);
  waiting_[which] = std::move(answer);
  heldChanged_.notify_all();
}

bool ScriptedCapture::awaitHeld(Completion which) {
  std::unique_lock guard(lock_);
  return heldChanged_.wait_for(guard, std::chrono::seconds(10),
                               [&] { return waiting_.contains(which); });
}

void ScriptedCapture::complete(Completion which) {
  if (!awaitHeld(which)) return;
  std::function<void()> answer;
  {
    std::lock_guard guard(lock_);
    answer = std::move(waiting_[which]);
    waiting_.erase(which);
  }
  answer();
}

void ScriptedCapture::getShareableContent(bool, bool, platform::ContentCompletion completion) {
  reply(Completion::content, [completion = std::move(completion), content = content,
                              error = contentError] { completion(content, error); });
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

// The double is its own stream, which lives as long as every session made over it.
std::shared_ptr<platform::Stream> ScriptedCapture::makeStream(
    std::shared_ptr<platform::ContentFilter>, const platform::StreamConfiguration& configuration,
    std::weak_ptr<platform::StreamDelegate> delegate) {
  this->configuration = configuration;
  std::lock_guard guard(lock_);
  streamDelegate_ = std::move(delegate);
  return std::shared_ptr<platform::Stream>(std::shared_ptr<void>(), this);
}

void ScriptedCapture::addStreamOutput(std::weak_ptr<platform::StreamOutput> output,
                                      StreamOutputType type,
                                      std::shared_ptr<platform::Queue> queue) {
  if (auto refusal = refusedOutputs.find(type); refusal != refusedOutputs.end()) {
    throw refusal->second;
  }
  outputs.push_back({type, std::move(output), std::move(queue)});
}

void ScriptedCapture::addRecordingOutput(std::shared_ptr<platform::RecordingOutput>) {
  if (recordingOutputRefusal) throw *recordingOutputRefusal;
}

std::shared_ptr<platform::RecordingOutput> ScriptedCapture::makeRecordingOutput(
    const platform::RecordingOutputConfiguration& configuration,
    std::weak_ptr<platform::RecordingOutputDelegate> delegate) {
  recordingConfiguration = configuration;
  std::lock_guard guard(lock_);
  recordingDelegate_ = std::move(delegate);
  return std::make_shared<platform::RecordingOutput>();
}

// A successful start begins the file, which the recording output reports at once.
void ScriptedCapture::startCapture(platform::ErrorCompletion completion) {
  if (!startError) {
    recording_ = true;
    if (auto delegate = locked(recordingDelegate_)) delegate->recordingOutputDidStartRecording();
  }
  reply(Completion::start,
        [completion = std::move(completion), error = startError] { completion(error); });
}

void ScriptedCapture::stopCapture(platform::ErrorCompletion completion) {
  reply(Completion::stop, [this, completion = std::move(completion), error = stopError] {
    if (finishOnStop == FinishOnStop::beforeStopCompletes) endRecordingAsScripted();
    completion(error);
    if (finishOnStop != FinishOnStop::beforeStopCompletes) endRecordingAsScripted();
  });
}

void ScriptedCapture::removeOutputs() {
  if (recording_) outputsRemovedWhileRecording = true;
  ++outputRemovals;
}

void ScriptedCapture::endRecordingAsScripted() {
  if (finishOnStop == FinishOnStop::fail) {
    recordingFails(failureOnStop.value_or(scriptedError(-50, "Recording")));
  } else if (finishOnStop != FinishOnStop::never) {
    recordingFinishes();
  }
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

// --- timers and dispatch ---------------------------------------------------------------------

void ManualTimer::fire() {
  if (!active_) return;
  queue_->post(handler_);
  drain(*queue_);
}

// The session owns its timer alone; the test keeps a view of it to fire it.
class TimerHandle final : public platform::RepeatingTimer {
 public:
  explicit TimerHandle(std::shared_ptr<ManualTimer> timer) : timer_(std::move(timer)) {}
  void schedule(std::chrono::nanoseconds, std::chrono::nanoseconds) override {}
  void setEventHandler(platform::Work handler) override { timer_->handler_ = std::move(handler); }
  void activate() override { timer_->active_ = true; }
  void cancel() override { timer_->active_ = false; }

 private:
  std::shared_ptr<ManualTimer> timer_;
};

std::unique_ptr<platform::RepeatingTimer> ScriptedDispatch::makeRepeatingTimer(
    std::shared_ptr<platform::Queue> queue) {
  if (refuseTimers) throw std::system_error(EAGAIN, std::generic_category(), "timer");
  timers.push_back(std::make_shared<ManualTimer>(std::move(queue)));
  return std::make_unique<TimerHandle>(timers.back());
}

void ScriptedDispatch::runAfter(std::chrono::nanoseconds delay, platform::Work work) {
  if (refuseDelays) throw std::system_error(EAGAIN, std::generic_category(), "delayed work");
  requestedDelays.push_back(delay);
  const auto scaled = std::chrono::duration_cast<std::chrono::nanoseconds>(delay * delayScale);
  posix_.runAfter(scaled, std::move(work));
  ++delaysScheduled;
}

}  // namespace test_support
