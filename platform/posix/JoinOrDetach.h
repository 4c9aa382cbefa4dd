#pragma once

#include <mutex>
#include <thread>
#include <utility>

namespace platform::posix {

// A thread cannot join itself. When a thread's owner is released by work running on that very
// thread, the thread is left to end on its own, which it does once that work returns; by then it
// touches only state it shares ownership of.
inline void joinOrDetach(std::thread& thread) {
  if (!thread.joinable()) return;
  if (thread.get_id() == std::this_thread::get_id()) {
    thread.detach();
  } else {
    thread.join();
  }
}

// The one shutdown of the threads that serve a queue of pending work (`State` has `mutex`,
// `wake`, `pending` and `stopping`): work not yet started is dropped, and destroyed outside the
// lock, as its captures may call back in; then the thread is joined or, from its own work, left.
template <typename State>
void stopServing(State& state, std::thread& thread) {
  decltype(state.pending) dropped;
  {
    std::lock_guard lock(state.mutex);
    state.stopping = true;
    dropped.swap(state.pending);
  }
  state.wake.notify_one();
  joinOrDetach(thread);
}

}  // namespace platform::posix
