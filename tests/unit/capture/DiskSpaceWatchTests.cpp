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

TEST(DiskSpaceWatch, NeitherAGrowingMovieNorFallingSpaceGivesNoRate) {
  DiskSpaceWatch watch;
  EXPECT_EQ(watch.read(1.0, 4'096, 0), Left());
  EXPECT_EQ(watch.read(3.0, 4'096, 0), Left());  // not grown
  EXPECT_EQ(watch.read(1.0, 8'192, 0), Left());  // no time passed since the first
  EXPECT_EQ(watch.read(5.0, 2'048, 0), Left());  // replaced by a smaller file
  EXPECT_EQ(watch.read(5.5, 1'000'000, 0), Left(0));
}

// Each source's own file grows twenty times faster than the movie, on the same disk: the space
// falls at their rate, which the movie's alone would put at hours.
TEST(DiskSpaceWatch, SpaceFallingFasterThanTheMovieGrowsIsToldAtTheFasterRate) {
  DiskSpaceWatch watch;
  EXPECT_EQ(watch.read(10.0, 100'000, 100'000'000), Left());
  EXPECT_EQ(watch.read(12.0, 140'000, 99'160'000), Left(236));  // 420 kB/s, not 20 kB/s
  // A file written alongside and then deleted: the movie's rate again, when it is the faster.
  DiskSpaceWatch freed;
  EXPECT_EQ(freed.read(10.0, 100'000, 6'000'000), Left());
  EXPECT_EQ(freed.read(12.0, 140'000, 2'000'000), Left(1));
  EXPECT_EQ(freed.read(14.0, 180'000, 7'000'000), Left());
  EXPECT_EQ(freed.read(16.0, 220'000, 5'900'000), Left(295));
}

}  // namespace
}  // namespace capture
