#include "platform/posix/SerialQueue.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

#include "platform/posix/JoinOrDetach.h"
#include "platform/posix/ThreadName.h"

namespace platform::posix {

struct SerialQueue::State {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Work> pending;  // guarded by mutex
  bool stopping = false;     // guarded by mutex
};

SerialQueue::SerialQueue(const std::string& label)
    : state_(std::make_shared<State>()), worker_(serve, state_, label) {}

SerialQueue::~SerialQueue() {
  stopServing(*state_, worker_);
}

void SerialQueue::post(Work work) {
  {
    std::lock_guard lock(state_->mutex);
    state_->pending.push_back(std::move(work));
  }
  state_->wake.notify_one();
}

void SerialQueue::serve(std::shared_ptr<State> state, std::string label) {
  nameCurrentThread(threadNameOf(label));
  for (;;) {
    Work work;
    {
      std::unique_lock lock(state->mutex);
      state->wake.wait(lock, [&] { return state->stopping || !state->pending.empty(); });
      if (state->stopping) return;
      work = std::move(state->pending.front());
      state->pending.pop_front();
    }
    // Runs, then is destroyed, unlocked: either may release the queue itself.
    work();
  }
}

}  // namespace platform::posix
