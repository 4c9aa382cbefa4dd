#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "events/LineWriter.h"

namespace events {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kLineBytes = 100;
constexpr int kLines = 2000;  // 200 kB: many times what the pipe holds

struct SmallPipe {
  SmallPipe() {
    EXPECT_EQ(::pipe(fds), 0);
#ifdef F_SETPIPE_SZ  // Linux; macOS's pipes hold 16 KiB until a large write
    ::fcntl(fds[1], F_SETPIPE_SZ, 4096);
#endif
  }
  ~SmallPipe() {
    closeReadEnd();
    ::close(fds[1]);
  }
  // A writer blocked on the pipe then fails and goes on, so that it can be joined.
  void closeReadEnd() {
    if (fds[0] >= 0) ::close(fds[0]);
    fds[0] = -1;
  }
  int fds[2] = {-1, -1};
};

void writeLines(LineWriter& writer) {
  for (int index = 0; index < kLines; ++index) {
    writer.write(std::string(kLineBytes - 1, 'x') + '\n');
  }
}

// The exit waits for the last records while the parent takes them, however slowly, and no
// longer once it takes none: a parent that waits for the exit before reading, or never reads,
// would otherwise wait for ever.
TEST(LineWriter, TheDrainWaitsForAReaderThatReadsAndNotForOneThatDoesNot) {
  {
    SmallPipe pipe;
    LineWriter writer(pipe.fds[1]);
    writeLines(writer);
    std::atomic<std::size_t> taken = 0;
    std::thread reader([&] {
      char lines[10 * kLineBytes];
      while (taken < kLines * kLineBytes) {
        std::this_thread::sleep_for(10ms);
        const ssize_t count = ::read(pipe.fds[0], lines, sizeof lines);
        if (count <= 0) return;
        taken += static_cast<std::size_t>(count);
      }
    });
    writer.drain(500ms);  // the reader takes ten lines every 10 ms: 2 s in all
    // All written, and at most a full pipe (64 KiB at most, on either system) left to read.
    EXPECT_GE(taken + 65536, kLines * kLineBytes) << "gave up on a reader that reads";
    reader.join();
  }
  {
    SmallPipe pipe;
    LineWriter writer(pipe.fds[1]);
    writeLines(writer);
    auto drained = std::async(std::launch::async, [&] { writer.drain(100ms); });
    EXPECT_EQ(drained.wait_for(10s), std::future_status::ready)
        << "waited on a reader that reads nothing";
    pipe.closeReadEnd();
    drained.get();
  }
}

}  // namespace
}  // namespace events
