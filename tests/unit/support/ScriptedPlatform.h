#pragma once

// A scripted stand-in for the platform services, for driving the capture session and the whole
// tool in-process through the same interfaces and callbacks the real platform uses.
//
//   ScriptedPlatform platform;
//   platform.capture.content = ScriptedCapture::contentWith(2, {getpid()});  // what is listed
//   platform.capture.refusedOutputs[StreamOutputType::microphone] = someError;
//   platform.capture.startError = someError;
//   platform.capture.finishOnStop = FinishOnStop::beforeStopCompletes;   // or never, fail
//   platform.capture.held = {Completion::stop};  // answered late, by the test:
//   ... run the session or the tool on platform.dispatch().mainQueue() ...
//   platform.capture.complete(Completion::stop);                   // from a thread of the test
//   platform.capture.deliverSamples(StreamOutputType::audio, buffer);    // on the sample queue
//   platform.capture.recordingFinishes();  streamStopsWithError(e);  recordingFails(e);
//   platform.capture.sourceIsLost(StreamOutputType::microphone, e);  sourceIsRestored(type, 1.5);
//   platform.scriptedDispatch.timers[0]->fire();                         // a level tick
//   platform.disk.set({{movieBytes, availableBytes}});  timers[1]->fire();  // a disk reading
//   platform.scriptedDispatch.refuseTimers = true;             // no timer can be made
//
// It records what the session asked for: the filter, the configuration, the outputs and their
// queues, the recording configuration, the outputs' removal and the time-outs.

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <vector>

#include "ScriptedSampleBuffer.h"
#include "platform/PlatformServices.h"
#include "platform/posix/PosixDispatch.h"

namespace test_support {

platform::PlatformError scriptedError(std::int64_t code, const std::string& domain = "Scripted");

// The service's calls that answer through a completion.
enum class Completion { content, start, stop };

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

class ScriptedCapture final : public platform::ScreenCaptureService, public platform::Stream {
 public:
  static platform::ShareableContent contentWith(int displayCount,
                                                const std::vector<std::int32_t>& processIDs);

  // --- knobs, set before the run ---
  std::optional<platform::ShareableContent> content = contentWith(1, {});
  std::optional<platform::PlatformError> contentError;
  std::map<platform::StreamOutputType, platform::PlatformError> refusedOutputs;
  std::optional<platform::PlatformError> recordingOutputRefusal;
  std::optional<platform::PlatformError> startError;
  std::optional<platform::PlatformError> stopError;
  FinishOnStop finishOnStop = FinishOnStop::afterStopCompletes;
  std::optional<platform::PlatformError> failureOnStop;  // with FinishOnStop::fail
  std::set<Completion> held;  // answered only by complete(); the others at once

  // --- what was asked ---
  std::shared_ptr<ScriptedFilter> filter;
  std::optional<platform::StreamConfiguration> configuration;
  std::vector<AddedOutput> outputs;
  std::optional<platform::RecordingOutputConfiguration> recordingConfiguration;
  std::atomic<int> outputRemovals{0};
  // Whether a removal came between a successful start and the file's end or failure.
  std::atomic<bool> outputsRemovedWhileRecording{false};

