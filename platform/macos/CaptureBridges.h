#pragma once

// The Objective-C objects ScreenCaptureKit calls back, each forwarding to a core object it holds
// only weakly. Objective-C++ only.

#include <memory>

#include "platform/ScreenCaptureService.h"

#ifdef __OBJC__
@protocol SCStreamDelegate;
@protocol SCStreamOutput;
@protocol SCRecordingOutputDelegate;

namespace platform::macos {

id<SCStreamDelegate> makeStreamDelegateBridge(std::weak_ptr<StreamDelegate> delegate);
id<SCStreamOutput> makeStreamOutputBridge(std::weak_ptr<StreamOutput> output);
id<SCRecordingOutputDelegate> makeRecordingOutputDelegateBridge(
    std::weak_ptr<RecordingOutputDelegate> delegate);

}  // namespace platform::macos
#endif
