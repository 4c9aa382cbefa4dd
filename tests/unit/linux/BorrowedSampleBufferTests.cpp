#include <gtest/gtest.h>

#include <cstring>

#include "platform/linux/BorrowedSampleBuffer.h"

namespace platform::linux_gst {
namespace {

std::vector<std::byte> floats(std::initializer_list<float> values) {
  std::vector<std::byte> bytes(values.size() * sizeof(float));
  std::memcpy(bytes.data(), values.begin(), bytes.size());
  return bytes;
}

TEST(BorrowedSampleBuffer, IsReadyAndHandsOutItsDataInOnePiece) {
  const auto bytes = floats({0.5f, -0.25f, 1.0f});
  BorrowedSampleBuffer buffer(bytes);
  EXPECT_TRUE(buffer.dataIsReady());
  const BlockBuffer* block = buffer.dataBuffer();
  ASSERT_NE(block, nullptr);

  std::size_t lengthAtOffset = 0, totalLength = 0;
  const std::byte* data = nullptr;
  ASSERT_EQ(block->dataPointer(0, lengthAtOffset, totalLength, data), 0);
  EXPECT_EQ(totalLength, 12u);
  EXPECT_EQ(lengthAtOffset, 12u);
  float second = 0;
  std::memcpy(&second, data + 4, sizeof second);
  EXPECT_EQ(second, -0.25f);

  ASSERT_EQ(block->dataPointer(8, lengthAtOffset, totalLength, data), 0);
  EXPECT_EQ(lengthAtOffset, 4u);
  EXPECT_EQ(totalLength, 12u);
}

TEST(BorrowedSampleBuffer, RefusesOffsetsAtOrPastTheEnd) {
  const auto bytes = floats({1.0f});
  BorrowedSampleBuffer buffer(bytes);
  std::size_t lengthAtOffset = 0, totalLength = 0;
  const std::byte* data = nullptr;
  EXPECT_NE(buffer.dataBuffer()->dataPointer(4, lengthAtOffset, totalLength, data), 0);
  EXPECT_NE(buffer.dataBuffer()->dataPointer(5, lengthAtOffset, totalLength, data), 0);
}

TEST(BorrowedSampleBuffer, EmptyDataHasLengthZero) {
  BorrowedSampleBuffer buffer({});
  std::size_t lengthAtOffset = 7, totalLength = 7;
  const std::byte* data = nullptr;
  EXPECT_EQ(buffer.dataBuffer()->dataPointer(0, lengthAtOffset, totalLength, data), 0);
  EXPECT_EQ(totalLength, 0u);
  EXPECT_EQ(lengthAtOffset, 0u);
}

}  // namespace
}  // namespace platform::linux_gst
