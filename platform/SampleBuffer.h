#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace platform {

// The data of a sample buffer: one or more contiguous pieces laid end to end (a CMBlockBuffer on
// macOS, a GstBuffer's memories on Linux). Borrowed for the duration of a callback.
class BlockBuffer {
 public:
  virtual ~BlockBuffer() = default;
  // Points `data` at the byte at `offset` and tells how many bytes lie contiguously behind it
  // (`lengthAtOffset`) and how long the whole data is (`totalLength`). Returns 0 on success,
  // a platform status otherwise. The bytes stay valid at least until the next call.
  virtual std::int32_t dataPointer(std::size_t offset, std::size_t& lengthAtOffset,
                                   std::size_t& totalLength, const std::byte*& data) const = 0;
};

// How a buffer's sample values form frames: frames per second, values per frame, and whether
// the values of a frame lie together (interleaved) or each channel's values follow all of the
// previous channel's.
struct SampleLayout {
  double sampleRate = 48000;
  std::uint32_t channels = 2;
  bool interleaved = true;
};

// The layout's frames per second, rounded, or 0 for a rate that no audio source delivers.
inline std::uint32_t wholeSampleRate(const SampleLayout& layout) {
  if (!(layout.sampleRate >= 1000 && layout.sampleRate <= 1e6)) return 0;
  return static_cast<std::uint32_t>(std::lround(layout.sampleRate));
}

// One buffer of captured media, borrowed for the duration of the stream output callback.
class SampleBuffer {
 public:
  virtual ~SampleBuffer() = default;
  virtual bool dataIsReady() const = 0;
  // The buffer's data, or none; valid as long as the sample buffer.
  virtual const BlockBuffer* dataBuffer() const = 0;
  virtual SampleLayout layout() const = 0;
  // When its first frame was captured, in seconds of a clock that all sources of a stream share;
  // none when the platform did not say.
  virtual std::optional<double> presentationSeconds() const = 0;
};

}  // namespace platform
