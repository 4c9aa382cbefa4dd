// What the parent hears at once while recording, as "warning" records: a source that stops
// delivering and comes back, audio dropped while the tool stood still, sound that plays where
// the system audio is not recorded or is muted, a movie that can no longer be written, a
// microphone that delivers only digital silence, a disk that will be full within minutes.
//
// Every warning is posted to the sample queue and written there, so that it keeps its place
// among the level records and never makes the noticing thread wait; stop() closes the warnings
// on that queue once it has decided, so that "final" or the stop's error comes last.
// Losses: the platform reports each as it notices it, and a stream that stops takes every
// captured source with it; each source is told lost once per loss, under sourceLock_. Audio
// the platform dropped is told once per drop, outside a loss. Sound played unrecorded, and a
// muted output, are told when their output changes, under the same lock: the platform may tell
// a finding twice.
// Silence: watched on the microphone's sample path, which only counts, and by the level tick: a
// microphone that delivers nothing while the system audio comes leaves silence in the movie as
// surely as a muted one. Its stretch starts afresh with each loss and recovery of the
// microphone, whose silence while lost is the tool's.
// Disk: read every few seconds on a queue of its own, since a file system can hang, for each
// file system the recording's files fill; so is whether the movie is still at its path, which a
// stop would otherwise find out only at its end.
#include <algorithm>
#include <chrono>

#include "capture/CaptureSession.h"
#include "capture/WarningRecords.h"

