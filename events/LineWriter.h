#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace events {

// Writes lines to a file descriptor from a thread of its own, in the order they were handed
// over, so that no caller ever waits on the reader. Each line goes out whole or, when the
// descriptor refuses it (a reader that went away, say), not at all past the failure; the next
// line is tried afresh. Memory grows only by the lines not yet written.
//
// The thread is started by the constructor and ends with the destructor, which first writes
// what is pending. When no thread can be had, lines are written on the caller's thread.
class LineWriter {
 public:
  explicit LineWriter(int fd);
  ~LineWriter();
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  // Any thread; never waits for the descriptor while a writer thread runs.
  void write(std::string line);
  // Any thread: returns once every line handed over before the call is written or dropped, or
  // once the descriptor has taken no line for `patience` while lines wait (a reader that stopped
  // reading); those lines stay pending.
  void drain(std::chrono::milliseconds patience);

 private:
  struct State;
  static void serve(std::shared_ptr<State> state);

  std::shared_ptr<State> state_;  // shared with the thread
  std::thread thread_;            // set by the constructor; joined by the destructor
};

}  // namespace events
