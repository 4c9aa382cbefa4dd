#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "platform/Dispatch.h"
#include "platform/ScreenCaptureService.h"
#include "platform/Task.h"

namespace capture {

// The service's completion-handler calls as awaitable operations. The awaiting coroutine
// continues on `resumeQueue`, whichever thread the service completes on; no thread waits.

// The shareable content with desktop windows included and on-screen windows only. Throws the
// service's error, or the tool's own when the service gave neither content nor an error.
platform::Task<platform::ShareableContent> requestShareableContent(
    platform::ScreenCaptureService& service, platform::Queue& resumeQueue);

// Runs `operation` with a completion and yields the error it completed with, if any.
platform::Task<std::optional<platform::PlatformError>> completionOf(
    std::string label, platform::Queue& resumeQueue,
    std::function<void(platform::ErrorCompletion)> operation);

// Like completionOf(), continuing on the main queue, but for at most `limit`: a service that
// never calls back must not hold the caller for ever. Past that it yields no error, and the
// completion, should it come, is dropped.
platform::Task<std::optional<platform::PlatformError>> completionWithin(
    std::chrono::nanoseconds limit, std::string label, platform::Dispatch& dispatch,
    std::function<void(platform::ErrorCompletion)> operation);

}  // namespace capture
