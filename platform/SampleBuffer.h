#pragma once

#include <cstddef>
#include <cstdint>

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

// One buffer of captured media, borrowed for the duration of the stream output callback.
class SampleBuffer {
 public:
  virtual ~SampleBuffer() = default;
  virtual bool dataIsReady() const = 0;
  // The buffer's data, or none; valid as long as the sample buffer.
  virtual const BlockBuffer* dataBuffer() const = 0;
};

}  // namespace platform
