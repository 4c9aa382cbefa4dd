#include "platform/linux/RecordTimeline.h"

#include <algorithm>

namespace platform::linux_gst {

namespace {

constexpr std::int64_t kSecondNs = 1000000000;
// How far the count may run ahead of the clock before it is set back, and how many blocks that
// is smoothed over. Jitter (the server's blocks) is tens of milliseconds and averages out; a
// device clock 100 ppm fast takes over 15 minutes to run this far ahead. Behind the clock is
// no fault: the server hands over late what it held (see skip() for what it lost).
constexpr double kMostAheadNs = 100e6;
constexpr double kDriftBlocks = 64;

}  // namespace

std::int64_t RecordTimeline::timeOf(std::uint64_t frames) const {
  return static_cast<std::int64_t>(frames / sampleRate_) * kSecondNs +
         static_cast<std::int64_t>(frames % sampleRate_) * kSecondNs / sampleRate_;
}

void RecordTimeline::setFromClock(std::int64_t capturedStart) {
  origin_ = capturedStart;
  framesSince_ = 0;
  skippedNs_ = 0;
  drift_ = 0;
}

std::int64_t RecordTimeline::lagAt(std::int64_t now) const {
  return broken_ ? 0 : now - (origin_ + skippedNs_ + timeOf(framesSince_));
}

RecordTimeline::Stamp RecordTimeline::place(std::uint64_t frames, std::int64_t capturedEnd) {
  const std::int64_t capturedStart = std::max<std::int64_t>(0, capturedEnd - timeOf(frames));
  bool discontinuous = broken_ || skippedNs_ != 0;
  if (broken_) {
    setFromClock(capturedStart);
    broken_ = false;
  } else {
    origin_ += skippedNs_;
    skippedNs_ = 0;
    const auto offset = static_cast<double>(capturedStart - (origin_ + timeOf(framesSince_)));
    drift_ += (offset - drift_) / kDriftBlocks;
    // Ahead of the clock, the movie would outlast the recording.
    if (drift_ < -kMostAheadNs) {
      setFromClock(capturedStart);
      discontinuous = true;
    }
  }
  const std::int64_t start = origin_ + timeOf(framesSince_);
  framesSince_ += frames;
  const std::int64_t end = origin_ + timeOf(framesSince_);
  return {static_cast<std::uint64_t>(start), static_cast<std::uint64_t>(end - start),
          discontinuous};
}

}  // namespace platform::linux_gst
