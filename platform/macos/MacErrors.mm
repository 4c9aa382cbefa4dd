// NSErrors from completions, out parameters and delegate callbacks become PlatformError values,
// on whichever framework thread reported them; the core decides what each one means.

#include "platform/macos/MacErrors.h"

#import <Foundation/Foundation.h>

#include "platform/macos/FoundationText.h"

namespace platform::macos {

PlatformError platformError(NSError* error) {
  if (error == nil) return toolError(ToolErrorCode::failureWithoutError);
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
