#pragma once

#include <coroutine>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "platform/Dispatch.h"

namespace platform {

// Resumes one suspended coroutine exactly once, with a value (none for T = void) or a failure.
// It may be resumed from any thread, also before the coroutine has suspended on it; the coroutine
// always continues on the queue the waiter was made for. Copies share one state, so a completion
// handler can hold a copy while the coroutine awaits another. A second resume is a programming
// error and aborts the process, naming the waiter's label.
template <typename T = void>
class OneShotWaiter {
  using Value = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

 public:
  OneShotWaiter(std::string label, Queue& resumeQueue)
      : state_(std::make_shared<State>(std::move(label), resumeQueue)) {}

  void resume() requires std::is_void_v<T> { settle(Value{}); }
  void resume(Value value) requires(!std::is_void_v<T>) { settle(std::move(value)); }
  void fail(std::exception_ptr failure) { settle(std::move(failure)); }

  auto operator co_await() const { return Awaiter{state_}; }

 private:
  // Guarded by `mutex`: the outcome and the suspended coroutine, so that whichever of the resume
  // and the suspension comes second sees the other.
  struct State {
    State(std::string label, Queue& queue) : label(std::move(label)), queue(queue) {}
    const std::string label;
    Queue& queue;
    std::mutex mutex;
    std::optional<std::variant<Value, std::exception_ptr>> outcome;
    std::coroutine_handle<> suspended;
  };

  struct Awaiter {
    std::shared_ptr<State> state;

    bool await_ready() const {
      std::lock_guard lock(state->mutex);
      return state->outcome.has_value();
    }
    bool await_suspend(std::coroutine_handle<> coroutine) const {
      std::lock_guard lock(state->mutex);
      if (state->outcome) return false;
      state->suspended = coroutine;
      return true;
    }
    T await_resume() const {
      auto outcome = std::move(*state->outcome);
      if (auto* failure = std::get_if<std::exception_ptr>(&outcome)) {
        std::rethrow_exception(*failure);
      }
      if constexpr (!std::is_void_v<T>) return std::move(std::get<Value>(outcome));
    }
  };

  void settle(std::variant<Value, std::exception_ptr> outcome) {
    std::coroutine_handle<> suspended;
    {
      std::lock_guard lock(state_->mutex);
      if (state_->outcome) resumedTwice(state_->label);
      state_->outcome.emplace(std::move(outcome));
      suspended = std::exchange(state_->suspended, {});
    }
    if (suspended) state_->queue.post([suspended] { suspended.resume(); });
  }

  [[noreturn]] static void resumedTwice(const std::string& label) {
    std::fprintf(stderr, "one-shot waiter \"%s\" resumed twice\n", label.c_str());
    std::abort();
  }

  std::shared_ptr<State> state_;
};

}  // namespace platform
