#include "platform/posix/DelayedWorkThread.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <utility>

#include "platform/posix/JoinOrDetach.h"
#include "platform/posix/ThreadName.h"

namespace platform::posix {

struct DelayedWorkThread::State {
  std::mutex mutex;
  std::condition_variable wake;
  // Equal deadlines keep their order of arrival.
  std::multimap<std::chrono::steady_clock::time_point, Work> pending;  // guarded by mutex
  bool started = false;                                                // guarded by mutex
  bool stopping = false;                                               // guarded by mutex
};

DelayedWorkThread::DelayedWorkThread() : state_(std::make_shared<State>()) {}

DelayedWorkThread::~DelayedWorkThread() {
  std::multimap<std::chrono::steady_clock::time_point, Work> dropped;
  {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
    dropped.swap(state_->pending);
  }
  state_->wake.notify_one();
  joinOrDetach(thread_);
}

void DelayedWorkThread::runAfter(std::chrono::nanoseconds delay, Work work) {
  const auto deadline = std::chrono::steady_clock::now() + delay;
  {
    std::lock_guard lock(state_->mutex);
    state_->pending.emplace(deadline, std::move(work));
    if (!state_->started) {
      state_->started = true;
      thread_ = std::thread(serve, state_);
    }
  }
  state_->wake.notify_one();
}

void DelayedWorkThread::serve(std::shared_ptr<State> state) {
  nameCurrentThread("delayed work");
  std::unique_lock lock(state->mutex);
  while (!state->stopping) {
    if (state->pending.empty()) {
      state->wake.wait(lock);
      continue;
    }
    const auto earliest = state->pending.begin();
    if (std::chrono::steady_clock::now() < earliest->first) {
      state->wake.wait_until(lock, earliest->first);
      continue;
    }
    Work work = std::move(earliest->second);
    state->pending.erase(earliest);
    lock.unlock();
    work();
    // Its captures may call back in here, so they go before the lock is retaken.
    work = nullptr;
    lock.lock();
  }
}

}  // namespace platform::posix
