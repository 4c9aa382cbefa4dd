#pragma once

#include <cstdint>

namespace capture {

// Tells a muted or dead microphone from a quiet room. A muted input delivers digital silence: no
// value above 2^-15 (about -90 dBFS, a step of 16-bit audio) for 5 s in a row, while the noise
// of any real room lies far above that. Fed with each microphone buffer's peak on the sample
// path, so it only counts; one buffer at a time, by whichever thread delivers them. The values
// are counted against the rate the caller gives, as a microphone may deliver fewer channels or
// another rate than the stream's.
//
// A buffer counts whole: one value above the threshold makes it sound, and the silent stretch
// is the run of values in silent buffers since the last sounding one. Buffers of at most 100 ms,
// as both platforms deliver, make that the same as "a peak of at most 2^-15 in every 100 ms".
class SilenceWatch {
 public:
  enum class Change { none, becameSilent, becameAudible };

  // `peak`: the largest magnitude among the buffer's finite values; `values`: how many it holds;
  // `valuesPerSecond`: the source's rate times its channel count. Reports a silent stretch once,
  // when it reaches 5 s, and its end once, at the first sound.
  Change add(std::uint64_t values, double peak, std::uint64_t valuesPerSecond);

  // Forgets the stretch: silence that the tool made itself (its input went away) is no one's
  // mute, and what follows starts afresh.
  void restart();

 private:
  std::uint64_t silentValues_ = 0;
  bool reportedSilent_ = false;
};

}  // namespace capture
