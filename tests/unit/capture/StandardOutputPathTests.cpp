#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "capture/StandardOutputPath.h"

namespace {

namespace fs = std::filesystem;

// Points descriptor 1 at `path` for the test's lifetime.
class StandardOutputAt {
 public:
  explicit StandardOutputAt(const fs::path& path) {
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    const int opened = ::open(path.c_str(), O_WRONLY | O_CREAT, 0600);
    ::dup2(opened, STDOUT_FILENO);
    ::close(opened);
  }
  ~StandardOutputAt() {
    std::fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
  }

 private:
  int saved_;
};

class StandardOutputPath : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("standard-output-path-" + std::to_string(::getpid()));
    fs::create_directories(folder_);
    std::ofstream(folder_ / "other");
  }
  void TearDown() override { fs::remove_all(folder_); }
  fs::path folder_;
};

TEST_F(StandardOutputPath, EveryNameOfTheRecordStreamsFileIsIt) {
  const fs::path records = folder_ / "records.jsonl";
  StandardOutputAt redirected(records);
  fs::create_hard_link(records, folder_ / "link");
  EXPECT_TRUE(capture::isStandardOutput(records));
  EXPECT_TRUE(capture::isStandardOutput(folder_ / "link"));
  EXPECT_TRUE(capture::isStandardOutput("/dev/stdout"));
  EXPECT_FALSE(capture::isStandardOutput(folder_ / "other"));
  EXPECT_FALSE(capture::isStandardOutput(folder_ / "not-yet-there.mov"));
}

TEST_F(StandardOutputPath, ACharacterDeviceStaysAllowed) {
  StandardOutputAt redirected("/dev/null");
  EXPECT_FALSE(capture::isStandardOutput("/dev/null"));
}

}  // namespace
