#include <gtest/gtest.h>

#include "capture/DiskSpaceWatch.h"

namespace capture {
namespace {

using Left = std::optional<std::uint64_t>;

// The movie grows by 20,000 bytes a second from the first reading on: 6,000,000 bytes last
// exactly 5 minutes.
TEST(DiskSpaceWatch, SpaceForLessThanFiveMinutesIsToldOnceUntilSpaceIsFreed) {
  DiskSpaceWatch watch;
  EXPECT_EQ(watch.read(100.0, 50'000, 1'000), Left());  // no rate yet
  EXPECT_EQ(watch.read(102.0, 90'000, 6'000'000), Left());
  EXPECT_EQ(watch.read(104.0, 130'000, 5'999'999), Left(299));
  EXPECT_EQ(watch.read(106.0, 170'000, 2'000'000), Left());  // told already
  EXPECT_EQ(watch.read(108.0, 210'000, 0), Left());
  EXPECT_EQ(watch.read(110.0, 250'000, 8'000'000), Left());  // freed: 6.7 min at 20 kB/s
  EXPECT_EQ(watch.read(112.0, 290'000, 100'000), Left(5));
}

TEST(DiskSpaceWatch, AMovieThatDoesNotGrowGivesNoRateWhateverTheSpace) {
  DiskSpaceWatch watch;
  EXPECT_EQ(watch.read(1.0, 4'096, 0), Left());
  EXPECT_EQ(watch.read(3.0, 4'096, 0), Left());  // not grown
  EXPECT_EQ(watch.read(1.0, 8'192, 0), Left());  // no time passed since the first
  EXPECT_EQ(watch.read(5.0, 2'048, 0), Left());  // replaced by a smaller file
  EXPECT_EQ(watch.read(5.5, 1'000'000, 0), Left(0));
}

}  // namespace
}  // namespace capture
