#pragma once

// Real CoreMedia audio sample buffers over memory the test owns, for the adapter tests.

#include <cstddef>
#include <span>
#include <vector>

struct opaqueCMSampleBuffer;

namespace macos_test {

// A CMSampleBuffer reference released with the object.
class OwnedSampleBuffer {
 public:
  explicit OwnedSampleBuffer(opaqueCMSampleBuffer* buffer) : buffer_(buffer) {}
  OwnedSampleBuffer(const OwnedSampleBuffer&) = delete;
  OwnedSampleBuffer& operator=(const OwnedSampleBuffer&) = delete;
  ~OwnedSampleBuffer();
  opaqueCMSampleBuffer* get() const { return buffer_; }

 private:
  opaqueCMSampleBuffer* buffer_;
};

// Interleaved 32-bit float stereo at 48 kHz whose block buffer is made of `pieces`, in order and
// without copying; the pieces' total must be a whole number of 8-byte frames.
OwnedSampleBuffer makeAudioSampleBuffer(const std::vector<std::span<std::byte>>& pieces,
                                        bool dataReady);

// A sample buffer that carries no data at all.
OwnedSampleBuffer makeEmptySampleBuffer();

}  // namespace macos_test
