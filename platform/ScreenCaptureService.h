#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Dispatch.h"
#include "platform/PlatformError.h"
#include "platform/SampleBuffer.h"

namespace platform {

// The screen-capture service: what the tool calls and implements of ScreenCaptureKit on macOS and
// of its GStreamer counterpart on Linux. Objects the service hands out are opaque to the core.
//
// Threads: completions and delegate callbacks arrive on threads of the service's choosing, except
// sample buffers (see StreamOutput). Every completion is called exactly once. Delegates are held
// weakly: the service never keeps them alive.

class Display {
 public:
  virtual ~Display() = default;
};

class RunningApplication {
 public:
  virtual ~RunningApplication() = default;
  virtual std::int32_t processID() const = 0;
};

struct ShareableContent {
  std::vector<std::shared_ptr<const Display>> displays;  // in the platform's order
  std::vector<std::shared_ptr<const RunningApplication>> applications;
};

class ContentFilter {
 public:
  virtual ~ContentFilter() = default;
};

// A time of value/timescale seconds, epoch 0.
struct MediaTime {
  std::int64_t value = 0;
  std::int32_t timescale = 0;
  friend bool operator==(const MediaTime&, const MediaTime&) = default;
};

// The values the tool sets on a stream configuration; every other property keeps the platform's
// default. Fields are in the order in which they are applied.
struct StreamConfiguration {
  std::int64_t width = 0;
  std::int64_t height = 0;
  MediaTime minimumFrameInterval;
  std::int64_t queueDepth = 0;
  bool showsCursor = false;
  bool capturesAudio = false;
  std::int64_t sampleRate = 0;
  std::int64_t channelCount = 0;
  bool excludesCurrentProcessAudio = false;
  bool captureMicrophone = false;
  std::optional<std::string> microphoneCaptureDeviceID;
  // The microphone was chosen by its name: it stays on that device, while one chosen as the
  // default input may follow the default where the platform does (Linux).
  bool microphoneKeptOnDevice = false;
  friend bool operator==(const StreamConfiguration&, const StreamConfiguration&) = default;
};

// Raw values as the platform numbers them; any other value may arrive and must be ignored.
enum class StreamOutputType : std::int64_t { screen = 0, audio = 1, microphone = 2 };

enum class FileType { quickTimeMovie };
enum class VideoCodecType { h264 };

struct RecordingOutputConfiguration {
  // An absolute path, not a URL: the name is ScreenCaptureKit's, whose layer makes the URL.
  std::filesystem::path outputURL;
  FileType outputFileType = FileType::quickTimeMovie;
  VideoCodecType videoCodecType = VideoCodecType::h264;
  friend bool operator==(const RecordingOutputConfiguration&,
                         const RecordingOutputConfiguration&) = default;
};

class StreamOutput {
 public:
  virtual ~StreamOutput() = default;
  // Runs on the queue the output was added with or, where the platform can meter in place
  // (Linux), on its streaming thread; either way one buffer at a time per output type, while
  // buffers of the other type may be handled at the same time.
  virtual void streamDidOutputSampleBuffer(const SampleBuffer& sampleBuffer,
                                           StreamOutputType type) = 0;
};

class StreamDelegate {
 public:
  virtual ~StreamDelegate() = default;
  // Runs on a service thread: the stream stopped by itself with an error.
  virtual void streamDidStopWithError(const PlatformError& error) = 0;
  // Runs on a service thread: one source stopped delivering (its server, device or stream
  // failed) while the stream goes on; the movie's timeline goes on with silence.
  virtual void streamSourceWasLost(StreamOutputType source, const PlatformError& error) = 0;
  // Runs on a service thread: the source delivers again, after `gapSeconds` without.
  virtual void streamSourceWasRestored(StreamOutputType source, double gapSeconds) = 0;
  // Runs on a service thread: the platform dropped `droppedSeconds` of the source's audio that
  // the tool did not take in time (it stood still, or was starved, for longer than the platform
  // holds); the movie's timeline has silence there. Only a platform that can tell calls it; for
  // a lost source, before its restoration, since its gap covers the drop.
  virtual void streamSourceDidDropAudio(StreamOutputType source, double droppedSeconds) = 0;
  // Runs on a service thread: an application plays sound on an output that the system audio is
  // not recorded from (one set to another device than the default), `outputName` being that
  // output's display name; with none, nothing plays unrecorded any more. Only a platform that
  // records one output can tell; it may say none when nothing was told.
  virtual void streamSoundPlaysUnrecorded(const std::optional<std::string>& outputName) = 0;
  // Runs on a service thread: the output whose sound the system audio records, or the monitor
  // that records it, is muted or turned down so far that its sound reaches the recording
  // silenced, or as good as; `outputName` names the one that is, and with none, neither is any
  // more. Only a platform that records an output's sound after its volume calls it; it may say
  // none when nothing was told.
  virtual void streamOutputMuted(const std::optional<std::string>& outputName) = 0;
};

class RecordingOutputDelegate {
 public:
  virtual ~RecordingOutputDelegate() = default;
  // All run on service threads.
  virtual void recordingOutputDidStartRecording() = 0;
  // The file is complete.
  virtual void recordingOutputDidFinishRecording() = 0;
  virtual void recordingOutputDidFailWithError(const PlatformError& error) = 0;
  // A write of the file has not returned for seconds (a folder on a network that went away, a
  // pipe nobody reads); the recording goes on as long as the stream can hold what comes. Only a
  // platform that writes the file itself can tell.
  virtual void recordingOutputDidStallWriting() = 0;
  // The writes go on again, after `stalledSeconds` in all.
  virtual void recordingOutputDidResumeWriting(double stalledSeconds) = 0;
};

class RecordingOutput {
 public:
  virtual ~RecordingOutput() = default;
};

using ErrorCompletion = std::function<void(std::optional<PlatformError> error)>;
// Delivers content or an error; a faulty platform may deliver neither.
using ContentCompletion = std::function<void(std::optional<ShareableContent> content,
                                             std::optional<PlatformError> error)>;

// The owner sets a stream up (its outputs, one recording output among them) and starts it from
// one thread, in that order.
class Stream {
 public:
  virtual ~Stream() = default;
  // Throws PlatformError when the platform refuses.
  virtual void addStreamOutput(std::weak_ptr<StreamOutput> output, StreamOutputType type,
                               std::shared_ptr<Queue> sampleHandlerQueue) = 0;
  // Throws PlatformError when the platform refuses.
  virtual void addRecordingOutput(std::shared_ptr<RecordingOutput> recordingOutput) = 0;
  // From a successful completion on, the file is written and buffers flow.
  virtual void startCapture(ErrorCompletion completion) = 0;
  // After this, the recording output reports the file's end through its delegate, possibly
  // before the completion runs.
  virtual void stopCapture(ErrorCompletion completion) = 0;
  // Detaches every output added, so that the platform holds and calls none of them any more.
  // Only once the recording has ended (its file finished or failed) or never started: changing
  // outputs while recording stops the recording. A platform whose stop already takes its
  // outputs down with the pipeline (Linux) has nothing to do.
  virtual void removeOutputs() {}
};

class ScreenCaptureService {
 public:
  virtual ~ScreenCaptureService() = default;
  // The unqualified name of the platform's error type, which the tool's own errors carry too.
  virtual std::string errorTypeName() const = 0;
  // Success means capture is permitted.
  virtual void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                                   ContentCompletion completion) = 0;
  // A filter over one display without the listed applications and with no excepted windows.
  virtual std::shared_ptr<ContentFilter> makeContentFilter(
      std::shared_ptr<const Display> display,
      std::vector<std::shared_ptr<const RunningApplication>> excludingApplications) = 0;
  // Nothing runs before capture starts.
  virtual std::shared_ptr<Stream> makeStream(std::shared_ptr<ContentFilter> filter,
                                             const StreamConfiguration& configuration,
                                             std::weak_ptr<StreamDelegate> delegate) = 0;
  // Throws PlatformError when the platform cannot write this file or this kind of movie.
  virtual std::shared_ptr<RecordingOutput> makeRecordingOutput(
      const RecordingOutputConfiguration& configuration,
      std::weak_ptr<RecordingOutputDelegate> delegate) = 0;
};

}  // namespace platform
