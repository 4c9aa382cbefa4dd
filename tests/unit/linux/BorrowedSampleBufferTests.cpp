#include <gtest/gtest.h>

#include <cstddef>
#include <span>
#include <vector>

#include "capture/AudioStatistics.h"
#include "platform/linux/BorrowedSampleBuffer.h"

namespace platform::linux_gst {
namespace {

capture::LevelReading readingOf(const std::vector<float>& values) {
  capture::AudioStatistics statistics;
  statistics.add(BorrowedSampleBuffer(std::as_bytes(std::span(values))));
  return statistics.snapshot(false);
}

// The way from GStreamer's mapped buffer to the meters, whole and empty.
TEST(BorrowedSampleBuffer, IsMeteredWholeAndEmptyAsNothing) {
  const capture::LevelReading reading = readingOf({0.5f, -0.5f, 0.5f, -0.5f, 0.5f});
  EXPECT_EQ(reading.samples, 5u);
  EXPECT_DOUBLE_EQ(reading.rms, 0.5);
  EXPECT_EQ(readingOf({}).samples, 0u);
}

}  // namespace
}  // namespace platform::linux_gst
