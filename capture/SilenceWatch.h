#pragma once

#include <chrono>

namespace capture {

// Tells a muted or dead microphone from a quiet room. A muted input delivers digital silence: no
// value above 2^-15 (about -90 dBFS, a step of 16-bit audio) for 5 s in a row, while the noise
// of any real room lies far above that. Fed with each microphone buffer's length and peak, and
// with each second in which the microphone delivered nothing, so it only counts; by one caller at
// a time. Lengths, not value counts, as a microphone may deliver fewer channels or another rate
// than the stream's, or change them with its device.
//
// A buffer counts whole: one value above the threshold makes it sound, and the silent stretch
// is the time of the silent buffers since the last sounding one. Buffers of at most 100 ms,
// as both platforms deliver, make that the same as "a peak of at most 2^-15 in every 100 ms".
class SilenceWatch {
 public:
  enum class Change { none, becameSilent, becameAudible };

  // `peak`: the largest magnitude among the finite values of what `length` of audio held (0 for
  // nothing at all). Reports a silent stretch once, when it reaches 5 s, and its end once, at the
  // first sound.
  Change add(std::chrono::nanoseconds length, double peak);

  // Forgets the stretch: silence that the tool made itself (its input went away) is no one's
  // mute, and what follows starts afresh.
  void restart();

 private:
  std::chrono::nanoseconds silent_{0};
  bool reportedSilent_ = false;
};

}  // namespace capture
