#pragma once

// Errors crossing from Foundation into the core, and the few this layer raises itself.

#include <cstdint>
#include <optional>

#include "platform/PlatformError.h"

namespace platform::macos {

inline constexpr const char* kToolErrorDomain = "TessaloquinAudioCapture";
// Codes 1 and 2 of the domain are the capture engine's.
enum class MacToolError : std::int64_t {
  // A framework call answered NO and left its NSError out parameter nil.
  failureWithoutError = 3,
  // The core handed back an object (queue, display, filter...) this layer did not make.
  foreignObject = 4,
};

PlatformError toolError(MacToolError code);

}  // namespace platform::macos

#ifdef __OBJC__
@class NSError;

namespace platform::macos {

// The error as the core reports it; nil becomes failureWithoutError.
PlatformError platformError(NSError* error);
std::optional<PlatformError> optionalPlatformError(NSError* error);

}  // namespace platform::macos
#endif
