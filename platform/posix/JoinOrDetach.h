#pragma once

#include <thread>

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

}  // namespace platform::posix
