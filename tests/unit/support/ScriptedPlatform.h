#pragma once

// A scripted stand-in for the platform services, for driving the capture session and the whole
// tool in-process through the same interfaces and callbacks the real platform uses.
//
//   ScriptedPlatform platform;
//   platform.capture.content = ScriptedCapture::contentWith(2, {getpid()});  // what is listed
//   platform.capture.refusedOutputs[StreamOutputType::microphone] = someError;
//   platform.capture.startReply = Reply::fromAnotherThread;              // or failing: startError
//   platform.capture.finishOnStop = FinishOnStop::beforeStopCompletes;   // or never, fail...
//   platform.audio.microphones = {{"id-1", "Desk Mic"}};
//   ... run the session or the tool on platform.dispatch().mainQueue() ...
//   platform.capture.deliverSamples(StreamOutputType::audio, buffer);    // on the sample queue
//   platform.capture.recordingFinishes();  streamStopsWithError(e);  recordingFails(e);
//   platform.timers.back()->fire();                                    // a level tick
//
// It records what the session asked for: content requests, the filter, the configuration, the
// outputs and their queues, the recording configuration, start and stop calls, time-outs asked.

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "ScriptedSampleBuffer.h"
#include "platform/PlatformServices.h"
#include "platform/posix/PosixDispatch.h"

namespace test_support {

platform::PlatformError scriptedError(std::int64_t code, const std::string& domain = "Scripted");

// How the service answers a call with a completion.
enum class Reply {
  immediately,        // on the calling thread, before the call returns
  fromAnotherThread,  // a little later, from a thread of the double's own
  never,              // held until the test calls the matching complete...() method
};

// What the recording output does when the stream is stopped.
enum class FinishOnStop { beforeStopCompletes, afterStopCompletes, never, fail };

struct ScriptedDisplay final : platform::Display {
  explicit ScriptedDisplay(int index) : index(index) {}
  int index;
};

struct ScriptedApplication final : platform::RunningApplication {
  explicit ScriptedApplication(std::int32_t pid) : pid(pid) {}
  std::int32_t processID() const override { return pid; }
  std::int32_t pid;
};

struct ScriptedFilter final : platform::ContentFilter {
  std::shared_ptr<const platform::Display> display;
  std::vector<std::int32_t> excludedProcessIDs;
};

struct AddedOutput {
  platform::StreamOutputType type;
  std::weak_ptr<platform::StreamOutput> output;
  std::shared_ptr<platform::Queue> queue;
};

class ScriptedCapture final : public platform::ScreenCaptureService {
 public:
  ~ScriptedCapture() override;

  static platform::ShareableContent contentWith(int displayCount,
                                                const std::vector<std::int32_t>& processIDs);

  // --- knobs ---
  std::optional<platform::ShareableContent> content = contentWith(1, {});
  std::optional<platform::PlatformError> contentError;
  Reply contentReply = Reply::immediately;
  std::map<platform::StreamOutputType, platform::PlatformError> refusedOutputs;
  std::optional<platform::PlatformError> recordingOutputRefusal;
  std::optional<platform::PlatformError> startError;
  Reply startReply = Reply::immediately;
  std::optional<platform::PlatformError> stopError;
  Reply stopReply = Reply::immediately;
  FinishOnStop finishOnStop = FinishOnStop::afterStopCompletes;
  std::optional<platform::PlatformError> failureOnStop;  // with FinishOnStop::fail

  // --- what was asked ---
  std::atomic<int> contentRequests = 0;
  std::vector<std::pair<bool, bool>> contentArguments;
  std::shared_ptr<ScriptedFilter> filter;
  std::optional<platform::StreamConfiguration> configuration;
  std::vector<AddedOutput> outputs;
  std::optional<platform::RecordingOutputConfiguration> recordingConfiguration;
  bool recordingOutputAdded = false;
  std::atomic<int> startCalls = 0;
  std::atomic<int> stopCalls = 0;

  // --- events the test makes happen, as the service would ---
  void completeContent();
  void completeStart();
  void completeStop();
  // Posts the buffer to the queue of the output registered for `type` (or, for a type nobody
  // registered, of the first output) and waits until the session has handled it.
  void deliverSamples(platform::StreamOutputType type, const ScriptedSampleBuffer& buffer);
  void streamStopsWithError(const platform::PlatformError& error);
  void recordingFinishes();
  void recordingFails(const platform::PlatformError& error);

  // --- the service ---
  std::string errorTypeName() const override { return "ScriptedError"; }
  void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                           platform::ContentCompletion completion) override;
  std::shared_ptr<platform::ContentFilter> makeContentFilter(
      std::shared_ptr<const platform::Display> display,
      std::vector<std::shared_ptr<const platform::RunningApplication>> excludingApplications)
      override;
  std::shared_ptr<platform::Stream> makeStream(
      std::shared_ptr<platform::ContentFilter> filter,
      const platform::StreamConfiguration& configuration,
      std::weak_ptr<platform::StreamDelegate> delegate) override;
  std::shared_ptr<platform::RecordingOutput> makeRecordingOutput(
      const platform::RecordingOutputConfiguration& configuration,
      std::weak_ptr<platform::RecordingOutputDelegate> delegate) override;

