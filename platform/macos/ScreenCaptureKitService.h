#pragma once

#include <memory>

#include "platform/ScreenCaptureService.h"

namespace platform::macos {

std::unique_ptr<ScreenCaptureService> makeScreenCaptureKitService();

}  // namespace platform::macos
