#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/posix/OutputPathLock.h"

namespace platform::posix {
namespace {

namespace fs = std::filesystem;

class OutputPathLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "output-lock-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    fs::create_directory(movies());
    fs::create_directory(locks());
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path movies() const { return root_ / "movies"; }
  fs::path locks() const { return root_ / "locks"; }

  fs::path root_;
};

TEST_F(OutputPathLockTest, AnotherSpellingOfAHeldPathIsRefusedAndOtherPathsAreNot) {
  fs::create_directory_symlink(movies(), root_ / "link");
  auto first = OutputPathLock::claim(movies() / "a.mov", locks());
  ASSERT_TRUE(first.has_value());

  EXPECT_FALSE(OutputPathLock::claim(movies() / "a.mov", locks()).has_value());
  EXPECT_FALSE(OutputPathLock::claim(root_ / "movies/../movies/./a.mov", locks()).has_value());
  EXPECT_FALSE(OutputPathLock::claim(root_ / "link" / "a.mov", locks()).has_value());
  EXPECT_TRUE(OutputPathLock::claim(movies() / "b.mov", locks()).has_value());
}

TEST_F(OutputPathLockTest, EndedClaimLeavesNoLockFileAndThePathFree) {
  {
    auto first = OutputPathLock::claim(movies() / "a.mov", locks());
    ASSERT_TRUE(first.has_value());
    auto moved = std::move(*first);
    first.reset();
    EXPECT_FALSE(OutputPathLock::claim(movies() / "a.mov", locks()).has_value());
  }
  EXPECT_TRUE(fs::is_empty(locks()));
  EXPECT_TRUE(OutputPathLock::claim(movies() / "a.mov", locks()).has_value());
}

TEST_F(OutputPathLockTest, MissingLockFolderRecordsUnprotected) {
  EXPECT_TRUE(OutputPathLock::claim(movies() / "a.mov", root_ / "gone").has_value());
}

}  // namespace
}  // namespace platform::posix
