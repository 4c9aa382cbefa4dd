#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/ProcessExit.h"
#include "platform/posix/EarlierMovie.h"
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

// The tool ends by exitProcess, which runs no destructor, after a finished recording and after
// a failed one alike; neither may leave a lock file behind in the user's temporary folder.
TEST_F(OutputPathLockTest, ProcessEndedWithAClaimStillHeldLeavesNoLockFile) {
  for (const int status : {0, 1}) {
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      auto held = OutputPathLock::claim(movies() / "a.mov", locks());
      auto second = OutputPathLock::claim(movies() / "b.mov", locks());
      if (!held || !second || fs::is_empty(locks())) std::_Exit(99);
      platform::exitProcess(status);
    }
    int waited = 0;
    ASSERT_EQ(::waitpid(child, &waited, 0), child);
    ASSERT_TRUE(WIFEXITED(waited));
    EXPECT_EQ(WEXITSTATUS(waited), status);
    EXPECT_TRUE(fs::is_empty(locks())) << "exit status " << status;
  }
}

TEST_F(OutputPathLockTest, MissingLockFolderRecordsUnprotected) {
  EXPECT_TRUE(OutputPathLock::claim(movies() / "a.mov", root_ / "gone").has_value());
}

// The platform's writer would refuse to record over an earlier movie; a link or a FIFO is the
// writer's to judge, and what a link points at is never removed.
TEST_F(OutputPathLockTest, AnEarlierMovieMakesRoomButLinksAndFifosStay) {
  std::ofstream(movies() / "a.mov") << "earlier";
  std::ofstream(movies() / "target.mov") << "kept";
  fs::create_symlink(movies() / "target.mov", movies() / "link.mov");
  ASSERT_EQ(::mkfifo((movies() / "pipe.mov").c_str(), 0600), 0);
  for (const char* name : {"a.mov", "link.mov", "pipe.mov", "none.mov"}) {
    removeEarlierMovie(movies() / name);
  }
  EXPECT_FALSE(fs::exists(movies() / "a.mov"));
  EXPECT_TRUE(fs::is_symlink(movies() / "link.mov"));
  EXPECT_TRUE(fs::exists(movies() / "target.mov"));
  EXPECT_TRUE(fs::is_fifo(movies() / "pipe.mov"));
}

}  // namespace
}  // namespace platform::posix
