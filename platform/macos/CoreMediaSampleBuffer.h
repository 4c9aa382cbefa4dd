#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/PcmSamples.h"
#include "platform/SampleBuffer.h"

// CoreMedia's own opaque struct names, so that this header needs no framework header.
struct opaqueCMSampleBuffer;
struct OpaqueCMBlockBuffer;

namespace platform::macos {

// Borrows a CMBlockBuffer for the duration of a stream output callback.
class CoreMediaBlockBuffer final : public BlockBuffer {
 public:
  explicit CoreMediaBlockBuffer(OpaqueCMBlockBuffer* block) : block_(block) {}
  void borrow(OpaqueCMBlockBuffer* block) { block_ = block; }
  std::int32_t dataPointer(std::size_t offset, std::size_t& lengthAtOffset,
                           std::size_t& totalLength, const std::byte*& data) const override;

 private:
  OpaqueCMBlockBuffer* block_;
};

// Borrows a CMSampleBuffer for the duration of a stream output callback; allocates nothing.
class CoreMediaSampleBuffer final : public SampleBuffer {
 public:
  explicit CoreMediaSampleBuffer(opaqueCMSampleBuffer* sampleBuffer)
      : sampleBuffer_(sampleBuffer), block_(nullptr) {}
  bool dataIsReady() const override;
  const BlockBuffer* dataBuffer() const override;
  // The stream's 48-kHz interleaved stereo when the buffer has no audio format description.
  SampleLayout layout() const override;
  // None when the presentation time stamp is not valid.
  std::optional<double> presentationSeconds() const override;
  // None when the buffer has no audio format description.
  std::optional<AudioStreamDescription> audioFormat() const;

 private:
  opaqueCMSampleBuffer* sampleBuffer_;
  // Filled in by dataBuffer(), so that nothing is asked of CoreMedia before the core asks.
  mutable CoreMediaBlockBuffer block_;
};

}  // namespace platform::macos
