#include "platform/linux/RecordTimeline.h"

#include <algorithm>
#include <cmath>

namespace platform::linux_gst {

namespace {

constexpr std::int64_t kSecondNs = 1000000000;
// How far the count may drift from the clock before it is set again, and how many blocks the
// drift is smoothed over. Jitter (the server's blocks, a busy machine) is tens of milliseconds
// and averages out; a device clock 100 ppm off takes over 15 minutes to drift this far, and
// the mixer, which waits 500 ms, loses nothing meanwhile.
constexpr double kMostDriftNs = 100e6;
constexpr double kDriftBlocks = 64;

}  // namespace

std::int64_t RecordTimeline::timeOf(std::uint64_t frames) const {
  return static_cast<std::int64_t>(frames / sampleRate_) * kSecondNs +
         static_cast<std::int64_t>(frames % sampleRate_) * kSecondNs / sampleRate_;
}

RecordTimeline::Stamp RecordTimeline::place(std::uint64_t frames, std::int64_t capturedEnd) {
  const std::int64_t capturedStart = std::max<std::int64_t>(0, capturedEnd - timeOf(frames));
  bool discontinuous = broken_;
  if (broken_) {
    origin_ = capturedStart;
    framesSince_ = 0;
    drift_ = 0;
    broken_ = false;
  } else {
    const auto offset = static_cast<double>(capturedStart - (origin_ + timeOf(framesSince_)));
    drift_ += (offset - drift_) / kDriftBlocks;
    if (std::abs(drift_) > kMostDriftNs) {
      // The clock now, rather than the smoothed drift: a gap of seconds that nobody announced
      // would otherwise take as many corrections, and the mixer would drop all meanwhile.
      origin_ = capturedStart;
      framesSince_ = 0;
      drift_ = 0;
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
