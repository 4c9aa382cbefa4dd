#pragma once

#include <optional>
#include <string>
#include <type_traits>
#include <variant>

#include "platform/PlatformError.h"
#include "platform/Task.h"
#include "platform/ToolErrors.h"

namespace app {

// A stage's failure as a value, so that the driver can report it: a handler may not suspend. A
// platform error passes as it is; any other exception (a thread that could not be made, a timer
// that could not be armed) is the tool's internal fault, of the platform's `errorTypeName`.

// Inside a handler: the exception being handled, as a stage's failure.
inline platform::PlatformError currentFailure(std::string errorTypeName) {
  try {
    throw;
  } catch (const platform::PlatformError& error) {
    return error;
  } catch (...) {
    return platform::toolError(std::move(errorTypeName), platform::ToolErrorCode::internalFault);
  }
}

// Awaits `stage`, dropping what it yields, and gives back its error, if any.
template <typename T>
platform::Task<std::optional<platform::PlatformError>> failureOf(platform::Task<T> stage,
                                                                 std::string errorTypeName) {
  try {
    co_await stage;
  } catch (...) {
    co_return currentFailure(std::move(errorTypeName));
  }
  co_return std::nullopt;
}

template <typename T>
using StageResult = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

// Awaits `stage` and gives back what it yielded (nothing, for a void stage) or its error.
template <typename T>
platform::Task<std::variant<StageResult<T>, platform::PlatformError>> outcomeOf(
    platform::Task<T> stage, std::string errorTypeName) {
  try {
    if constexpr (std::is_void_v<T>) {
      co_await stage;
      co_return std::monostate{};
    } else {
      co_return co_await stage;
    }
  } catch (...) {
    co_return currentFailure(std::move(errorTypeName));
  }
}

}  // namespace app
