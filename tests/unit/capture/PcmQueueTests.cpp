#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "capture/PcmQueue.h"

namespace capture {
namespace {

// Frames whose both values are their number, so that order and place show.
std::vector<float> numbered(int first, int count) {
  std::vector<float> frames;
  for (int i = first; i < first + count; ++i) frames.insert(frames.end(), 2, float(i));
  return frames;
}

// Everything the queue holds, one value per frame.
std::vector<float> drain(PcmQueue& queue, std::size_t chunk = 3) {
  std::vector<float> frames;
  std::vector<float> taken;
  while (!queue.empty()) {
    const std::size_t count = queue.take(chunk, taken);
    EXPECT_EQ(taken.size(), 2 * count);
    for (std::size_t i = 0; i < count; ++i) frames.push_back(taken[2 * i]);
  }
  return frames;
}

TEST(PcmQueue, KeepsStreamOrderWithSilenceBetweenFrames) {
  PcmQueue queue(8);
  queue.pushSilence(2);
  queue.pushFrames(numbered(1, 3));
  queue.pushSilence(2);
  queue.pushFrames(numbered(4, 1));
  EXPECT_EQ(drain(queue), (std::vector<float>{0, 0, 1, 2, 3, 0, 0, 4}));
  EXPECT_EQ(queue.takeOverflow(), 0U);

  // What a faulty driver or filter may give: values that are no number are silence.
  const float infinity = std::numeric_limits<float>::infinity();
  queue.pushFrames(
      std::vector<float>{1, std::numeric_limits<float>::quiet_NaN(), infinity, -infinity, -0.5, 2});
  std::vector<float> taken;
  queue.take(3, taken);
  EXPECT_EQ(taken, (std::vector<float>{1, 0, 0, 0, -0.5, 2}));
}

TEST(PcmQueue, AFullQueueTurnsItsOldestFramesIntoSilenceAndKeepsTheLength) {
  PcmQueue queue(4);
  queue.pushFrames(numbered(1, 3));
  queue.pushFrames(numbered(4, 3));  // 1 and 2 give way
  EXPECT_EQ(queue.takeOverflow(), 2U);
  EXPECT_EQ(drain(queue, 2), (std::vector<float>{0, 0, 3, 4, 5, 6}));

  // Wrapped around the ring and overrun again, by one push larger than the whole queue.
  queue.pushFrames(numbered(7, 3));
  queue.pushFrames(numbered(10, 6));
  EXPECT_EQ(queue.takeOverflow(), 5U);
  EXPECT_EQ(drain(queue), (std::vector<float>{0, 0, 0, 0, 0, 12, 13, 14, 15}));

  // Frames give way across the silence between them, which takes no room.
  queue.pushFrames(numbered(1, 2));
  queue.pushSilence(3);
  queue.pushFrames(numbered(3, 2));
  queue.pushFrames(numbered(5, 3));  // 1, 2 and 3 give way
  EXPECT_EQ(queue.takeOverflow(), 3U);
  EXPECT_EQ(drain(queue), (std::vector<float>{0, 0, 0, 0, 0, 0, 4, 5, 6, 7}));
}

// A source lost, or the tool stopped, for longer than the queue holds: what was queued before
// the silence is still written.
TEST(PcmQueue, SilenceLongerThanTheQueueKeepsTheFramesBeforeIt) {
  PcmQueue queue(4);
  queue.pushFrames(numbered(1, 3));
  queue.pushSilence(10);
  queue.pushFrames(numbered(4, 4));
  EXPECT_EQ(queue.takeOverflow(), 3U);  // the ring is full: 1, 2 and 3 give way to 4 to 7
  std::vector<float> expected(13, 0);
  expected.insert(expected.end(), {4, 5, 6, 7});
  EXPECT_EQ(drain(queue), expected);

  queue.pushFrames(numbered(1, 2));
  queue.pushSilence(100);
  queue.pushFrames(numbered(3, 2));
  EXPECT_EQ(queue.takeOverflow(), 0U);
  EXPECT_EQ(queue.frames(), 104U);
  expected = {1, 2};
  expected.insert(expected.end(), 100, 0);
  expected.insert(expected.end(), {3, 4});
  EXPECT_EQ(drain(queue, 7), expected);
}

TEST(PcmQueue, ALateReaderGetsSilenceInPlaceOfWhatCameBefore) {
  PcmQueue queue(4);
  queue.pushFrames(numbered(1, 3));
  queue.silenceAll();
  queue.pushFrames(numbered(4, 1));
  EXPECT_EQ(drain(queue), (std::vector<float>{0, 0, 0, 4}));
}

}  // namespace
}  // namespace capture
