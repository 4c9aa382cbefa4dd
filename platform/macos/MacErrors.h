#pragma once

// Errors crossing from Foundation into the core, and the few this layer raises itself.

#include <cstdint>
#include <optional>

#include "platform/PlatformError.h"

namespace platform::macos {

inline constexpr const char* kToolErrorDomain = "TessaloquinAudioCapture";
// The domain's other codes are the capture engine's, and code 5 is platform/posix's.
enum class MacToolError : std::int64_t {
  // A framework call answered NO and left its NSError out parameter nil.
  failureWithoutError = 3,
  // An internal fault: the core handed back an object (queue, display, filter...) this layer did
  // not make.
  foreignObject = 4,
  // This Mac's recording output cannot write a QuickTime movie with H.264 video.
  movieFormatUnavailable = 7,
  // The output path is not valid UTF-8, which is how the framework would read its bytes.
  outputPathNotUtf8 = 8,
};

PlatformError toolError(MacToolError code);
// The internal fault (code 4) for a C++ exception stopped at a framework callback.
PlatformError exceptionAtBoundary();

}  // namespace platform::macos

#ifdef __OBJC__
@class NSError;

namespace platform::macos {

// The error as the core reports it; nil becomes failureWithoutError.
PlatformError platformError(NSError* error);
std::optional<PlatformError> optionalPlatformError(NSError* error);

}  // namespace platform::macos
#endif
