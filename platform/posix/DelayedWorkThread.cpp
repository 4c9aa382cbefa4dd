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
  bool stopping = false;                                               // guarded by mutex
};

DelayedWorkThread::DelayedWorkThread() : state_(std::make_shared<State>()) {}

DelayedWorkThread::~DelayedWorkThread() {
  stopServing(*state_, thread_);
}

void DelayedWorkThread::runAfter(std::chrono::nanoseconds delay, Work work) {
  const auto deadline = std::chrono::steady_clock::now() + delay;
  {
    std::lock_guard lock(state_->mutex);
    // When no thread can be had, the request fails whole and the next one asks again.
    if (!thread_.joinable()) thread_ = std::thread(serve, state_);
    state_->pending.emplace(deadline, std::move(work));
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
