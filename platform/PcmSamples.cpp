#include "platform/PcmSamples.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace platform {

namespace {

constexpr bool kBigEndianMachine = std::endian::native == std::endian::big;
// Returned when the source gave no readable bytes at the offset asked for.
constexpr std::int32_t kUnreadable = -1;

std::size_t widthOf(SampleEncoding encoding) {
  switch (encoding) {
    case SampleEncoding::int16:
      return 2;
    case SampleEncoding::int24Packed:
      return 3;
    case SampleEncoding::float32:
    case SampleEncoding::int24InHigh32:
    case SampleEncoding::int24InLow32:
    case SampleEncoding::int32:
      return 4;
  }
  return 4;
}

template <typename Integer>
Integer load(const std::byte* value) {
  Integer integer;
  std::memcpy(&integer, value, sizeof integer);
  return integer;
}

std::int32_t signExtended24(std::uint32_t bits) {
  return static_cast<std::int32_t>((bits & 0xFFFFFFU) ^ 0x800000U) - 0x800000;
}

std::int32_t loadInt24(const std::byte* value) {
  const auto byte = [value](int index) {
    return static_cast<std::uint32_t>(value[kBigEndianMachine ? 2 - index : index]);
  };
  const std::uint32_t bits = byte(0) | byte(1) << 8 | byte(2) << 16;
  return signExtended24(bits);
}

}  // namespace

std::optional<SampleEncoding> sampleEncodingOf(const AudioStreamDescription& description) {
  const std::uint32_t flags = description.formatFlags;
  if (description.formatID != kLinearPcmFormat) return std::nullopt;
  if (((flags & kPcmFlagIsBigEndian) != 0) != kBigEndianMachine) return std::nullopt;
  const std::uint32_t valuesPerFrame =
      (flags & kPcmFlagIsNonInterleaved) != 0 ? 1 : description.channelsPerFrame;
  if (valuesPerFrame == 0 || description.bytesPerFrame % valuesPerFrame != 0) return std::nullopt;
  const std::uint32_t containerBits = description.bytesPerFrame / valuesPerFrame * 8;
  if ((flags & kPcmFlagIsFloat) != 0) {
    if (description.bitsPerChannel == 32 && containerBits == 32) return SampleEncoding::float32;
    return std::nullopt;
  }
  if ((flags & kPcmFlagIsSignedInteger) == 0) return std::nullopt;
  if (containerBits != description.bitsPerChannel) {
    // Unpacked values lie in the container's high or low bits; the flag tells which.
    if (description.bitsPerChannel != 24 || containerBits != 32 ||
        (flags & kPcmFlagIsPacked) != 0) {
      return std::nullopt;
    }
    return (flags & kPcmFlagIsAlignedHigh) != 0 ? SampleEncoding::int24InHigh32
                                                : SampleEncoding::int24InLow32;
  }
  switch (description.bitsPerChannel) {
    case 16:
      return SampleEncoding::int16;
    case 24:
      return SampleEncoding::int24Packed;
    case 32:
      return SampleEncoding::int32;
    default:
      return std::nullopt;
  }
}

bool PcmSampleBuffer::dataIsReady() const {
  return encoding_.has_value() && source_.dataIsReady();
}

const BlockBuffer* PcmSampleBuffer::dataBuffer() const {
  if (!encoding_) return nullptr;
  const BlockBuffer* block = source_.dataBuffer();
  if (block == nullptr || *encoding_ == SampleEncoding::float32) return block;
  converted_.emplace(*block, *encoding_);
  return &*converted_;
}

PcmSampleBuffer::Converted::Converted(const BlockBuffer& source, SampleEncoding encoding)
    : source_(source), encoding_(encoding), width_(widthOf(encoding)) {}

// Offsets are in float bytes: value i of the source lies at 4 * i.
std::int32_t PcmSampleBuffer::Converted::dataPointer(std::size_t offset,
                                                     std::size_t& lengthAtOffset,
                                                     std::size_t& totalLength,
                                                     const std::byte*& data) const {
  std::size_t sourceLength = 0;
  std::size_t sourceTotal = 0;
  const std::byte* sourceData = nullptr;
  const std::int32_t status = source_.dataPointer(0, sourceLength, sourceTotal, sourceData);
  if (status != 0) return status;
  const std::size_t values = sourceTotal / width_;
  const std::size_t first = offset / sizeof(float);
  const std::size_t converted = first < values ? fill(first, values - first) : 0;
  if (converted == 0) return kUnreadable;
  const std::size_t skipped = offset % sizeof(float);
  totalLength = values * sizeof(float);
  lengthAtOffset = converted * sizeof(float) - skipped;
  data = reinterpret_cast<const std::byte*>(chunk_.data()) + skipped;
  return 0;
}

// Converts values from `first` on, as many as the chunk holds, and returns how many. Stops early
// where the source cannot be read.
std::size_t PcmSampleBuffer::Converted::fill(std::size_t first, std::size_t available) const {
  const std::size_t wanted = std::min(available, chunk_.size());
  std::size_t count = 0;
  while (count < wanted) {
    const std::size_t byteOffset = (first + count) * width_;
    std::size_t length = 0;
    std::size_t ignoredTotal = 0;
    const std::byte* piece = nullptr;
    if (source_.dataPointer(byteOffset, length, ignoredTotal, piece) != 0 || piece == nullptr ||
        length == 0) {
      break;
    }
    const std::size_t whole = std::min(length / width_, wanted - count);
    if (whole == 0) {
      std::byte value[4];
      if (!gather(byteOffset, piece, length, value)) break;
      chunk_[count++] = decode(value);
    }
    for (std::size_t i = 0; i < whole; ++i) chunk_[count++] = decode(piece + i * width_);
  }
  return count;
}

// Collects the bytes of a value that the piece at `byteOffset` holds only the start of.
bool PcmSampleBuffer::Converted::gather(std::size_t byteOffset, const std::byte* piece,
                                        std::size_t length, std::byte* value) const {
  std::memcpy(value, piece, length);
  std::size_t collected = length;
  while (collected < width_) {
    std::size_t ignoredTotal = 0;
    if (source_.dataPointer(byteOffset + collected, length, ignoredTotal, piece) != 0 ||
        piece == nullptr || length == 0) {
      return false;
    }
    const std::size_t take = std::min(length, width_ - collected);
    std::memcpy(value + collected, piece, take);
    collected += take;
  }
  return true;
}

float PcmSampleBuffer::Converted::decode(const std::byte* value) const {
  switch (encoding_) {
    case SampleEncoding::int16:
      return static_cast<float>(load<std::int16_t>(value) / 32768.0);
    case SampleEncoding::int24Packed:
      return static_cast<float>(loadInt24(value) / 8388608.0);
    case SampleEncoding::int24InHigh32:
      // The low byte is padding, whatever it holds.
      return static_cast<float>(signExtended24(load<std::uint32_t>(value) >> 8) / 8388608.0);
    case SampleEncoding::int24InLow32:
      return static_cast<float>(signExtended24(load<std::uint32_t>(value)) / 8388608.0);
    case SampleEncoding::int32:
      return static_cast<float>(load<std::int32_t>(value) / 2147483648.0);
    case SampleEncoding::float32:
      return load<float>(value);
  }
  return 0.0F;
}

}  // namespace platform
