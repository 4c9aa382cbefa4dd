#include <gtest/gtest.h>

#include <array>

#include "AudioSampleBuffers.h"
#include "platform/macos/CoreMediaSampleBuffer.h"

namespace {

using platform::macos::CoreMediaSampleBuffer;

TEST(CoreMediaSampleBuffer, ReportsWhetherTheDataIsReady) {
  std::array<std::byte, 16> bytes{};
  const auto ready = macos_test::makeAudioSampleBuffer({bytes}, true);
  const auto pending = macos_test::makeAudioSampleBuffer({bytes}, false);
  EXPECT_TRUE(CoreMediaSampleBuffer(ready.get()).dataIsReady());
  EXPECT_FALSE(CoreMediaSampleBuffer(pending.get()).dataIsReady());
}

TEST(CoreMediaSampleBuffer, HasNoDataBufferWhenTheSampleBufferCarriesNoData) {
  const auto empty = macos_test::makeEmptySampleBuffer();
  EXPECT_EQ(CoreMediaSampleBuffer(empty.get()).dataBuffer(), nullptr);
}

TEST(CoreMediaSampleBuffer, TellsTheContiguousLengthOfEachPieceAndTheTotal) {
  std::array<std::byte, 24> first{};
  std::array<std::byte, 16> second{};
  const auto sample = macos_test::makeAudioSampleBuffer({first, second}, true);
  const CoreMediaSampleBuffer buffer(sample.get());
  const platform::BlockBuffer* block = buffer.dataBuffer();
  ASSERT_NE(block, nullptr);

  std::size_t lengthAtOffset = 0;
  std::size_t totalLength = 0;
  const std::byte* data = nullptr;
  ASSERT_EQ(block->dataPointer(0, lengthAtOffset, totalLength, data), 0);
  EXPECT_EQ(data, first.data());
  EXPECT_EQ(lengthAtOffset, 24u);
  EXPECT_EQ(totalLength, 40u);

  ASSERT_EQ(block->dataPointer(28, lengthAtOffset, totalLength, data), 0);
  EXPECT_EQ(data, second.data() + 4);
  EXPECT_EQ(lengthAtOffset, 12u);
  EXPECT_EQ(totalLength, 40u);
}

}  // namespace
