#pragma once

#include <cstdint>
#include <mutex>

#include "platform/SampleBuffer.h"

namespace capture {

struct LevelReading {
  std::uint64_t samples = 0;
  double rms = 0.0;  // linear, full scale 1.0; exactly 0 when samples is 0
};

// What one buffer added: its values, and the largest magnitude among the finite ones.
struct AddedSamples {
  std::uint64_t count = 0;
  double peak = 0.0;
};

// Accumulates one audio source's 32-bit float sample values between readings. Buffers are added
// one at a time on the thread the platform delivers them on; readings come from the sample queue
// (level ticks) and from the stopping coroutine, hence the lock. No code holds two accumulators'
// locks at once.
class AudioStatistics {
 public:
  // Adds every whole 32-bit value of the buffer's data, walking its contiguous pieces; a buffer
  // that is not ready, has no data or cannot be read adds nothing. Non-finite values count as
  // silence. Allocates nothing; the lock is held for two additions only.
  AddedSamples add(const platform::SampleBuffer& sampleBuffer);

  // Reads the accumulator and, when `reset` is true, empties it in the same hold of the lock: the
  // level tick takes each second's reading with true, the "final" record reads what is left with
  // false. One operation, so that the read and the reset can never be split by a buffer.
  LevelReading snapshot(bool reset);

 private:
  std::mutex lock_;
  double sumSquares_ = 0.0;        // guarded by lock_
  std::uint64_t sampleCount_ = 0;  // guarded by lock_
};

}  // namespace capture
