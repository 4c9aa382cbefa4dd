#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "capture/PcmQueue.h"
#include "capture/Resampler.h"
#include "events/EventRecord.h"
#include "platform/OneShotWaiter.h"
#include "platform/SampleBuffer.h"
#include "platform/ScreenCaptureService.h"
#include "platform/Task.h"
#include "platform/posix/StreamFile.h"

namespace capture {

// The per-source audio paths asked for on the command line.
struct PcmPaths {
  std::optional<std::filesystem::path> system;
  std::optional<std::filesystem::path> microphone;
};

// Each source's audio as a stream of its own, for parents that want them apart: 32-bit float
// stereo at 48 kHz, raw or, for a path ending in ".wav", as a WAV file whose sizes are kept true
// at least once a second.
//
// Alignment: frame 0 of every stream is the first frame any source delivered, and each buffer
// lies at its presentation time after it: gaps (a late first buffer, a source lost, a device
// that delivers nothing) become silence, also while recording when a source has fallen more
// than kLiveLagSeconds behind the other and stayed there for kLiveLagGrace, and at the end
// every stream is padded to the longest.
//
// Threads: add() runs on the platform's sample threads; finish() and the destructor on the main
// queue. Each stream has a writer thread of its own, started by the constructor and joined by
// the destructor, that writes what waits in the stream's queue, so that no sample thread waits
// on a reader or a disk; warnings go out through `warn` from the writer threads. mutex_ guards
// the timeline and the queues; no other lock is taken while it is held, and nothing is called
// out while it is held but the buffer's conversion.
class PcmStreams {
 public:
  using Warn = std::function<void(const events::EventRecord&)>;
  using Clock = std::chrono::steady_clock;
  using Now = Clock::time_point (*)();
  struct OpenFailure {
    std::filesystem::path path;
    int error;  // errno
  };

  // What waits to be written, per stream: 15 s (5.8 MB, its pages taken as they are first
  // needed). That is the 10 s a sound server holds for the tool, which come at once after the
  // tool itself stood still, and 5 s more for a parent that handles a few seconds of audio at a
  // time in its reading thread; a pipe alone holds a sixth of a second.
  static constexpr double kQueueSeconds = 15.0;
  static constexpr std::uint32_t kRate = 48000;
  // How long a reader may take what is left after the stop before it is given up.
  static constexpr std::chrono::milliseconds kDrainTime{2000};
  static constexpr double kLiveLagSeconds = 2.0;
  // A source that catches up on a backlog (after the tool itself stood still) delivers within
  // milliseconds of the other; only one that stays behind this long is filled, or its backlog
  // would fall on time already filled and be lost.
  static constexpr std::chrono::milliseconds kLiveLagGrace{500};

  // Opens every path of a captured source; throws OpenFailure for the first that cannot be.
  PcmStreams(const PcmPaths& paths, bool withMicrophone, Warn warn,
             std::uint64_t riffSizeLimit = std::numeric_limits<std::uint32_t>::max(),
             Now now = &Clock::now);
  ~PcmStreams();
  PcmStreams(const PcmStreams&) = delete;
  PcmStreams& operator=(const PcmStreams&) = delete;

  bool empty() const { return outputs_ == 0; }

  // Runs on a sample thread, one buffer at a time per source.
  void add(platform::StreamOutputType type, const platform::SampleBuffer& buffer);

  // After the last buffer: pads every stream to the same length and resumes on `queue` once
  // every writer has written all (or given up on a reader after kDrainTime) and closed its file.
  platform::Task<void> finish(platform::Queue& queue);

 private:
  struct Source;
  struct Output;

  void place(Source& source, std::int64_t at, std::span<const float> frames);
  void pushSilence(Source& source, std::uint64_t frames);
  void fillBehind(const Source& ahead, Clock::time_point now);
  void runWriter(Output& output);
  bool writeChunk(Output& output, std::unique_lock<std::mutex>& lock, std::vector<float>& chunk);
  bool updateHeader(Output& output);
  void writerDone();

  const Warn warn_;
  const std::uint64_t riffSizeLimit_;
  const Now now_;
  std::array<std::unique_ptr<Source>, 2> sources_;  // system, microphone; null when not captured
  int outputs_ = 0;

  std::mutex mutex_;
  std::optional<double> origin_;                           // guarded by mutex_
  bool finishing_ = false;                                 // guarded by mutex_
  int writersRunning_ = 0;                                 // guarded by mutex_
  std::optional<platform::OneShotWaiter<>> finishWaiter_;  // guarded by mutex_
  std::vector<std::thread> writers_;                       // main queue only
};

}  // namespace capture
