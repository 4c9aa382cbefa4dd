#pragma once

// Errors crossing from Foundation into the core, and the few this layer raises itself.

#include <optional>

#include "platform/PlatformError.h"
#include "platform/ToolErrors.h"

namespace platform::macos {

// The tool's own error as an NSError reads. This layer raises failureWithoutError (a framework
// call answered NO and left its NSError nil), internalFault (an object this layer did not make,
// a C++ exception stopped at a framework callback), movieFormatUnavailable and outputPathNotUtf8.
inline PlatformError toolError(ToolErrorCode code) {
  return platform::toolError("NSError", code);
}

}  // namespace platform::macos

#ifdef __OBJC__
@class NSError;

namespace platform::macos {

// The error as the core reports it; nil becomes failureWithoutError.
PlatformError platformError(NSError* error);
std::optional<PlatformError> optionalPlatformError(NSError* error);

}  // namespace platform::macos
#endif
