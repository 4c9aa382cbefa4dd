#pragma once

#include <memory>

#include "platform/Dispatch.h"

namespace platform::macos {

// Queues, timers and the SIGINT source over libdispatch; the main queue is serviced by the main
// thread's run loop.
std::unique_ptr<Dispatch> makeLibdispatch();

}  // namespace platform::macos

#ifdef __OBJC__
#include <dispatch/dispatch.h>

namespace platform::macos {

// The libdispatch queue under a queue made by makeSerialQueue(); throws PlatformError for any
// other queue.
dispatch_queue_t nativeQueue(const std::shared_ptr<Queue>& queue);

}  // namespace platform::macos
#endif
