#pragma once

#include <cstddef>
#include <vector>

#include "platform/SampleBuffer.h"

namespace platform::linux_gst {

// A sample buffer holding its own copy of the data in one piece, so that it can travel to the
// consumer's queue after GStreamer has recycled the original.
class CopiedSampleBuffer final : public SampleBuffer, private BlockBuffer {
 public:
  explicit CopiedSampleBuffer(std::vector<std::byte> bytes) : bytes_(std::move(bytes)) {}

  bool dataIsReady() const override { return true; }
  const BlockBuffer* dataBuffer() const override { return this; }

 private:
  std::int32_t dataPointer(std::size_t offset, std::size_t& lengthAtOffset,
                           std::size_t& totalLength, const std::byte*& data) const override;

  std::vector<std::byte> bytes_;
};

}  // namespace platform::linux_gst
