#pragma once

#include <cstdint>
#include <string>

#include "platform/PlatformError.h"

typedef struct _GError GError;

namespace platform::linux_gst {

// Every error of the Linux service is a "GError": GStreamer's own pass through with their
// domain and code; the service's own failures use the domain below (see README.md).
inline constexpr const char* kErrorTypeName = "GError";
inline constexpr const char* kServiceErrorDomain = "TessaloquinAudioCapture.Linux";

enum class ServiceErrorCode : std::int64_t {
  serverUnreachable = 1,
  serverTimedOut = 2,
  elementMissing = 3,
  refusedToStart = 4,
  drainTimedOut = 5,
  foreignObject = 6,
  descriptorsRefused = 11,
  mediaUnavailable = 12,
  memoryRefused = 13,
};

PlatformError fromGError(const GError* error);
PlatformError serviceError(ServiceErrorCode code, const std::string& description);

}  // namespace platform::linux_gst
