#include "capture/ServiceCalls.h"

#include <atomic>
#include <memory>

#include "platform/OneShotWaiter.h"
#include "platform/ToolErrors.h"

namespace capture {

namespace {

// Whichever of the service's answer and the time-out comes first settles a call, once; copies
// share the claim.
class FirstAnswer {
 public:
  bool claim() { return !settled_->exchange(true); }

 private:
  std::shared_ptr<std::atomic<bool>> settled_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace

platform::Task<platform::ShareableContent> requestShareableContent(
    platform::ScreenCaptureService& service, platform::Dispatch& dispatch) {
  platform::OneShotWaiter<platform::ShareableContent> waiter("getShareableContent",
                                                             dispatch.mainQueue());
  const std::string errorType = service.errorTypeName();
  const platform::PlatformError withoutError =
      platform::toolError(errorType, platform::ToolErrorCode::failureWithoutError);
  FirstAnswer first;
  service.getShareableContent(
      false, true,
      [waiter, withoutError, first](std::optional<platform::ShareableContent> content,
                                    std::optional<platform::PlatformError> error) mutable {
        if (!first.claim()) return;
        if (error) {
          waiter.fail(std::make_exception_ptr(*error));
        } else if (content) {
          waiter.resume(std::move(*content));
        } else {
          waiter.fail(std::make_exception_ptr(withoutError));
        }
      });
  dispatch.runAfter(kStartWait, [waiter, first, errorType]() mutable {
    if (!first.claim()) return;
    waiter.fail(std::make_exception_ptr(
        platform::toolError(errorType, platform::ToolErrorCode::platformUnanswered)));
  });
  co_return co_await waiter;
}

platform::Task<std::optional<platform::PlatformError>> completionWithin(
    std::chrono::nanoseconds limit, std::string label, platform::Dispatch& dispatch,
    std::function<void(platform::ErrorCompletion)> operation,
    std::optional<platform::PlatformError> pastLimit) {
  platform::OneShotWaiter<std::optional<platform::PlatformError>> waiter(std::move(label),
                                                                         dispatch.mainQueue());
  FirstAnswer first;
  operation([waiter, first](std::optional<platform::PlatformError> error) mutable {
    if (first.claim()) waiter.resume(std::move(error));
  });
  dispatch.runAfter(limit, [waiter, first, pastLimit = std::move(pastLimit)]() mutable {
    if (first.claim()) waiter.resume(std::move(pastLimit));
  });
  co_return co_await waiter;
}

}  // namespace capture