  // --- events the test makes happen, as the service would ---
  // Whether the session called for `which` (held) within ten seconds; a fault that never calls
  // fails the test instead of hanging it.
  bool awaitHeld(Completion which);
  // Answers `which` on the calling thread once it is held.
  void complete(Completion which);
  // Posts the buffer to the queue of the output registered for `type` (or, for a type nobody
  // registered, of the first output) and waits until the session has handled it.
  void deliverSamples(platform::StreamOutputType type, const ScriptedSampleBuffer& buffer);
  void streamStopsWithError(const platform::PlatformError& error) {
    if (auto delegate = locked(streamDelegate_)) delegate->streamDidStopWithError(error);
  }
  void recordingFinishes() {
    recording_ = false;
    if (auto delegate = locked(recordingDelegate_)) delegate->recordingOutputDidFinishRecording();
  }
  void recordingFails(const platform::PlatformError& error) {
    recording_ = false;
    if (auto delegate = locked(recordingDelegate_))
      delegate->recordingOutputDidFailWithError(error);
  }
  void sourceIsLost(platform::StreamOutputType source, const platform::PlatformError& error) {
    if (auto delegate = locked(streamDelegate_)) delegate->streamSourceWasLost(source, error);
  }
  void sourceIsRestored(platform::StreamOutputType source, double gapSeconds) {
    if (auto delegate = locked(streamDelegate_))
      delegate->streamSourceWasRestored(source, gapSeconds);
  }
  void sourceDropsAudio(platform::StreamOutputType source, double droppedSeconds) {
    if (auto delegate = locked(streamDelegate_))
      delegate->streamSourceDidDropAudio(source, droppedSeconds);
  }
  void soundPlaysUnrecorded(const std::optional<std::string>& outputName) {
    if (auto delegate = locked(streamDelegate_)) delegate->streamSoundPlaysUnrecorded(outputName);
  }
  void outputIsMuted(const std::optional<std::string>& outputName) {
    if (auto delegate = locked(streamDelegate_)) delegate->streamOutputMuted(outputName);
  }

  // --- the service and its stream ---
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

  void addStreamOutput(std::weak_ptr<platform::StreamOutput> output,
                       platform::StreamOutputType type,
                       std::shared_ptr<platform::Queue> queue) override;
  void addRecordingOutput(std::shared_ptr<platform::RecordingOutput> output) override;
  void startCapture(platform::ErrorCompletion completion) override;
  void stopCapture(platform::ErrorCompletion completion) override;
  void removeOutputs() override;

 private:
  void reply(Completion which, std::function<void()> answer);
  void endRecordingAsScripted();
  template <typename Delegate>
  std::shared_ptr<Delegate> locked(const std::weak_ptr<Delegate>& delegate) {
    std::lock_guard guard(lock_);
    return delegate.lock();
  }

  std::mutex lock_;  // tests answer and fire events from threads of their own
  std::condition_variable heldChanged_;
  std::map<Completion, std::function<void()>> waiting_;                 // guarded by lock_
  std::weak_ptr<platform::StreamDelegate> streamDelegate_;              // guarded by lock_
  std::weak_ptr<platform::RecordingOutputDelegate> recordingDelegate_;  // guarded by lock_
  std::atomic<bool> recording_{false};  // from a successful start to the file's end
};

class ScriptedAudioDevices final : public platform::AudioDeviceDiscovery {
 public:
  std::vector<platform::AudioCaptureDevice> devices;
  std::optional<platform::AudioCaptureDevice> defaultDevice;

  std::vector<platform::AudioCaptureDevice> microphones() override { return devices; }
  std::optional<platform::AudioCaptureDevice> defaultAudioDevice() override {
    return defaultDevice;
  }
  std::exception_ptr listingError;  // thrown by a listing only
  platform::MicrophoneInventory listMicrophones() override {
    if (listingError) std::rethrow_exception(listingError);
    return {devices, defaultDevice};
  }
};

// A file's size and the space left, as the test sets them; none: the storage cannot be read.
class ScriptedStorage final : public platform::StorageSpace {
 public:
  void set(std::optional<platform::StorageReading> reading) {
    std::lock_guard guard(lock_);
    reading_ = reading;
  }
  // `file` then reads as this size, with the space of set()'s reading.
  void setFileBytes(const std::filesystem::path& file, std::uint64_t bytes) {
    std::lock_guard guard(lock_);
    fileBytes_[file] = bytes;
  }
  std::optional<platform::StorageReading> read(const std::filesystem::path& file) override {
    std::lock_guard guard(lock_);
    std::optional<platform::StorageReading> reading = reading_;
    if (const auto own = fileBytes_.find(file); reading && own != fileBytes_.end()) {
      reading->fileBytes = own->second;
    }
    return reading;
  }
  // How a flush ends; `fails` fails the next one only, as a system tells a write error once;
  // `hangs` blocks the disk queue until release().
  enum class Flush { succeeds, fails, hangs };
  void setFlush(Flush flush) {
    std::lock_guard guard(lock_);
    flush_ = flush;
  }
  // Ends a hung flush and waits until it has left this object.
  void release() {
    std::unique_lock guard(lock_);
    released_ = true;
    changed_.notify_all();
    changed_.wait(guard, [&] { return hung_ == 0; });
  }
  bool flush(const std::filesystem::path& file) override {
    std::unique_lock guard(lock_);
    flushed_.push_back(file);
    if (flush_ == Flush::hangs) {
      ++hung_;
      changed_.wait(guard, [&] { return released_; });
      --hung_;
      changed_.notify_all();
    }
    if (flush_ != Flush::fails) return flush_ == Flush::succeeds;
    flush_ = Flush::succeeds;
    return false;
  }
  std::vector<std::filesystem::path> flushed() {
    std::lock_guard guard(lock_);
    return flushed_;
  }

