#pragma once

#include <cstddef>
#include <span>

#include "platform/SampleBuffer.h"

namespace platform::linux_gst {

// A sample buffer over data in one piece that someone else owns, such as a mapped GStreamer
// buffer; valid only while that data is.
class BorrowedSampleBuffer final : public SampleBuffer, private BlockBuffer {
 public:
  BorrowedSampleBuffer(std::span<const std::byte> bytes, SampleLayout layout,
                       std::optional<double> presentationSeconds)
      : bytes_(bytes), layout_(layout), presentationSeconds_(presentationSeconds) {}

  bool dataIsReady() const override { return true; }
  const BlockBuffer* dataBuffer() const override { return this; }
  SampleLayout layout() const override { return layout_; }
  std::optional<double> presentationSeconds() const override { return presentationSeconds_; }

 private:
  std::int32_t dataPointer(std::size_t offset, std::size_t& lengthAtOffset,
                           std::size_t& totalLength, const std::byte*& data) const override;

  const std::span<const std::byte> bytes_;
  const SampleLayout layout_;
  const std::optional<double> presentationSeconds_;
};

}  // namespace platform::linux_gst
