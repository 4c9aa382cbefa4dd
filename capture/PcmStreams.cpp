// Per-source streams: the sample threads convert and place each buffer under mutex_ and queue
// it; each stream's writer thread takes what waits, writes it without the lock, and keeps a
// WAV header true. The writer is the only user of its file.
#include "capture/PcmStreams.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "capture/StereoFrames.h"
#include "capture/WarningRecords.h"
#include "capture/WavHeader.h"
#include "platform/posix/ThreadName.h"

namespace capture {

namespace {

using platform::posix::StreamFile;

// A regular file is written a batch at a time, which costs a fraction of the wake-ups and
// writes of one per buffer and delays what a killed recording keeps by little; a pipe gets each
// buffer as it comes, for a reader that works live.
constexpr std::size_t kFileBatchFrames = 9600;  // 0.2 s
// Less than a batch is written after this long, for a source that stops delivering.
constexpr auto kBatchWait = std::chrono::milliseconds(500);
constexpr std::size_t kChunkFrames = 16384;
// A buffer this close to where the previous one ended continues it; further off, it starts a
// new stretch at its own time. Bounds how far a stream strays from its time stamps.
constexpr double kJitterSeconds = 0.02;
// A header behind the data by this much at most, so a killed recording loses little more.
constexpr auto kHeaderInterval = std::chrono::milliseconds(500);
constexpr auto kReopenInterval = std::chrono::milliseconds(100);
constexpr const char* kSourceNames[] = {"system", "microphone"};

bool endsInWav(const std::filesystem::path& path) {
  const std::string text = path.string();
  return text.size() >= 4 && text.compare(text.size() - 4, 4, ".wav") == 0;
}

std::span<const std::byte> bytesOf(const auto& container) {
  return std::as_bytes(std::span(container));
}

}  // namespace

struct PcmStreams::Output {
  Output(const char* name, std::unique_ptr<StreamFile> file, bool wav)
      : name(name),
        file(std::move(file)),
        wav(wav),
        batchFrames(this->file->isSeekable() ? kFileBatchFrames : 1),
        headerPending(wav) {}

  bool batchReady() const { return queue.frames() >= batchFrames; }
  // After a push: the writer waits without a deadline only while nothing is queued, so the
  // first frames wake it to start its batch wait, and a whole batch ends that wait.
  void wakeWriter(bool wasEmpty) {
    if (wasEmpty || batchReady()) ready.notify_one();
  }
  // Whether the writer has work: a whole batch, or anything at all once finishing or once it
  // has waited long enough.
  bool hasWork(bool finishing, Clock::time_point now) const {
    return batchReady() || (!queue.empty() && (finishing || now >= lastWrite + kBatchWait));
  }

  const char* const name;
  const std::unique_ptr<StreamFile> file;  // writer thread only
  const bool wav;
  const std::uint64_t batchFrames;
  bool headerPending;               // writer thread only: a WAV header goes first on each opening
  std::uint64_t dataBytes = 0;      // writer thread only
  std::uint64_t headerBytes = 0;    // writer thread only: what the header last said
  Clock::time_point headerWritten;  // writer thread only
  Clock::time_point lastWrite;      // writer thread only
  PcmQueue queue{static_cast<std::size_t>(kQueueSeconds * kRate)};  // guarded by mutex_
  std::condition_variable ready;  // something queued, or the finish; waited for under mutex_
  // Set by the finish and the destructor; read by the writer while it waits for a reader.
  StreamFile::Deadline deadline{StreamFile::kNoDeadline};
  bool dead = false;  // guarded by mutex_: the file is gone for good
};

struct PcmStreams::Source {
  explicit Source(const char* name) : name(name) {}

