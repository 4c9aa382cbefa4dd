#include <gtest/gtest.h>

#include <limits>
#include <thread>

#include "capture/AudioStatistics.h"
#include "support/ScriptedSampleBuffer.h"

namespace capture {
namespace {

using test_support::ScriptedSampleBuffer;

constexpr float kInfinity = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

LevelReading readingOf(const ScriptedSampleBuffer& buffer) {
  AudioStatistics statistics;
  statistics.add(buffer);
  return statistics.snapshot(false);
}

TEST(AudioStatistics, ClosedFormLevelsWithNonFiniteValuesAsSilence) {
  const LevelReading nonFinite =
      readingOf(ScriptedSampleBuffer::ofFloats({3.0f, kInfinity, kNaN, 4.0f}));
  EXPECT_EQ(nonFinite.samples, 4U);
  EXPECT_DOUBLE_EQ(nonFinite.rms, 2.5);
}

TEST(AudioStatistics, UnreadableBuffersAddNothing) {
  auto notReady = ScriptedSampleBuffer::ofFloats({1.0f});
  notReady.ready = false;
  auto noData = ScriptedSampleBuffer::ofFloats({1.0f});
  noData.hasDataBuffer = false;
  auto failingPointer = ScriptedSampleBuffer::ofFloats({1.0f});
  failingPointer.status = -12700;
  auto nullPointer = ScriptedSampleBuffer::ofFloats({1.0f});
  nullPointer.nullDataPointer = true;

  for (const auto* buffer : {&notReady, &noData, &failingPointer, &nullPointer}) {
    const LevelReading reading = readingOf(*buffer);
    EXPECT_EQ(reading.samples, 0U);
    EXPECT_EQ(reading.rms, 0.0);
  }
}

// Pieces that cut values in the middle must give what one contiguous piece gives, and never
// read a byte past any piece (AddressSanitizer watches the exact-size allocations).
TEST(AudioStatistics, SplitBlockBufferIsReadPieceByPiece) {
  const auto bytes = ScriptedSampleBuffer::bytesOf<float>({3.0f, -4.0f, 0.5f, kNaN, 12.0f});
  const LevelReading whole = readingOf(ScriptedSampleBuffer::ofPieces(bytes, {bytes.size()}));
  for (const std::vector<std::size_t>& pieces :
       {std::vector<std::size_t>{3, 5, 2, 6, 4}, {1, 1, 1, 17}, {8, 12}, {19, 1}}) {
    const LevelReading split = readingOf(ScriptedSampleBuffer::ofPieces(bytes, pieces));
    EXPECT_EQ(split.samples, whole.samples);
    EXPECT_DOUBLE_EQ(split.rms, whole.rms);
  }
  auto uneven = bytes;
  uneven.resize(18);
  EXPECT_EQ(readingOf(ScriptedSampleBuffer::ofPieces(uneven, {7, 7, 4})).samples, 4U);
}

// Readings taken while buffers arrive must neither lose nor double-count a buffer.
TEST(AudioStatistics, ConcurrentReadsAccountForEveryBuffer) {
  AudioStatistics statistics;
  const auto buffer = ScriptedSampleBuffer::ofFloats({0.5f, 0.5f, 0.5f, 0.5f});
  constexpr int kBuffers = 20000;
  std::thread producer([&] {
    for (int i = 0; i < kBuffers; ++i) statistics.add(buffer);
  });
  std::uint64_t counted = 0;
  while (counted < 4U * kBuffers) {
    const LevelReading reading = statistics.snapshot(true);
    if (reading.samples != 0) {
      EXPECT_DOUBLE_EQ(reading.rms, 0.5);
    }
    counted += reading.samples;
  }
  producer.join();
  EXPECT_EQ(counted + statistics.snapshot(true).samples, 4U * kBuffers);
}

}  // namespace
}  // namespace capture
