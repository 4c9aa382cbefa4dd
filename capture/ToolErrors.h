#pragma once

#include <cstdint>

#include "platform/PlatformError.h"
#include "platform/ScreenCaptureService.h"

namespace capture {

inline constexpr const char* kToolErrorDomain = "TessaloquinAudioCapture";

enum class ToolErrorCode : std::int64_t {
  noDisplay = 1,
  recordingNotFinished = 2,
  // The platform said it failed but gave no error to say why.
  failureWithoutError = 3,
  // 5, a movie another recorder holds, is raised by the platforms, which lock the movie
  // (platform/posix/OutputPathLock.h).
  // The output path is relative and the current directory cannot be determined.
  relativeOutputWithoutDirectory = 6,
  // The system refused a resource the tool needs, such as a file descriptor.
  resourceRefused = 9,
};

// The tool's own errors are of the platform's error type, so that a reader sees one kind.
platform::PlatformError toolError(const platform::ScreenCaptureService& service,
                                  ToolErrorCode code);

}  // namespace capture
