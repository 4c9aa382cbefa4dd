#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/linux/RecordTimeline.h"

namespace platform::linux_gst {
namespace {

constexpr int kRate = 48000;
constexpr std::uint64_t kFrames = 1000;  // 20.833... ms: a block's time is not whole nanoseconds
constexpr std::int64_t kMs = 1000000;

std::int64_t timeOf(std::uint64_t frames) {
  return static_cast<std::int64_t>(frames * 1000000000 / kRate);
}

// The clock's view of a block: late or early by up to 40 ms, as a busy machine and the server's
// blocks make it.
std::int64_t jitter(int block) {
  return ((block * 7919) % 81 - 40) * kMs;
}

// Blocks that jitter against the clock still follow each other exactly, so the mix never sees a
// gap or an overlap, and after ten thousand of them the count has not drifted by a nanosecond.
TEST(RecordTimeline, BlocksFollowEachOtherByTheirCount) {
  RecordTimeline timeline(kRate);
  const std::int64_t origin = 100 * kMs;
  std::uint64_t expectedStart = 0;
  for (int block = 0; block < 10000; ++block) {
    const std::int64_t end = origin + timeOf((block + 1) * kFrames) + jitter(block);
    const RecordTimeline::Stamp stamp = timeline.place(kFrames, end);
    if (block == 0) {
      EXPECT_TRUE(stamp.discontinuous);
      expectedStart = stamp.start;
    } else {
      ASSERT_FALSE(stamp.discontinuous) << "block " << block;
      ASSERT_EQ(stamp.start, expectedStart) << "block " << block;
    }
    expectedStart = stamp.start + stamp.duration;
  }
  const std::uint64_t first = static_cast<std::uint64_t>(origin + jitter(0));
  EXPECT_EQ(expectedStart - first, static_cast<std::uint64_t>(timeOf(10000 * kFrames)));
}

// Where a source resumed, the next block is placed by the clock and marked, and the blocks after
// it follow it again. A block reported before its own length has passed starts at zero rather
// than wrapping to the end of time.
TEST(RecordTimeline, ABrokenStreamIsSetAgainFromTheClock) {
  RecordTimeline timeline(kRate);
  const RecordTimeline::Stamp early = timeline.place(kFrames, 5 * kMs);
  EXPECT_EQ(early.start, 0u);
  timeline.place(kFrames, timeOf(2 * kFrames));
  timeline.breakStream();
  const std::int64_t resumedEnd = 2000 * kMs;
  const RecordTimeline::Stamp resumed = timeline.place(kFrames, resumedEnd);
  EXPECT_TRUE(resumed.discontinuous);
  EXPECT_EQ(resumed.start, static_cast<std::uint64_t>(resumedEnd - timeOf(kFrames)));
  const RecordTimeline::Stamp next = timeline.place(kFrames, resumedEnd + timeOf(kFrames));
  EXPECT_FALSE(next.discontinuous);
  EXPECT_EQ(next.start, resumed.start + resumed.duration);
}

// A reader that stood still for eight seconds while the server held the data: the backlog,
// handed over all at once, keeps its place after what came before, unmarked. What the server
// lost comes before the next block, which is marked; the count goes on from there.
TEST(RecordTimeline, LateBlocksKeepTheirPlaceAndLossesAreSkipped) {
  RecordTimeline timeline(kRate);
  RecordTimeline::Stamp stamp = timeline.place(kFrames, timeOf(kFrames));
  std::uint64_t end = stamp.start + stamp.duration;
  const std::int64_t resumed = timeOf(kFrames) + 8000 * kMs;
  for (int block = 0; block < 400; ++block) {
    EXPECT_GT(timeline.lagAt(resumed + block * kMs), 0);
    stamp = timeline.place(kFrames, resumed + block * kMs);
    ASSERT_FALSE(stamp.discontinuous) << "block " << block;
    ASSERT_EQ(stamp.start, end) << "block " << block;
    end = stamp.start + stamp.duration;
  }
  timeline.skip(3000 * kMs);
  stamp = timeline.place(kFrames, resumed + 400 * kMs);
  EXPECT_TRUE(stamp.discontinuous);
  EXPECT_EQ(stamp.start, end + 3000 * kMs);
  const RecordTimeline::Stamp next = timeline.place(kFrames, resumed + 401 * kMs);
  EXPECT_FALSE(next.discontinuous);
  EXPECT_EQ(next.start, stamp.start + stamp.duration);
}

// A device whose clock runs 0.5 % fast against the system clock: the count runs ahead of the
// clock by 0.1 ms a block. It is set back now and then, so that it never strays much more than
// 100 ms from the clock, which the mixer's 500 ms of waiting absorb.
TEST(RecordTimeline, DriftFromTheClockIsCorrected) {
  RecordTimeline timeline(kRate);
  int corrections = 0;
  std::int64_t worst = 0;
  for (int block = 0; block < 20000; ++block) {
    const std::int64_t clockEnd = timeOf((block + 1) * kFrames) * 995 / 1000 + jitter(block);
    const RecordTimeline::Stamp stamp = timeline.place(kFrames, clockEnd);
    if (block > 0 && stamp.discontinuous) ++corrections;
    const std::int64_t clockStart = timeOf(block * kFrames) * 995 / 1000;
    worst = std::max(worst, std::abs(static_cast<std::int64_t>(stamp.start) - clockStart));
  }
  EXPECT_GE(corrections, 10);
  EXPECT_LT(worst, 160 * kMs);
}

}  // namespace
}  // namespace platform::linux_gst
