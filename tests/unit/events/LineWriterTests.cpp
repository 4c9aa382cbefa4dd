#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "events/LineWriter.h"

namespace events {
namespace {

using namespace std::chrono_literals;

// Bounds every wait, so that a writer that blocks its callers shows as a failure, not a hang.
constexpr auto kHangLimit = 5s;

struct Pipe {
  Pipe() {
    EXPECT_EQ(::pipe(fds), 0);
    ::fcntl(fds[1], F_SETPIPE_SZ, 4096);  // the smallest a pipe gets
  }
  ~Pipe() {
    for (const int fd : fds) {
      if (fd != -1) ::close(fd);
    }
  }
  std::string readAll() const {
    std::string text;
    char buffer[4096];
    for (ssize_t count; (count = ::read(fds[0], buffer, sizeof buffer)) > 0;) {
      text.append(buffer, static_cast<std::size_t>(count));
    }
    return text;
  }
  int fds[2] = {-1, -1};
};

TEST(LineWriter, CallersNeverWaitForTheReaderAndEveryLineArrivesWholeAndInOrder) {
  Pipe pipe;
  std::vector<std::string> lines;  // longer than the pipe holds, so each needs several writes
  for (int index = 0; index < 40; ++index) {
    lines.push_back(std::to_string(index) + std::string(6000, 'x') + "\n");
  }
  LineWriter writer(pipe.fds[1]);
  auto handedOver = std::async(std::launch::async, [&] {
    for (const std::string& line : lines) writer.write(line);
  });
  ASSERT_EQ(handedOver.wait_for(kHangLimit), std::future_status::ready)
      << "write() waited for a reader that reads nothing";

  auto reader = std::async(std::launch::async, [&] { return pipe.readAll(); });
  writer.drain();
  ::close(pipe.fds[1]);
  pipe.fds[1] = -1;
  std::string expected;
  for (const std::string& line : lines) expected += line;
  EXPECT_EQ(reader.get(), expected);
}

}  // namespace
}  // namespace events
