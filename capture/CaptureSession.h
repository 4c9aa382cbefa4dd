#pragma once

#include <array>
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "capture/AudioStatistics.h"
#include "capture/DiskSpaceWatch.h"
#include "capture/FileIdentity.h"
#include "capture/PcmStreams.h"
#include "capture/SilenceWatch.h"
#include "events/EventRecord.h"
#include "events/EventSink.h"
#include "platform/OneShotWaiter.h"
#include "platform/PlatformServices.h"
#include "platform/Task.h"

namespace capture {

// Records the system audio of the first display, and optionally one microphone, into a movie
// file through the platform's screen-capture service, and meters both sources.
//
// Lifecycle: create → start() → (samples and a level record every second) → stop() → final
// record. The run driver owns the session and calls start() once and, after it succeeded, stop()
// once; both run on the main queue and continue there after every service completion.
// Threads: sample buffers run where the platform delivers them (see StreamOutput), level ticks
// on `sampleQueue_`; the delegate callbacks on
// service threads; the finish time-out on the shared background queue. Callbacks that can
// outlive the session (level ticks, the time-out) hold it weakly; the service holds its
// delegates weakly. Records go to the sink the session is made with; the warnings of a running
// recording go out on `sampleQueue_`, in order with the level records, until the stop has
// decided its outcome. The disk watch reads the storage and checks and flushes the movie and the
// sources' own files while recording, and the stop flushes them too, on a queue of their own, as
// any may block.
class CaptureSession final : public platform::StreamOutput,
                             public platform::StreamDelegate,
                             public platform::RecordingOutputDelegate,
                             public std::enable_shared_from_this<CaptureSession> {
 public:
  // Makes no platform request, creates no timer and prints nothing.
  static std::shared_ptr<CaptureSession> create(platform::PlatformServices& platform,
                                                events::EventSink& events,
                                                std::filesystem::path outputURL,
                                                bool captureMicrophone,
                                                std::optional<std::string> microphoneName,
                                                PcmPaths pcmPaths = {});

  // Starts capture, the level timer and the disk watch; throws the failing step's error. A relative
  // output path (the current directory was unknown) fails before the platform is asked anything.
  platform::Task<void> start();

  struct MicrophoneChoice {
    std::optional<platform::AudioCaptureDevice> device;
    bool byName = false;  // found by the name given, not the default
  };
  // The microphone named on the command line, else the platform's default. Prints the
  // "microphone_fallback" warning when a name was given and matched nothing.
  MicrophoneChoice microphoneDevice();

  // The microphone the stream records, as chosen by start(); none without a microphone or when
  // the platform had no device to give. Main queue only.
  const std::optional<platform::AudioCaptureDevice>& recordedMicrophone() const {
    return recordedMicrophone_;
  }

  // Stops the level timer and the stream, waits for the file, flushes it to its storage, and
  // yields the "final" record; throws the stored failure, the tool's "not finished" error, its
  // "movie gone" error when the output path no longer names the file that was started, or its
  // "not on storage" error. Not to be run twice at once.
  platform::Task<events::EventRecord> stop();

  // Whether the recording output reported the file's end within `seconds`.
  platform::Task<bool> waitForRecordingFinish(double seconds);
  void resumeFinishWaiter(bool finished);

  // Runs where StreamOutput says; touches only the accumulators and the per-source streams,
  // under their locks.
  void streamDidOutputSampleBuffer(const platform::SampleBuffer& sampleBuffer,
                                   platform::StreamOutputType type) override;
  // These run on service threads.
  void streamDidStopWithError(const platform::PlatformError& error) override;
  void streamSourceWasLost(platform::StreamOutputType source,
                           const platform::PlatformError& error) override;
  void streamSourceWasRestored(platform::StreamOutputType source, double gapSeconds) override;
  void streamSourceDidDropAudio(platform::StreamOutputType source, double droppedSeconds) override;
  void streamSoundPlaysUnrecorded(const std::optional<std::string>& outputName) override;
  void streamOutputMuted(const std::optional<std::string>& outputName) override;
  void recordingOutputDidStartRecording() override;
  void recordingOutputDidFinishRecording() override;
  void recordingOutputDidFailWithError(const platform::PlatformError& error) override;
  void recordingOutputDidStallWriting() override;
  void recordingOutputDidResumeWriting(double stalledSeconds) override;

  struct ConstructionKey {
   private:
    ConstructionKey() = default;
    friend class CaptureSession;
  };
  CaptureSession(ConstructionKey, platform::PlatformServices& platform, events::EventSink& events,
                 std::filesystem::path outputURL, bool captureMicrophone,
                 std::optional<std::string> microphoneName, PcmPaths pcmPaths);

 private:
  platform::StreamConfiguration streamConfiguration();
  void openPcmStreams();
  // The microphone's own stream path; none when the microphone is not recorded.
  std::optional<std::filesystem::path> microphonePcmPath() const;
  void startLevelTimer();
  void emitLevel();
  void startDiskWatch();
  // The recording's files on one file system, with the space left there. `sourceFile` names the
  // first source's own file of a file system that is not the movie's.
  struct DiskUse {
    platform::StorageReading reading;
    std::optional<std::uint64_t> device;
    std::optional<std::filesystem::path> sourceFile;
  };
  std::vector<DiskUse> readRecordingDisks();
  void checkDiskSpace();
  void checkMovieAtItsPath();
  void flushWhileRecording();
  // The system's own file, then the microphone's; none where there is none.
  std::array<std::optional<std::filesystem::path>, 2> sourceFiles() const;
  // Disk queue: each source's own file on its storage, as the movie; told once for each that
  // could not be.
  void flushSourceFiles();
  // At the stop, after the streams' end and before the warnings close; bounded as the movie's.
  platform::Task<void> flushSourceFilesAtStop();
  void watchMicrophoneSilence(const AddedSamples& added, const platform::SampleLayout& layout);
  void countMicrophoneSilence(std::chrono::nanoseconds length, double peak);
  // Any thread: sends a warning unless the stop has decided; never waits.
  void warn(events::EventRecord record);
  // Ends the warnings, once every one sent before is out and no level tick is running.
  platform::Task<void> closeWarnings();
  void finishWaitTimedOut();
  // Who reports a failure; see storeFailure() for what that decides.
  enum class FailureReport { callback, stopCompletion };
  void storeFailure(const platform::PlatformError& error, FailureReport report);
  std::optional<platform::PlatformError> storedFailure();
  bool movieGone();
  // The movie's error when the system could not flush it to its storage.
  platform::Task<std::optional<platform::PlatformError>> flushMovie();
  // What a flush of the movie that failed, or did not end in time, gives.
  platform::PlatformError notOnStorageError() const;
  bool isCaptured(platform::StreamOutputType source) const;
  void reportSourceLost(platform::StreamOutputType source, const platform::PlatformError& error);
  // Whether `now` differs from what `told` holds, which it then holds; under sourceLock_.
  bool changedFromTold(std::optional<std::string>& told, const std::optional<std::string>& now);

  platform::PlatformServices& platform_;  // outlives the session
  events::EventSink& events_;             // outlives the session
  // A path, absolute once start() has checked it; named after the recording output's URL field.
  const std::filesystem::path outputURL_;
  const bool captureMicrophone_;
  const std::optional<std::string> microphoneName_;
  const PcmPaths pcmPaths_;
  AudioStatistics systemStats_;      // own lock
  AudioStatistics microphoneStats_;  // own lock
  const std::shared_ptr<platform::Queue> sampleQueue_;
  std::shared_ptr<platform::Stream> stream_;                    // main queue only
  std::shared_ptr<platform::RecordingOutput> recordingOutput_;  // main queue only
  std::unique_ptr<platform::RepeatingTimer> levelTimer_;        // main queue only
  bool warningsClosed_ = false;                                 // sample queue only

  // Made by start(); main queue only. Reads the disk's space and flushes the movie, while
  // recording and at the stop.
  std::shared_ptr<platform::Queue> diskQueue_;
  std::unique_ptr<platform::RepeatingTimer> diskTimer_;  // main queue only
  // One for each file system the recording fills, by the file it is told by (none: the movie);
  // disk queue only.
  std::map<std::optional<std::filesystem::path>, DiskSpaceWatch> diskSpace_;
  bool movieToldGone_ = false;  // disk queue only
  int readingsSinceFlush_ = 0;  // disk queue only
  bool flushFailed_ = false;    // disk queue only
  // Set on the disk queue; read by the stop when the disk queue did not answer in time.
  std::array<std::atomic<bool>, 2> sourceFlushFailed_{};  // system, microphone

  // Fed by the microphone's sample path and by the level tick, which counts the seconds it
  // delivered nothing; never held while calling out.
  std::mutex silenceLock_;
  SilenceWatch microphoneSilence_;         // under silenceLock_
  std::uint64_t seenMicrophoneEpoch_ = 0;  // under silenceLock_
  // Counts the microphone's losses and recoveries, odd while it is lost; changed under
  // sourceLock_, read by the silence watch.
  std::atomic<std::uint64_t> microphoneEpoch_ = 0;

  // Set by start() before capture starts, and only read after that; none without a path.
  std::unique_ptr<PcmStreams> pcm_;

  std::optional<platform::AudioCaptureDevice> recordedMicrophone_;  // main queue only

  std::mutex finishLock_;
  std::optional<platform::PlatformError> recordingFailure_;  // guarded by finishLock_
  // Guarded by finishLock_. True once the recording output ended, whether it finished or failed
  // (the failure is in recordingFailure_): the wait for the end is over either way.
  bool recordingFinished_ = false;
  std::optional<platform::OneShotWaiter<>> finishWaiter_;  // guarded by finishLock_
  // The file the output path named when the recording output began it; nullopt when it named
  // none then (a platform that creates it later), which leaves nothing to compare at the stop.
  std::optional<FileIdentity> startedMovie_;  // guarded by finishLock_

  std::mutex sourceLock_;
  // Reported lost and not restored since; guarded by sourceLock_.
  std::set<platform::StreamOutputType> lostSources_;
  // The outputs last told as playing unrecorded sound, and as muted; guarded by sourceLock_.
  std::optional<std::string> unrecordedOutput_;
  std::optional<std::string> mutedOutput_;
};

}  // namespace capture