namespace capture {

using platform::StreamOutputType;

namespace {

constexpr std::chrono::seconds kFirstDiskReading{1};
constexpr std::chrono::seconds kDiskReadingInterval{2};

}  // namespace

void CaptureSession::warn(events::EventRecord record) {
  sampleQueue_->post([weakSelf = weak_from_this(), record = std::move(record)] {
    auto self = weakSelf.lock();
    if (self && !self->warningsClosed_) self->events_.emit(record);
  });
}

platform::Task<void> CaptureSession::closeWarnings() {
  platform::OneShotWaiter<> closed("closeWarnings", platform_.dispatch().mainQueue());
  sampleQueue_->post([self = shared_from_this(), closed]() mutable {
    self->warningsClosed_ = true;
    closed.resume();
  });
  co_await closed;
}

bool CaptureSession::isCaptured(StreamOutputType source) const {
  return source == StreamOutputType::audio ||
         (source == StreamOutputType::microphone && captureMicrophone_);
}

void CaptureSession::reportSourceLost(StreamOutputType source,
                                      const platform::PlatformError& error) {
  if (!isCaptured(source)) return;
  {
    std::lock_guard guard(sourceLock_);
    if (!lostSources_.insert(source).second) return;
    if (source == StreamOutputType::microphone) ++microphoneEpoch_;
  }
  warn(sourceLostWarning(*sourceName(source), error));
}

void CaptureSession::streamSourceWasLost(StreamOutputType source,
                                         const platform::PlatformError& error) {
  reportSourceLost(source, error);
}

void CaptureSession::streamSourceWasRestored(StreamOutputType source, double gapSeconds) {
  {
    std::lock_guard guard(sourceLock_);
    if (lostSources_.erase(source) == 0) return;
    if (source == StreamOutputType::microphone) ++microphoneEpoch_;
  }
  warn(sourceRestoredWarning(*sourceName(source), gapSeconds));
}

// What a lost source misses is told by its loss and its recovery's gap, not again as a drop.
void CaptureSession::streamSourceDidDropAudio(StreamOutputType source, double droppedSeconds) {
  if (!isCaptured(source)) return;
  {
    std::lock_guard guard(sourceLock_);
    if (lostSources_.contains(source)) return;
  }
  warn(audioDroppedWarning(*sourceName(source), droppedSeconds));
}

// A platform may read the same again, or begin afresh after a server restart: the parent hears
// only changes.
bool CaptureSession::changedFromTold(std::optional<std::string>& told,
                                     const std::optional<std::string>& now) {
  std::lock_guard guard(sourceLock_);
  if (now == told) return false;
  told = now;
  return true;
}

void CaptureSession::streamSoundPlaysUnrecorded(const std::optional<std::string>& outputName) {
  if (changedFromTold(unrecordedOutput_, outputName)) warn(unrecordedAudioWarning(outputName));
}

void CaptureSession::streamOutputMuted(const std::optional<std::string>& outputName) {
  if (changedFromTold(mutedOutput_, outputName)) warn(outputMutedWarning(outputName));
}

void CaptureSession::watchMicrophoneSilence(const AddedSamples& added,
                                            const platform::SampleLayout& layout) {
  // Time comes from the buffer's own rate, never from how much arrived in a second: a second
  // that a device change or a stall cut short would otherwise shorten the 5 s.
  const std::uint64_t valuesPerSecond =
      std::uint64_t{platform::wholeSampleRate(layout)} * layout.channels;
  if (valuesPerSecond == 0) return;
  countMicrophoneSilence(std::chrono::nanoseconds(added.count * 1'000'000'000 / valuesPerSecond),
                         added.peak);
}

void CaptureSession::countMicrophoneSilence(std::chrono::nanoseconds length, double peak) {
  SilenceWatch::Change change;
  {
    std::lock_guard guard(silenceLock_);
    const std::uint64_t epoch = microphoneEpoch_.load(std::memory_order_relaxed);
    if (epoch != seenMicrophoneEpoch_) {
      seenMicrophoneEpoch_ = epoch;
      microphoneSilence_.restart();
    }
    if (epoch % 2 == 1) return;
    change = microphoneSilence_.add(length, peak);
  }
  switch (change) {
    case SilenceWatch::Change::becameSilent:
      warn(microphoneSilenceWarning(true));
      break;
    case SilenceWatch::Change::becameAudible:
      warn(microphoneSilenceWarning(false));
      break;
    case SilenceWatch::Change::none:
      break;
  }
}

void CaptureSession::startDiskWatch() {
  diskQueue_ = platform_.dispatch().makeSerialQueue("com.tessaloquin.disk-watch");
  auto timer = platform_.dispatch().makeRepeatingTimer(diskQueue_);
  timer->schedule(kFirstDiskReading, kDiskReadingInterval);
  timer->setEventHandler([weakSelf = weak_from_this()] {
    if (auto self = weakSelf.lock()) {
      self->checkMovieAtItsPath();
      self->checkDiskSpace();
      self->flushWhileRecording();
    }
  });
  diskTimer_ = std::move(timer);
  diskTimer_->activate();
}

// Each source's own file grows twenty times as fast as the movie: on the movie's file system
// the disk they share fills at their rate, and on another (a small /tmp for a transcriber) it
// fills by itself, unseen where the movie is.
std::vector<CaptureSession::DiskUse> CaptureSession::readRecordingDisks() {
  std::vector<DiskUse> disks;
  if (const auto movie = platform_.storage().read(outputURL_)) {
    const std::optional<FileIdentity> identity = identityOf(outputURL_);
    disks.push_back({*movie, identity ? std::optional(identity->device) : std::nullopt, {}});
  }
  for (const auto& path : sourceFiles()) {
    const std::optional<FileIdentity> identity = path ? identityOf(*path) : std::nullopt;
    const auto own = identity ? platform_.storage().read(*path) : std::nullopt;
    if (!own) continue;
    auto disk = std::find_if(disks.begin(), disks.end(),
                             [&](const DiskUse& each) { return each.device == identity->device; });
    if (disk != disks.end()) {
      disk->reading.fileBytes += own->fileBytes;
    } else {
      disks.push_back({*own, identity->device, *path});
    }
  }
  return disks;
}

void CaptureSession::checkDiskSpace() {
  const double now =
      std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
  for (const DiskUse& disk : readRecordingDisks()) {
    const auto secondsLeft =
        diskSpace_[disk.sourceFile].read(now, disk.reading.fileBytes, disk.reading.availableBytes);
    if (secondsLeft) warn(diskLowWarning(*secondsLeft, disk.sourceFile));
  }
}

void CaptureSession::checkMovieAtItsPath() {
  const bool gone = movieGone();
  if (gone == movieToldGone_) return;
  movieToldGone_ = gone;
  warn(movieGoneWarning(gone));
}

}  // namespace capture
