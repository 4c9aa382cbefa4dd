#pragma once

#include <cstdint>

namespace platform::linux_gst {

// Stamps the blocks a record stream delivers, in running time (ns). Blocks follow each other by
// their sample count, so the mixer sees one unbroken stream whatever the scheduling jitter; the
// count is set again from the clock where the stream broke (its start, data the server dropped,
// a source that resumed) and where it strayed from the clock (a device's own clock against the
// system clock, a gap nobody announced), since the mixer drops what comes later than its latency.
class RecordTimeline {
 public:
  struct Stamp {
    std::uint64_t start;
    std::uint64_t duration;
    bool discontinuous;  // not the continuation of the previous block
  };

  explicit RecordTimeline(int sampleRate) : sampleRate_(sampleRate) {}

  // The next block is set from the clock.
  void breakStream() { broken_ = true; }

  // `frames` samples per channel, whose last one was captured at `capturedEnd` by the clock,
  // which jitters with the scheduling and the server's block size.
  Stamp place(std::uint64_t frames, std::int64_t capturedEnd);

 private:
  std::int64_t timeOf(std::uint64_t frames) const;

  const int sampleRate_;
  bool broken_ = true;
  std::int64_t origin_ = 0;        // the time of the first block since the stream was last set
  std::uint64_t framesSince_ = 0;  // frames placed since then
  double drift_ = 0;               // smoothed clock time less counted time, ns
};

}  // namespace platform::linux_gst
