#pragma once

#include <coroutine>
#include <exception>
#include <utility>

#include "platform/Task.h"

namespace platform {

namespace detail {

// The frame of a launched coroutine frees itself when it ends; nobody awaits it.
struct Detached {
  struct promise_type {
    Detached get_return_object() noexcept { return {}; }
    std::suspend_never initial_suspend() noexcept { return {}; }
    std::suspend_never final_suspend() noexcept { return {}; }
    void return_void() noexcept {}
    void unhandled_exception() noexcept { std::terminate(); }
  };
};

}  // namespace detail

// Starts `task` on the calling thread and hands its result to `done` wherever it ends. The task
// must not throw: a top-level routine turns every failure into its result.
template <typename T, typename Done>
detail::Detached launch(Task<T> task, Done done) {
  done(co_await task);
}

}  // namespace platform
