#include <gtest/gtest.h>

#include <array>

#include "AudioSampleBuffers.h"
#include "platform/macos/CoreMediaSampleBuffer.h"

namespace {

using platform::macos::CoreMediaSampleBuffer;

// What the core reads each buffer by: whether its data is ready, its layout, and its time in
// seconds of the host clock.
TEST(CoreMediaSampleBuffer, HandsOverReadinessLayoutAndPresentationTimeInSeconds) {
  std::array<std::byte, 16> bytes{};
  const platform::AudioStreamDescription headset = {
      platform::kLinearPcmFormat,
      platform::kPcmFlagIsFloat | platform::kPcmFlagIsPacked | platform::kPcmFlagIsNonInterleaved,
      4,
      1,
      32,
      24000};
  const auto microphone =
      macos_test::makeAudioSampleBuffer({bytes}, true, headset, {300000, 24000});
  const CoreMediaSampleBuffer planar(microphone.get());
  EXPECT_EQ(planar.layout().sampleRate, 24000);
  EXPECT_EQ(planar.layout().channels, 1u);
  EXPECT_FALSE(planar.layout().interleaved);
  EXPECT_EQ(planar.presentationSeconds(), 12.5);
  EXPECT_TRUE(planar.dataIsReady());
  const auto pending = macos_test::makeAudioSampleBuffer({bytes}, false);
  EXPECT_FALSE(CoreMediaSampleBuffer(pending.get()).dataIsReady());

  const auto system = macos_test::makeAudioSampleBuffer({bytes}, true);
  EXPECT_TRUE(CoreMediaSampleBuffer(system.get()).layout().interleaved);
  EXPECT_EQ(CoreMediaSampleBuffer(system.get()).presentationSeconds(), 0.0);

  // Without data, a format or a time: no data buffer, the stream's own layout, and no time to
  // place it by.
  const auto empty = macos_test::makeEmptySampleBuffer();
  EXPECT_EQ(CoreMediaSampleBuffer(empty.get()).dataBuffer(), nullptr);
  EXPECT_EQ(CoreMediaSampleBuffer(empty.get()).layout().channels, 2u);
  EXPECT_EQ(CoreMediaSampleBuffer(empty.get()).presentationSeconds(), std::nullopt);
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
