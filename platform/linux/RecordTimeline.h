#pragma once

#include <cstdint>

namespace platform::linux_gst {

// Stamps the blocks a record stream delivers, in running time (ns). Blocks follow each other by
// their sample count, so the mixer sees one unbroken stream whatever the scheduling jitter, and
// a block the server hands over late (a starved or stopped reader, while the server holds the
// data) keeps its place. The count is set again from the clock where the stream broke (its
// start, a source that resumed) and where it ran ahead of the clock (a device clock faster than
// the system clock), so the movie never outlasts the recording; and it skips what the server
// lost, so the blocks after a loss keep their place too.
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
  bool broken() const { return broken_; }
  // `ns` of the stream were lost before the next block, which comes that much later.
  void skip(std::int64_t ns) { skippedNs_ += ns; }

  // `frames` samples per channel, whose last one was captured at `capturedEnd` by the clock,
  // which jitters with the scheduling and the server's block size.
  Stamp place(std::uint64_t frames, std::int64_t capturedEnd);
  // How far the next block's start, as counted, lags `now` by the clock.
  std::int64_t lagAt(std::int64_t now) const;

 private:
  std::int64_t timeOf(std::uint64_t frames) const;
  void setFromClock(std::int64_t capturedStart);

  const int sampleRate_;
  bool broken_ = true;
  std::int64_t origin_ = 0;        // the time of the first block since the stream was last set
  std::uint64_t framesSince_ = 0;  // frames placed since then
  std::int64_t skippedNs_ = 0;     // lost since then, added to the count
  double drift_ = 0;               // smoothed clock time less counted time, ns
};

}  // namespace platform::linux_gst
