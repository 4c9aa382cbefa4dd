#include "capture/WavHeader.h"

#include <cstring>

namespace capture {

namespace {

constexpr std::uint16_t kIeeeFloat = 3;
constexpr std::uint16_t kChannels = 2;
constexpr std::uint32_t kSampleRate = 48000;
constexpr std::uint16_t kBitsPerSample = 32;
constexpr std::uint16_t kFrameBytes = kChannels * kBitsPerSample / 8;
constexpr std::uint32_t kUnknown = 0xFFFFFFFF;
// The file's size less the 8 bytes of "RIFF" and the size itself, before any sample.
constexpr std::uint64_t kHeaderAfterSize = kWavHeaderSize - 8;

class HeaderWriter {
 public:
  explicit HeaderWriter(WavHeader& header) : header_(header) {}
  HeaderWriter& tag(const char (&text)[5]) { return bytes(text, 4); }
  HeaderWriter& u16(std::uint16_t value) { return little(value, 2); }
  HeaderWriter& u32(std::uint32_t value) { return little(value, 4); }
  HeaderWriter& u64(std::uint64_t value) { return little(value, 8); }

 private:
  HeaderWriter& bytes(const void* data, std::size_t length) {
    std::memcpy(header_.data() + offset_, data, length);
    offset_ += length;
    return *this;
  }
  HeaderWriter& little(std::uint64_t value, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
      header_[offset_++] = static_cast<std::byte>(value >> (8 * i) & 0xFF);
    }
    return *this;
  }

  WavHeader& header_;
  std::size_t offset_ = 0;
};

// RIFF, WAVE, then a 28-byte chunk (RF64's "ds64" or a "JUNK" placeholder), "fmt " for IEEE
// float (with the extension size that non-PCM formats carry), "fact" and "data".
WavHeader build(bool rf64, std::uint32_t riffSize, std::uint64_t riffSize64,
                std::uint64_t dataBytes, std::uint32_t dataSize, std::uint32_t frames) {
  WavHeader header{};
  HeaderWriter writer(header);
  writer.tag(rf64 ? "RF64" : "RIFF").u32(riffSize).tag("WAVE");
  writer.tag(rf64 ? "ds64" : "JUNK").u32(28);
  writer.u64(rf64 ? riffSize64 : 0)
      .u64(rf64 ? dataBytes : 0)
      .u64(rf64 ? dataBytes / kFrameBytes : 0);
  writer.u32(0);  // no table of other chunks' sizes
  writer.tag("fmt ").u32(18).u16(kIeeeFloat).u16(kChannels).u32(kSampleRate);
  writer.u32(kSampleRate * kFrameBytes).u16(kFrameBytes).u16(kBitsPerSample).u16(0);
  writer.tag("fact").u32(4).u32(frames);
  writer.tag("data").u32(dataSize);
  return header;
}

}  // namespace

WavHeader wavHeader(std::uint64_t dataBytes, std::uint64_t riffSizeLimit) {
  const std::uint64_t riffSize = kHeaderAfterSize + dataBytes;
  if (riffSize <= riffSizeLimit) {
    return build(false, static_cast<std::uint32_t>(riffSize), 0, dataBytes,
                 static_cast<std::uint32_t>(dataBytes),
                 static_cast<std::uint32_t>(dataBytes / kFrameBytes));
  }
  return build(true, kUnknown, riffSize, dataBytes, kUnknown, kUnknown);
}

WavHeader streamingWavHeader() {
  return build(false, kUnknown, 0, 0, kUnknown, kUnknown);
}

}  // namespace capture
