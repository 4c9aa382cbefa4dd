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
// continues on the main queue, whichever thread the service completes on; no thread waits.

// How long the probe's and the start's calls may go unanswered: a service that never calls back
// fails the stage rather than holding the tool, and with it the parent's stop, for ever.
inline constexpr std::chrono::seconds kStartWait{30};

// The shareable content with desktop windows included and on-screen windows only. Throws the
// service's error, or the tool's own when the service gave neither content nor an error, or did
// not answer within kStartWait.
platform::Task<platform::ShareableContent> requestShareableContent(
    platform::ScreenCaptureService& service, platform::Dispatch& dispatch);

// Runs `operation` with a completion and yields the error it completed with, if any, but waits
// for at most `limit`: a service that never calls back must not hold the caller for ever. Past
// that it yields `pastLimit`, and the completion, should it come, is dropped.
platform::Task<std::optional<platform::PlatformError>> completionWithin(
    std::chrono::nanoseconds limit, std::string label, platform::Dispatch& dispatch,
    std::function<void(platform::ErrorCompletion)> operation,
    std::optional<platform::PlatformError> pastLimit);

}  // namespace capture
