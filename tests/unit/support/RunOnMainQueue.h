#pragma once

#include <optional>
#include <variant>

#include "platform/Launch.h"
#include "platform/PlatformError.h"
#include "platform/PlatformServices.h"
#include "platform/Task.h"

namespace test_support {

template <typename T>
using Outcome =
    std::variant<std::conditional_t<std::is_void_v<T>, std::monostate, T>, platform::PlatformError>;

template <typename T>
platform::Task<Outcome<T>> outcomeOf(platform::Task<T> task) {
  try {
    if constexpr (std::is_void_v<T>) {
      co_await task;
      co_return std::monostate{};
    } else {
      co_return co_await task;
    }
  } catch (const platform::PlatformError& error) {
    co_return error;
  }
}

// Runs `task` to its end with the calling thread as the main thread, and gives back what it
// yielded or threw.
template <typename T>
Outcome<T> runOnMainQueue(platform::PlatformServices& platform, platform::Task<T> task) {
  platform::MainQueue& mainQueue = platform.dispatch().mainQueue();
  std::optional<Outcome<T>> outcome;
  mainQueue.post([&] {
    platform::launch(outcomeOf(std::move(task)), [&](Outcome<T> result) {
      outcome.emplace(std::move(result));
      mainQueue.quit();
    });
  });
  mainQueue.run();
  return std::move(*outcome);
}

}  // namespace test_support
