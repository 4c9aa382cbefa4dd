#pragma once

#include <optional>
#include <variant>

#include "platform/PlatformError.h"
#include "platform/Task.h"

namespace app {

// A stage's failure as a value, so that the driver can report it: a handler may not suspend.

// Awaits `stage`, dropping what it yields, and gives back its error, if any.
template <typename T>
platform::Task<std::optional<platform::PlatformError>> failureOf(platform::Task<T> stage) {
  try {
    co_await stage;
  } catch (const platform::PlatformError& error) {
    co_return error;
  }
  co_return std::nullopt;
}

// Awaits `stage` and gives back what it yielded or its error.
template <typename T>
platform::Task<std::variant<T, platform::PlatformError>> outcomeOf(platform::Task<T> stage) {
  try {
    co_return co_await stage;
  } catch (const platform::PlatformError& error) {
    co_return error;
  }
}

}  // namespace app
