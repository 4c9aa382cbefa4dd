#include <gtest/gtest.h>

#include <cstddef>

#include "capture/AudioStatistics.h"
#include "platform/linux/CopiedSampleBuffer.h"

namespace platform::linux_gst {
namespace {

capture::LevelReading readingOf(std::vector<float> values) {
  const auto* first = reinterpret_cast<const std::byte*>(values.data());
  std::vector<std::byte> bytes(first, first + values.size() * sizeof(float));
  capture::AudioStatistics statistics;
  statistics.add(CopiedSampleBuffer(std::move(bytes)));
  return statistics.snapshot(false);
}

// The way from GStreamer's copy to the meters, whole and empty.
TEST(CopiedSampleBuffer, IsMeteredWholeAndEmptyAsNothing) {
  const capture::LevelReading reading = readingOf({0.5f, -0.5f, 0.5f, -0.5f, 0.5f});
  EXPECT_EQ(reading.samples, 5u);
  EXPECT_DOUBLE_EQ(reading.rms, 0.5);
  EXPECT_EQ(readingOf({}).samples, 0u);
}

}  // namespace
}  // namespace platform::linux_gst
