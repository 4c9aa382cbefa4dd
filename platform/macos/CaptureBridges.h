#pragma once

// The Objective-C objects ScreenCaptureKit calls back, each forwarding to a core object it holds
// only weakly. A C++ exception stops in the bridge and is reported as the tool's internal fault:
// to the stream delegate for the stream's callbacks and its sample buffers, to the recording
// output's delegate for its own. Objective-C++ only.

#include <memory>

#include "platform/ScreenCaptureService.h"

#ifdef __OBJC__
@protocol SCStreamDelegate;
@protocol SCStreamOutput;
@protocol SCRecordingOutputDelegate;

namespace platform::macos {

id<SCStreamDelegate> makeStreamDelegateBridge(std::weak_ptr<StreamDelegate> delegate);
id<SCStreamOutput> makeStreamOutputBridge(std::weak_ptr<StreamOutput> output,
                                          std::weak_ptr<StreamDelegate> faults);
id<SCRecordingOutputDelegate> makeRecordingOutputDelegateBridge(
    std::weak_ptr<RecordingOutputDelegate> delegate);

}  // namespace platform::macos
#endif
