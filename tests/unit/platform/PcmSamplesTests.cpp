#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "capture/AudioStatistics.h"
#include "platform/PcmSamples.h"
#include "support/ScriptedSampleBuffer.h"

namespace platform {
namespace {

using test_support::ScriptedSampleBuffer;

constexpr std::uint32_t kSigned = kPcmFlagIsSignedInteger;
constexpr std::uint32_t kSignedPacked = kSigned | kPcmFlagIsPacked;
constexpr std::uint32_t kFloatPacked = kPcmFlagIsFloat | kPcmFlagIsPacked;
constexpr std::uint32_t kHigh = kPcmFlagIsAlignedHigh;
constexpr std::uint32_t kPlanar = kPcmFlagIsNonInterleaved;

// Linear PCM with these flags, bytes per frame, channels and bits per channel.
AudioStreamDescription pcm(std::uint32_t flags, std::uint32_t bytes, std::uint32_t channels,
                           std::uint32_t bits) {
  return {kLinearPcmFormat, flags, bytes, channels, bits};
}

TEST(PcmSamples, EncodingFollowsTheStreamDescription) {
  using enum SampleEncoding;
  const struct {
    const char* name;
    AudioStreamDescription description;
    std::optional<SampleEncoding> encoding;
  } cases[] = {
      {"float interleaved", pcm(kFloatPacked, 8, 2, 32), float32},
      {"float non-interleaved", pcm(kFloatPacked | kPlanar, 4, 2, 32), float32},
      {"int16 stereo", pcm(kSignedPacked, 4, 2, 16), int16},
      {"int16 mono", pcm(kSignedPacked, 2, 1, 16), int16},
      {"int24 packed", pcm(kSignedPacked, 6, 2, 24), int24Packed},
      {"int24 non-interleaved", pcm(kSignedPacked | kPlanar, 3, 2, 24), int24Packed},
      {"int32", pcm(kSignedPacked, 8, 2, 32), int32},
      {"int24 high in 4 bytes", pcm(kSigned | kHigh, 8, 2, 24), int24InHigh32},
      {"int24 low in 4 bytes", pcm(kSigned, 8, 2, 24), int24InLow32},
      {"int24 high in 4 bytes, non-interleaved", pcm(kSigned | kHigh | kPlanar, 4, 2, 24),
       int24InHigh32},
      {"int24 in 4 bytes said to be packed", pcm(kSignedPacked, 8, 2, 24), {}},
      {"int20 in 4 bytes", pcm(kSigned, 8, 2, 20), {}},
      {"int16 in 4 bytes", pcm(kSigned, 8, 2, 16), {}},
      {"float32 in 8 bytes", pcm(kPcmFlagIsFloat, 16, 2, 32), {}},
      {"float64", pcm(kFloatPacked, 16, 2, 64), {}},
      {"unsigned 8-bit", pcm(kPcmFlagIsPacked, 2, 2, 8), {}},
      {"unsigned 16-bit", pcm(kPcmFlagIsPacked, 4, 2, 16), {}},
      {"int16 big-endian", pcm(kSignedPacked | kPcmFlagIsBigEndian, 4, 2, 16), {}},
      {"AAC", {0x61616320, 0, 0, 2, 0}, {}},
      {"no channels", pcm(kFloatPacked, 8, 0, 32), {}},
  };
  for (const auto& [name, description, encoding] : cases) {
    EXPECT_EQ(sampleEncodingOf(description), encoding) << name;
  }
}

// Little-endian 24-bit values, as the machines the tool runs on store them.
std::vector<std::byte> int24BytesOf(const std::vector<std::int32_t>& values) {
  std::vector<std::byte> bytes;
  for (std::int32_t value : values) {
    for (int shift : {0, 8, 16}) bytes.push_back(static_cast<std::byte>(value >> shift));
  }
  return bytes;
}

// 24-bit values in 4-byte containers, with junk in the padding byte that must not count.
std::vector<std::byte> int24In32BytesOf(const std::vector<std::int32_t>& values, bool high) {
  std::vector<std::uint32_t> containers;
  for (std::int32_t value : values) {
    const auto bits = static_cast<std::uint32_t>(value) & 0xFFFFFFU;
    containers.push_back(high ? bits << 8 | 0x5AU : bits | 0xA5000000U);
  }
  return ScriptedSampleBuffer::bytesOf(containers);
}

// Every float the metering would read, walking the pieces as it does.
std::vector<float> floatsOf(const SampleBuffer& buffer) {
  std::vector<std::byte> bytes;
  const BlockBuffer* block = buffer.dataBuffer();
  if (!buffer.dataIsReady() || block == nullptr) return {};
  std::size_t total = 1;
  while (bytes.size() < total) {
    std::size_t length = 0;
    const std::byte* data = nullptr;
    if (block->dataPointer(bytes.size(), length, total, data) != 0 || length == 0) break;
    bytes.insert(bytes.end(), data, data + std::min(length, total - bytes.size()));
  }
  std::vector<float> values(bytes.size() / sizeof(float));
  std::memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
  return values;
}

struct Converted {
  const char* name;
  SampleEncoding encoding;
  std::vector<std::byte> bytes;
  std::vector<float> floats;
};

// Full scale is the most negative value, so -1.0 is reached exactly and +1.0 never.
const std::vector<std::int32_t> kInt24 = {-8388608, 4194304, 0, -2097152, 8388607};
const std::vector<float> kInt24Floats = {-1.0F, 0.5F, 0.0F, -0.25F, 8388607.0F / 8388608.0F};
const std::vector<Converted> kConversions = {
    {"int16",
     SampleEncoding::int16,
     ScriptedSampleBuffer::bytesOf<std::int16_t>({-32768, 16384, 0, -8192, 32767}),
     {-1.0F, 0.5F, 0.0F, -0.25F, 32767.0F / 32768.0F}},
    {"int24", SampleEncoding::int24Packed, int24BytesOf(kInt24), kInt24Floats},
    {"int24 high", SampleEncoding::int24InHigh32, int24In32BytesOf(kInt24, true), kInt24Floats},
    {"int24 low", SampleEncoding::int24InLow32, int24In32BytesOf(kInt24, false), kInt24Floats},
    {"int32",
     SampleEncoding::int32,
     ScriptedSampleBuffer::bytesOf<std::int32_t>({INT32_MIN, 1 << 30, 0, -(1 << 29), INT32_MAX}),
     {-1.0F, 0.5F, 0.0F, -0.25F, 1.0F}},
    {"float32",
     SampleEncoding::float32,
     ScriptedSampleBuffer::bytesOf<float>({-1.0F, 0.5F, 0.0F, -0.25F, 2.0F}),
     {-1.0F, 0.5F, 0.0F, -0.25F, 2.0F}},
};

// Whole, or in pieces that cut values anywhere, down to single bytes; AddressSanitizer catches a
// read past any piece, since each is allocated at its exact size.
TEST(PcmSamples, IntegersAreScaledToFullScaleOneWholeOrInPieces) {
  for (const Converted& c : kConversions) {
    const std::size_t size = c.bytes.size();
    for (const std::vector<std::size_t>& pieces : {std::vector<std::size_t>{size},
                                                   std::vector<std::size_t>{1, 2, 3, size - 6},
                                                   std::vector<std::size_t>(size, 1),
                                                   {size - 1, 1},
                                                   {7, size - 7}}) {
      const auto source = ScriptedSampleBuffer::ofPieces(c.bytes, pieces);
      EXPECT_EQ(floatsOf(PcmSampleBuffer(source, c.encoding)), c.floats) << c.name;
    }
  }
}

// More values than one conversion chunk holds, split inside a value at a chunk's edge.
TEST(PcmSamples, LongBuffersAreMeteredWhole) {
  std::vector<std::int16_t> values;
  for (int i = 0; i < 1001; ++i) values.push_back(i % 2 == 0 ? 8192 : -8192);
  const auto bytes = ScriptedSampleBuffer::bytesOf(values);
  const auto source = ScriptedSampleBuffer::ofPieces(bytes, {513, bytes.size() - 513});
  capture::AudioStatistics statistics;
  statistics.add(PcmSampleBuffer(source, SampleEncoding::int16));
  const capture::LevelReading reading = statistics.snapshot(false);
  EXPECT_EQ(reading.samples, 1001U);
  EXPECT_DOUBLE_EQ(reading.rms, 0.25);
}

TEST(PcmSamples, NothingIsCountedForAnUnknownFormatOrATrailingPartialValue) {
  const auto floats = ScriptedSampleBuffer::ofFloats({0.5F, 0.5F});
  capture::AudioStatistics statistics;
  statistics.add(PcmSampleBuffer(floats, std::nullopt));
  EXPECT_EQ(statistics.snapshot(true).samples, 0U);

  const auto oneByte = ScriptedSampleBuffer::ofPieces({std::byte{0x40}}, {1});
  statistics.add(PcmSampleBuffer(oneByte, SampleEncoding::int16));
  EXPECT_EQ(statistics.snapshot(true).samples, 0U);

  auto bytes = int24BytesOf({4194304, 4194304});
  bytes.pop_back();
  const auto partial = ScriptedSampleBuffer::ofPieces(bytes, {4, 1});
  statistics.add(PcmSampleBuffer(partial, SampleEncoding::int24Packed));
  const capture::LevelReading reading = statistics.snapshot(true);
  EXPECT_EQ(reading.samples, 1U);
  EXPECT_DOUBLE_EQ(reading.rms, 0.5);
}

}  // namespace
}  // namespace platform