 private:
  class ScriptedStream;
  friend class ScriptedStream;

  void reply(Reply mode, std::function<void()> answer, std::function<void()>& held);
  void startCapture(platform::ErrorCompletion completion);
  void stopCapture(platform::ErrorCompletion completion);
  void endRecordingAsScripted();
  std::shared_ptr<platform::StreamDelegate> streamDelegate();
  std::shared_ptr<platform::RecordingOutputDelegate> recordingDelegate();

  std::mutex delegatesLock_;  // tests fire delegate events from threads of their own
  std::weak_ptr<platform::StreamDelegate> streamDelegate_;              // guarded by delegatesLock_
  std::weak_ptr<platform::RecordingOutputDelegate> recordingDelegate_;  // guarded by delegatesLock_
  std::function<void()> heldContent_;
  std::function<void()> heldStart_;
  std::function<void()> heldStop_;
  std::mutex threadsLock_;
  std::vector<std::thread> threads_;  // guarded by threadsLock_; joined on destruction
};

class ScriptedAudioDevices final : public platform::AudioDeviceDiscovery {
 public:
  std::vector<platform::AudioCaptureDevice> devices;
  std::optional<platform::AudioCaptureDevice> defaultDevice;
  int discoveries = 0;
  int defaultRequests = 0;

  std::vector<platform::AudioCaptureDevice> microphones() override {
    ++discoveries;
    return devices;
  }
  std::optional<platform::AudioCaptureDevice> defaultAudioDevice() override {
    ++defaultRequests;
    return defaultDevice;
  }
};

// A timer that fires only when the test says so.
class ManualTimer final : public platform::RepeatingTimer {
 public:
  explicit ManualTimer(std::shared_ptr<platform::Queue> queue) : queue_(std::move(queue)) {}
  void schedule(std::chrono::nanoseconds firstDelay, std::chrono::nanoseconds interval) override;
  void setEventHandler(platform::Work handler) override;
  void activate() override { active_ = true; }
  void cancel() override { cancelled_ = true; }

  // Posts one firing to the timer's queue and waits until it has run.
  void fire();
  bool active() const { return active_; }
  bool cancelled() const { return cancelled_; }
  std::chrono::nanoseconds firstDelay() const { return firstDelay_; }
  std::chrono::nanoseconds interval() const { return interval_; }
  bool handlerSetBeforeActivation() const { return handlerBeforeActivation_; }
  const std::shared_ptr<platform::Queue>& queue() const { return queue_; }

 private:
  std::shared_ptr<platform::Queue> queue_;
  platform::Work handler_;
  std::chrono::nanoseconds firstDelay_{};
  std::chrono::nanoseconds interval_{};
  std::atomic<bool> active_ = false;
  std::atomic<bool> cancelled_ = false;
  bool handlerBeforeActivation_ = false;
};

// The portable dispatch service with manual timers and time-outs shortened by `delayScale`.
class ScriptedDispatch final : public platform::Dispatch {
 public:
  double delayScale = 1.0;
  std::vector<std::chrono::nanoseconds> requestedDelays;  // main queue only
  std::atomic<int> delaysScheduled = 0;                   // for other threads to wait on
  std::vector<std::shared_ptr<ManualTimer>> timers;
  std::vector<std::string> queueLabels;

  platform::MainQueue& mainQueue() override { return posix_.mainQueue(); }
  std::shared_ptr<platform::Queue> makeSerialQueue(const std::string& label) override;
  std::unique_ptr<platform::RepeatingTimer> makeRepeatingTimer(
      std::shared_ptr<platform::Queue> queue) override;
  void runAfter(std::chrono::nanoseconds delay, platform::Work work) override;
  std::unique_ptr<platform::SignalSource> makeInterruptSource() override {
    return posix_.makeInterruptSource();
  }
  std::unique_ptr<platform::ParentExitSource> makeParentExitSource() override {
    return posix_.makeParentExitSource();
  }

 private:
  platform::posix::PosixDispatch posix_;
};

class ScriptedPlatform final : public platform::PlatformServices {
 public:
  // Destroyed last: the capture double's threads may still complete onto the main queue.
  ScriptedDispatch scriptedDispatch;
  ScriptedCapture capture;
  ScriptedAudioDevices audio;

  platform::ScreenCaptureService& screenCapture() override { return capture; }
  platform::AudioDeviceDiscovery& audioDevices() override { return audio; }
  platform::Dispatch& dispatch() override { return scriptedDispatch; }
};

// Waits until every item posted to `queue` so far has run.
void drain(platform::Queue& queue);

}  // namespace test_support