 private:
  std::mutex lock_;  // read and flushed on the session's disk queue
  std::condition_variable changed_;
  std::optional<platform::StorageReading> reading_;           // guarded by lock_
  std::map<std::filesystem::path, std::uint64_t> fileBytes_;  // guarded by lock_
  Flush flush_ = Flush::succeeds;                             // guarded by lock_
  bool released_ = false;                                     // guarded by lock_
  int hung_ = 0;                                              // guarded by lock_
  std::vector<std::filesystem::path> flushed_;                // guarded by lock_
};

// A timer that fires only when the test says so, and only while active and not cancelled.
class ManualTimer {
 public:
  explicit ManualTimer(std::shared_ptr<platform::Queue> queue) : queue_(std::move(queue)) {}
  // Posts one firing to the timer's queue and waits until it has run.
  void fire();

 private:
  friend class TimerHandle;
  std::shared_ptr<platform::Queue> queue_;
  platform::Work handler_;            // set before activation
  std::atomic<bool> active_ = false;  // activated and not cancelled
};

// The portable dispatch service with manual timers and time-outs shortened by `delayScale`.
class ScriptedDispatch final : public platform::Dispatch {
 public:
  double delayScale = 1.0;
  // Queues, timers and delayed work then throw std::system_error, as when no thread can be made.
  bool refuseQueues = false;
  bool refuseTimers = false;
  std::atomic<bool> refuseDelays = false;                 // also while running
  std::vector<std::chrono::nanoseconds> requestedDelays;  // main queue only
  std::atomic<int> delaysScheduled = 0;                   // for other threads to wait on
  std::vector<std::shared_ptr<ManualTimer>> timers;

  platform::MainQueue& mainQueue() override { return posix_.mainQueue(); }
  std::shared_ptr<platform::Queue> makeSerialQueue(const std::string& label) override {
    if (refuseQueues) throw std::system_error(EAGAIN, std::generic_category(), label);
    return posix_.makeSerialQueue(label);
  }
  std::unique_ptr<platform::RepeatingTimer> makeRepeatingTimer(
      std::shared_ptr<platform::Queue> queue) override;
  void runAfter(std::chrono::nanoseconds delay, platform::Work work) override;
  std::unique_ptr<platform::SignalSource> makeInterruptSource(
      std::vector<int> signalNumbers) override {
    return posix_.makeInterruptSource(std::move(signalNumbers));
  }
  std::unique_ptr<platform::ParentExitSource> makeParentExitSource() override {
    return posix_.makeParentExitSource();
  }

 private:
  platform::posix::PosixDispatch posix_;
};

class ScriptedPlatform final : public platform::PlatformServices {
 public:
  // Destroyed last: work the capture double answered may still be queued on it.
  ScriptedDispatch scriptedDispatch;
  ScriptedCapture capture;
  ScriptedAudioDevices audio;
  ScriptedStorage disk;

  platform::ScreenCaptureService& screenCapture() override { return capture; }
  platform::AudioDeviceDiscovery& audioDevices() override { return audio; }
  platform::Dispatch& dispatch() override { return scriptedDispatch; }
  platform::StorageSpace& storage() override { return disk; }
};

// Waits until every item posted to `queue` so far has run.
void drain(platform::Queue& queue);

}  // namespace test_support
