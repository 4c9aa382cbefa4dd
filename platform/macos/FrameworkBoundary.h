#pragma once

// No C++ exception may unwind into a framework's frames: every callback that the frameworks call
// runs its body through atFrameworkBoundary.

#include "platform/PlatformError.h"
#include "platform/macos/MacErrors.h"

namespace platform::macos {

// Runs `call`; on any exception hands the tool's internal fault to `report`. A fault while
// reporting is dropped, since nobody is left to tell.
template <typename Call, typename Report>
void atFrameworkBoundary(Call&& call, Report&& report) noexcept {
  try {
    call();
  } catch (...) {
    try {
      report(toolError(ToolErrorCode::internalFault));
    } catch (...) {
    }
  }
}

}  // namespace platform::macos
