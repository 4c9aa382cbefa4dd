#include "capture/ServiceCalls.h"

#include <atomic>
#include <memory>

#include "platform/OneShotWaiter.h"
#include "platform/ToolErrors.h"

namespace capture {

platform::Task<platform::ShareableContent> requestShareableContent(
    platform::ScreenCaptureService& service, platform::Queue& resumeQueue) {
  platform::OneShotWaiter<platform::ShareableContent> waiter("getShareableContent", resumeQueue);
  const platform::PlatformError withoutError =
      platform::toolError(service.errorTypeName(), platform::ToolErrorCode::failureWithoutError);
  service.getShareableContent(
      false, true,
      [waiter, withoutError](std::optional<platform::ShareableContent> content,
                             std::optional<platform::PlatformError> error) mutable {
        if (error) {
          waiter.fail(std::make_exception_ptr(*error));
        } else if (content) {
          waiter.resume(std::move(*content));
        } else {
          waiter.fail(std::make_exception_ptr(withoutError));
        }
      });
  co_return co_await waiter;
}

platform::Task<std::optional<platform::PlatformError>> completionOf(
    std::string label, platform::Queue& resumeQueue,
    std::function<void(platform::ErrorCompletion)> operation) {
  platform::OneShotWaiter<std::optional<platform::PlatformError>> waiter(std::move(label),
                                                                         resumeQueue);
  operation([waiter](std::optional<platform::PlatformError> error) mutable {
    waiter.resume(std::move(error));
  });
  co_return co_await waiter;
}

platform::Task<std::optional<platform::PlatformError>> completionWithin(
    std::chrono::nanoseconds limit, std::string label, platform::Dispatch& dispatch,
    std::function<void(platform::ErrorCompletion)> operation) {
  platform::OneShotWaiter<std::optional<platform::PlatformError>> waiter(std::move(label),
                                                                         dispatch.mainQueue());
  // Whichever of the completion and the time-out comes first resumes the waiter, once.
  auto settled = std::make_shared<std::atomic<bool>>(false);
  operation([waiter, settled](std::optional<platform::PlatformError> error) mutable {
    if (!settled->exchange(true)) waiter.resume(std::move(error));
  });
  dispatch.runAfter(limit, [waiter, settled]() mutable {
    if (!settled->exchange(true)) waiter.resume({});
  });
  co_return co_await waiter;
}

}  // namespace capture
