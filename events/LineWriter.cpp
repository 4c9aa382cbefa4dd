#include "events/LineWriter.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <system_error>
#include <utility>

#include "platform/posix/ThreadName.h"

namespace events {

namespace {

// Whatever the descriptor's mode: a non-blocking one is waited on, not given up.
void writeWhole(int fd, const std::string& line) {
  std::size_t written = 0;
  while (written < line.size()) {
    const ssize_t count = ::write(fd, line.data() + written, line.size() - written);
    if (count > 0) {
      written += static_cast<std::size_t>(count);
    } else if (count == -1 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd ready{fd, POLLOUT, 0};
      ::poll(&ready, 1, -1);
    } else if (count == -1 && errno != EINTR) {
      return;
    }
  }
}

}  // namespace

struct LineWriter::State {
  explicit State(int fd) : fd(fd) {}
  const int fd;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::string> pending;  // guarded by mutex
  std::uint64_t handedOver = 0;     // guarded by mutex
  std::uint64_t done = 0;           // guarded by mutex
  bool stopping = false;            // guarded by mutex
  bool threadless = false;          // set by the constructor, read-only after
  // Orders the writes of callers when there is no thread.
  std::mutex threadlessWrites;
};

LineWriter::LineWriter(int fd) : state_(std::make_shared<State>(fd)) {
  try {
    thread_ = std::thread(serve, state_);
  } catch (const std::system_error&) {
    state_->threadless = true;
  }
}

LineWriter::~LineWriter() {
  {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
  }
  state_->changed.notify_all();
  if (thread_.joinable()) thread_.join();
}

void LineWriter::write(std::string line) {
  if (state_->threadless) {
    std::lock_guard order(state_->threadlessWrites);
    writeWhole(state_->fd, line);
    return;
  }
  {
    std::lock_guard lock(state_->mutex);
    state_->pending.push_back(std::move(line));
    ++state_->handedOver;
  }
  state_->changed.notify_all();
}

void LineWriter::drain(std::chrono::milliseconds patience) {
  std::unique_lock lock(state_->mutex);
  const std::uint64_t target = state_->handedOver;
  while (state_->done < target) {
    const std::uint64_t seen = state_->done;
    if (!state_->changed.wait_for(lock, patience, [&] { return state_->done != seen; })) return;
  }
}

void LineWriter::serve(std::shared_ptr<State> state) {
  platform::posix::nameCurrentThread("event writer");
  // A write to a pipe without a reader then fails with EPIPE instead of ending the process,
  // whatever SIGPIPE's disposition; the signal stays pending on this thread alone.
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

  std::unique_lock lock(state->mutex);
  for (;;) {
    state->changed.wait(lock, [&] { return state->stopping || !state->pending.empty(); });
    if (state->pending.empty()) return;
    std::string line = std::move(state->pending.front());
    state->pending.pop_front();
    lock.unlock();
    writeWhole(state->fd, line);
    lock.lock();
    ++state->done;
    state->changed.notify_all();
  }
}

}  // namespace events
