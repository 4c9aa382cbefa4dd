#include "capture/ToolErrors.h"

namespace capture {

namespace {

const char* descriptionOf(ToolErrorCode code) {
  switch (code) {
    case ToolErrorCode::noDisplay:
      return "No display is available for audio capture.";
    case ToolErrorCode::recordingNotFinished:
      return "The recording file was not finished.";
    case ToolErrorCode::failureWithoutError:
      return "The platform reported a failure without an error.";
    case ToolErrorCode::relativeOutputWithoutDirectory:
      return "The output path is relative and the current directory is unknown.";
    case ToolErrorCode::resourceRefused:
      return "The system refused a resource the tool needs.";
  }
  return "";
}

}  // namespace

platform::PlatformError toolError(const platform::ScreenCaptureService& service,
                                  ToolErrorCode code) {
  return platform::PlatformError(service.errorTypeName(), kToolErrorDomain,
                                 static_cast<std::int64_t>(code), descriptionOf(code));
}

}  // namespace capture
