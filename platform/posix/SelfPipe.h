#pragma once

namespace platform::posix {

// A non-blocking pipe that wakes a poll() loop, rung from any thread or from a signal handler.
// Both ends are fixed for the pipe's lifetime.
class SelfPipe {
 public:
  SelfPipe();
  ~SelfPipe();
  SelfPipe(const SelfPipe&) = delete;
  SelfPipe& operator=(const SelfPipe&) = delete;

  int readFd() const { return readFd_; }
  int writeFd() const { return writeFd_; }

  // Async-signal-safe. A full pipe already reads as ready, so a byte it refuses is no lost news.
  static void ring(int writeFd);
  void ring() const { ring(writeFd_); }
  // Empties the pipe; returns whether it held anything.
  bool drain() const;

 private:
  int readFd_ = -1;
  int writeFd_ = -1;
};

}  // namespace platform::posix