  const char* const name;
  std::unique_ptr<Output> output;  // set by the constructor; null when no path was asked for
  std::vector<float> values;       // the delivering thread's
  std::vector<float> input;        // the delivering thread's
  // Guarded by mutex_:
  std::optional<Resampler> resampler;
  std::vector<float> converted;
  std::optional<double> stretchStart;  // seconds after the origin
  std::uint32_t stretchRate = 0;
  std::uint64_t stretchFrames = 0;  // at stretchRate
  std::int64_t dataEnd = 0;         // the frame after the source's own last one
  std::uint64_t length = 0;         // frames of the stream so far, silence included
  // Since when the source has been found far behind another without delivering.
  std::optional<Clock::time_point> behindSince;
};

PcmStreams::PcmStreams(const PcmPaths& paths, bool withMicrophone, Warn warn,
                       std::uint64_t riffSizeLimit, Now now)
    : warn_(std::move(warn)), riffSizeLimit_(riffSizeLimit), now_(now) {
  const std::optional<std::filesystem::path>* requested[] = {&paths.system, &paths.microphone};
  for (std::size_t index = 0; index < 2; ++index) {
    if (index == 1 && !withMicrophone) break;
    sources_[index] = std::make_unique<Source>(kSourceNames[index]);
    const std::optional<std::filesystem::path>& path = *requested[index];
    if (!path) continue;
    StreamFile::Opened opened = StreamFile::open(*path);
    if (!opened.file) throw OpenFailure{*path, opened.error};
    sources_[index]->output =
        std::make_unique<Output>(kSourceNames[index], std::move(opened.file), endsInWav(*path));
    ++outputs_;
  }
  for (auto& source : sources_) {
    if (!source || !source->output) continue;
    ++writersRunning_;
    writers_.emplace_back([this, output = source->output.get()] { runWriter(*output); });
  }
}

PcmStreams::~PcmStreams() {
  {
    std::lock_guard guard(mutex_);
    finishing_ = true;
    for (auto& source : sources_) {
      if (source && source->output) {
        source->output->deadline = Clock::now().time_since_epoch().count();
        source->output->ready.notify_all();
      }
    }
  }
  for (std::thread& writer : writers_) writer.join();
}

void PcmStreams::add(platform::StreamOutputType type, const platform::SampleBuffer& buffer) {
  const auto index = static_cast<std::size_t>(type) - 1;
  if (index > 1 || !sources_[index]) return;
  Source& source = *sources_[index];
  const platform::SampleLayout layout = buffer.layout();
  const std::optional<double> presented = buffer.presentationSeconds();
  const std::uint32_t rate = platform::wholeSampleRate(layout);
  if (rate == 0) return;
  std::size_t frames = 0;
  std::span<const float> stereo;
  if (!source.output) {
    frames = frameCount(buffer);
  } else if (const auto inPlace = stereoFramesInPlace(buffer)) {
    stereo = *inPlace;
    frames = stereo.size() / 2;
  } else {
    source.input.clear();
    frames = appendStereoFrames(buffer, source.values, source.input);
    stereo = source.input;
  }
  if (frames == 0) return;

  const Clock::time_point now = now_();
  std::lock_guard guard(mutex_);
  if (finishing_) return;
  source.behindSince.reset();
  if (!origin_ && presented) origin_ = *presented;
  const double expected =
      source.stretchStart
          ? *source.stretchStart + static_cast<double>(source.stretchFrames) / source.stretchRate
          : 0.0;
  const double at = presented ? *presented - *origin_ : expected;
  const bool continues = source.stretchStart && rate == source.stretchRate &&
                         std::abs(at - expected) <= kJitterSeconds;
  if (!continues) {
    if (source.output && source.resampler) {
      source.converted.clear();
      source.resampler->flush(source.converted);
      place(source, source.dataEnd, source.converted);
    }
    source.stretchStart = at;
    source.stretchRate = rate;
    source.stretchFrames = 0;
    if (rate == kRate) {
      source.resampler.reset();
    } else if (source.output && (!source.resampler || source.resampler->inputRate() != rate)) {
      source.resampler.emplace(rate, kRate);
    }
  }
  const std::int64_t first = continues ? source.dataEnd : std::llround(at * kRate);
  source.stretchFrames += frames;
  if (!source.output) {
    const double end = *source.stretchStart + static_cast<double>(source.stretchFrames) / rate;
    source.length =
        std::max<std::uint64_t>(source.length, std::max(0LL, std::llround(end * kRate)));
  } else if (source.resampler) {
    source.converted.clear();
    source.resampler->process(stereo, source.converted);
    place(source, first, source.converted);
  } else {
    place(source, first, stereo);
  }
  fillBehind(source, now);
}

// Queues `frames` to start at frame `at` of the source's stream: silence fills a gap before
// them, and what would fall before the stream's end (time already filled) is left out.
void PcmStreams::place(Source& source, std::int64_t at, std::span<const float> frames) {
  const auto count = static_cast<std::int64_t>(frames.size() / 2);
  const auto length = static_cast<std::int64_t>(source.length);
  if (at > length) pushSilence(source, static_cast<std::uint64_t>(at - length));
  const std::int64_t skipped =
      std::max<std::int64_t>(0, static_cast<std::int64_t>(source.length) - at);
  if (skipped < count) {
    const bool wasEmpty = source.output->queue.empty();
    source.output->queue.pushFrames(frames.subspan(static_cast<std::size_t>(2 * skipped)));
    source.length += static_cast<std::uint64_t>(count - skipped);
    source.output->wakeWriter(wasEmpty);
  }
  source.dataEnd = at + count;
}

void PcmStreams::pushSilence(Source& source, std::uint64_t frames) {
  if (frames == 0) return;
  source.length += frames;
  if (source.output) {
    const bool wasEmpty = source.output->queue.empty();
    source.output->queue.pushSilence(frames);
    source.output->wakeWriter(wasEmpty);
  }
}

// A stream whose source has fallen far behind another's, and delivers nothing, gets silence, so
// that a parent reading it live is not kept waiting.
void PcmStreams::fillBehind(const Source& ahead, Clock::time_point now) {
  const auto lag = static_cast<std::uint64_t>(kLiveLagSeconds * kRate);
  for (auto& source : sources_) {
    if (!source || source.get() == &ahead || !source->output) continue;
    if (ahead.length <= source->length + lag) continue;
    if (!source->behindSince) source->behindSince = now;
    if (now - *source->behindSince >= kLiveLagGrace) {
      pushSilence(*source, ahead.length - lag - source->length);
    }
  }
}

platform::Task<void> PcmStreams::finish(platform::Queue& queue) {
  platform::OneShotWaiter<> finished("PcmStreams::finish", queue);
  bool alreadyDone = false;
  {
    std::lock_guard guard(mutex_);
    finishing_ = true;
    std::uint64_t end = 0;
    for (auto& source : sources_) {
      if (!source) continue;
      if (source->output && source->resampler) {
        source->converted.clear();
        source->resampler->flush(source->converted);
        place(*source, source->dataEnd, source->converted);
      }
      end = std::max(end, source->length);
    }
    const Clock::rep deadline = (Clock::now() + kDrainTime).time_since_epoch().count();
    for (auto& source : sources_) {
      if (!source || !source->output) continue;
      pushSilence(*source, end - source->length);
      source->output->deadline = deadline;
      source->output->ready.notify_all();
    }
    alreadyDone = writersRunning_ == 0;
    if (!alreadyDone) finishWaiter_ = finished;
  }
  if (alreadyDone) finished.resume();
  co_await finished;
  for (std::thread& writer : writers_) writer.join();
  writers_.clear();
}

void PcmStreams::runWriter(Output& output) {
  platform::posix::nameCurrentThread(std::string("pcm ") + output.name);
  std::vector<float> chunk;
  std::unique_lock lock(mutex_);
  while (true) {
    if (!output.file->isOpen()) {
      if (finishing_ || output.dead) break;
      lock.unlock();
      const bool opened = output.file->tryReopen();
      lock.lock();
      if (!opened) {
        output.ready.wait_for(lock, kReopenInterval);
        continue;
      }
      // A reader that comes late starts at the present: what came before is silence to it.
      output.queue.silenceAll();
      output.queue.takeOverflow();
      output.headerPending = output.wav;
      continue;
    }
    const Clock::time_point now = Clock::now();
    if (!output.hasWork(finishing_, now)) {
      if (const std::uint64_t overflow = output.queue.takeOverflow()) {
        lock.unlock();
        warn_(events::EventRecord("warning")
                  .set("code", "pcm_overrun")
                  .set("source", output.name)
                  .set("droppedSeconds", static_cast<double>(overflow) / kRate));
        lock.lock();
        continue;
      }
      if (finishing_) break;
      std::optional<Clock::time_point> wake;
      if (!output.queue.empty()) wake = output.lastWrite + kBatchWait;
      // Between batches the header catches up with what was written once it is due.
      if (output.wav && output.file->isSeekable() && output.headerBytes != output.dataBytes) {
        const Clock::time_point due = output.headerWritten + kHeaderInterval;
        if (now >= due) {
          lock.unlock();
          updateHeader(output);
          lock.lock();
          continue;
        }
        wake = std::min(wake.value_or(due), due);
      }
      if (wake) {
        output.ready.wait_until(lock, *wake);
      } else {
        output.ready.wait(lock);
      }
      continue;
    }
    if (!writeChunk(output, lock, chunk)) break;
  }
  lock.unlock();
  // A WAV whose sizes were never rewritten reads as empty.
  if (!updateHeader(output)) warn_(pcmWriteFailedWarning(output.name));
  output.file->close();
  writerDone();
}

// Writes the next chunk without the lock; false when the writer should end. Called and returns
// with `lock` held.
bool PcmStreams::writeChunk(Output& output, std::unique_lock<std::mutex>& lock,
                            std::vector<float>& chunk) {
  output.queue.take(kChunkFrames, chunk);
  lock.unlock();
  StreamFile& file = *output.file;
  StreamFile::Outcome outcome = StreamFile::Outcome::written;
  if (output.headerPending) {
    const WavHeader header =
        file.isSeekable() ? wavHeader(0, riffSizeLimit_) : streamingWavHeader();
    outcome = file.write(bytesOf(header), output.deadline);
    output.headerPending = false;
    output.headerWritten = Clock::now();
  }
  if (outcome == StreamFile::Outcome::written) {
    outcome = file.write(bytesOf(chunk), output.deadline);
  }
  output.lastWrite = Clock::now();
  if (outcome == StreamFile::Outcome::written) {
    output.dataBytes += chunk.size() * sizeof(float);
    if (output.lastWrite - output.headerWritten >= kHeaderInterval) updateHeader(output);
  }
  if (outcome == StreamFile::Outcome::readerGone) {
    warn_(events::EventRecord("warning").set("code", "pcm_reader_gone").set("source", output.name));
  } else if (outcome == StreamFile::Outcome::failed) {
    warn_(pcmWriteFailedWarning(output.name));
  }
  lock.lock();
  if (outcome == StreamFile::Outcome::gaveUp) return false;
  if (outcome != StreamFile::Outcome::written) {
    output.dead = !file.canReopen() || outcome == StreamFile::Outcome::failed;
    output.queue.takeOverflow();
  }
  return true;
}

// Writer thread only; false when the header could not be rewritten.
bool PcmStreams::updateHeader(Output& output) {
  if (!output.wav || !output.file->isOpen() || !output.file->isSeekable()) return true;
  const bool rewritten = output.file->rewriteStart(wavHeader(output.dataBytes, riffSizeLimit_));
  output.headerBytes = output.dataBytes;
  output.headerWritten = Clock::now();
  return rewritten;
}

void PcmStreams::writerDone() {
  std::optional<platform::OneShotWaiter<>> waiter;
  {
    std::lock_guard guard(mutex_);
    if (--writersRunning_ == 0) waiter = std::exchange(finishWaiter_, std::nullopt);
  }
  if (waiter) waiter->resume();
}

}  // namespace capture
