// NSErrors from completions, out parameters and delegate callbacks become PlatformError values,
// on whichever framework thread reported them; the core decides what each one means.

#include "platform/macos/MacErrors.h"

#import <Foundation/Foundation.h>

#include "platform/macos/FoundationText.h"

namespace platform::macos {

PlatformError toolError(MacToolError code) {
  const char* description = "";
  switch (code) {
    case MacToolError::failureWithoutError:
      description = "The platform reported a failure without an error.";
      break;
    case MacToolError::foreignObject:
      description = "An object handed to the platform layer was not made by it.";
      break;
    case MacToolError::movieFormatUnavailable:
      description = "The platform cannot write a QuickTime movie with H.264 video.";
      break;
    case MacToolError::outputPathNotUtf8:
      description = "The output path is not valid UTF-8.";
      break;
  }
  return PlatformError("NSError", kToolErrorDomain, static_cast<std::int64_t>(code), description);
}

PlatformError exceptionAtBoundary() {
  return PlatformError("NSError", kToolErrorDomain,
                       static_cast<std::int64_t>(MacToolError::foreignObject),
                       "A C++ exception reached a framework callback.");
}

PlatformError platformError(NSError* error) {
  if (error == nil) return toolError(MacToolError::failureWithoutError);
  // The run-time class, not NSError: a subclass reports its own name.
  return PlatformError(utf8String(NSStringFromClass([error class])), utf8String(error.domain),
                       static_cast<std::int64_t>(error.code),
                       utf8String(error.localizedDescription));
}

std::optional<PlatformError> optionalPlatformError(NSError* error) {
  if (error == nil) return std::nullopt;
  return platformError(error);
}

}  // namespace platform::macos
