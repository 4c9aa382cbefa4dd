#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/SampleBuffer.h"

namespace platform {

// The fields of an audio stream description (CoreAudio's AudioStreamBasicDescription) that tell
// how its sample values are stored, with CoreAudio's values.
struct AudioStreamDescription {
  std::uint32_t formatID = 0;
  std::uint32_t formatFlags = 0;
  std::uint32_t bytesPerFrame = 0;
  std::uint32_t channelsPerFrame = 0;
  std::uint32_t bitsPerChannel = 0;
  double sampleRate = 0;
};

inline constexpr std::uint32_t kLinearPcmFormat = 0x6C70636D;  // 'lpcm'
inline constexpr std::uint32_t kPcmFlagIsFloat = 1U << 0;
inline constexpr std::uint32_t kPcmFlagIsBigEndian = 1U << 1;
inline constexpr std::uint32_t kPcmFlagIsSignedInteger = 1U << 2;
inline constexpr std::uint32_t kPcmFlagIsPacked = 1U << 3;
inline constexpr std::uint32_t kPcmFlagIsAlignedHigh = 1U << 4;
inline constexpr std::uint32_t kPcmFlagIsNonInterleaved = 1U << 5;

// Sample values the metering can read, each in the machine's byte order. USB microphones deliver
// 24-bit values in 4-byte containers, in the container's high or low three bytes.
enum class SampleEncoding { float32, int16, int24Packed, int24InHigh32, int24InLow32, int32 };

// None for anything else: another format, unsigned integers, other widths or paddings, or the
// other byte order. Interleaving does not matter: every value is a sample value either way.
std::optional<SampleEncoding> sampleEncodingOf(const AudioStreamDescription& description);

// A sample buffer seen as 32-bit floats at full scale 1.0, as the metering reads it. Float data
// is lent as it is; integer data is converted a chunk at a time into the object itself, reading
// each piece of the source only within its contiguous length, so nothing is allocated either way.
// A buffer of no known encoding is never ready. Lives on the stack of one callback; the bytes a
// dataPointer() call points at stay valid until the next call.
class PcmSampleBuffer final : public SampleBuffer {
 public:
  PcmSampleBuffer(const SampleBuffer& source, std::optional<SampleEncoding> encoding)
      : source_(source), encoding_(encoding) {}
  bool dataIsReady() const override;
  const BlockBuffer* dataBuffer() const override;
  SampleLayout layout() const override { return source_.layout(); }
  std::optional<double> presentationSeconds() const override {
    return source_.presentationSeconds();
  }

 private:
  class Converted final : public BlockBuffer {
   public:
    Converted(const BlockBuffer& source, SampleEncoding encoding);
    std::int32_t dataPointer(std::size_t offset, std::size_t& lengthAtOffset,
                             std::size_t& totalLength, const std::byte*& data) const override;

   private:
    std::size_t fill(std::size_t first, std::size_t available) const;
    bool gather(std::size_t byteOffset, const std::byte* piece, std::size_t length,
                std::byte* value) const;
    float decode(const std::byte* value) const;

    const BlockBuffer& source_;
    const SampleEncoding encoding_;
    const std::size_t width_;
    mutable std::array<float, 256> chunk_;  // the values of the last dataPointer() call
  };

  const SampleBuffer& source_;
  const std::optional<SampleEncoding> encoding_;
  mutable std::optional<Converted> converted_;  // made by dataBuffer()
};

}  // namespace platform
