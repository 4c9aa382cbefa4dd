// Callbacks from ScreenCaptureKit into the core.
//
// create: the service makes one bridge per delegate or output and keeps a strong reference to
//   each for the stream's whole life.
// samples: stream:didOutputSampleBuffer:ofType: runs on the sample queue given with the output;
//   the buffer is lent to the core for the call as floats (see PcmSamples.h), the type passed on
//   by its raw value.
// stop / finish: stream:didStopWithError: and the three recording callbacks run on framework
//   threads and are passed on as they come.
// Every body runs in its own autorelease pool, so that an hour of callbacks leaves nothing
// behind, and inside atFrameworkBoundary. A core object that is gone by then is simply not called.

#include "platform/macos/CaptureBridges.h"

#import <ScreenCaptureKit/ScreenCaptureKit.h>

#include "platform/PcmSamples.h"
#include "platform/macos/CoreMediaSampleBuffer.h"
#include "platform/macos/FrameworkBoundary.h"
#include "platform/macos/MacErrors.h"

using platform::macos::atFrameworkBoundary;

@interface TQStreamDelegateBridge : NSObject <SCStreamDelegate>
- (instancetype)initWithDelegate:(std::weak_ptr<platform::StreamDelegate>)delegate;
@end

@implementation TQStreamDelegateBridge {
  std::weak_ptr<platform::StreamDelegate> _delegate;
}

- (instancetype)initWithDelegate:(std::weak_ptr<platform::StreamDelegate>)delegate {
  if ((self = [super init])) _delegate = std::move(delegate);
  return self;
}

- (void)stream:(SCStream*)stream didStopWithError:(NSError*)error {
  @autoreleasepool {
    auto delegate = _delegate.lock();
    if (!delegate) return;
    atFrameworkBoundary(
        [&] { delegate->streamDidStopWithError(platform::macos::platformError(error)); },
        [&](const platform::PlatformError& fault) { delegate->streamDidStopWithError(fault); });
  }
}

@end

@interface TQStreamOutputBridge : NSObject <SCStreamOutput>
- (instancetype)initWithOutput:(std::weak_ptr<platform::StreamOutput>)output
                        faults:(std::weak_ptr<platform::StreamDelegate>)faults;
@end

@implementation TQStreamOutputBridge {
  std::weak_ptr<platform::StreamOutput> _output;
  std::weak_ptr<platform::StreamDelegate> _faults;
}

- (instancetype)initWithOutput:(std::weak_ptr<platform::StreamOutput>)output
                        faults:(std::weak_ptr<platform::StreamDelegate>)faults {
  if ((self = [super init])) {
    _output = std::move(output);
    _faults = std::move(faults);
  }
  return self;
}

- (void)stream:(SCStream*)stream
    didOutputSampleBuffer:(CMSampleBufferRef)sampleBuffer
                   ofType:(SCStreamOutputType)type {
  @autoreleasepool {
    atFrameworkBoundary(
        [&] {
          auto output = _output.lock();
          if (!output) return;
          const platform::macos::CoreMediaSampleBuffer buffer(sampleBuffer);
          const auto format = buffer.audioFormat();
          const platform::PcmSampleBuffer samples(
              buffer, format ? platform::sampleEncodingOf(*format) : std::nullopt);
          output->streamDidOutputSampleBuffer(
              samples, static_cast<platform::StreamOutputType>(static_cast<std::int64_t>(type)));
        },
        [&](const platform::PlatformError& fault) {
          if (auto faults = _faults.lock()) faults->streamDidStopWithError(fault);
        });
  }
}

@end

@interface TQRecordingOutputDelegateBridge : NSObject <SCRecordingOutputDelegate>
- (instancetype)initWithDelegate:(std::weak_ptr<platform::RecordingOutputDelegate>)delegate;
@end

@implementation TQRecordingOutputDelegateBridge {
  std::weak_ptr<platform::RecordingOutputDelegate> _delegate;
}

- (instancetype)initWithDelegate:(std::weak_ptr<platform::RecordingOutputDelegate>)delegate {
  if ((self = [super init])) _delegate = std::move(delegate);
  return self;
}

// A fault in any of the three ends the recording as a failure, so that the stop does not wait
// for a finish that was lost.
- (void)passOn:(void (^)(platform::RecordingOutputDelegate&))event {
  @autoreleasepool {
    auto delegate = _delegate.lock();
    if (!delegate) return;
    atFrameworkBoundary([&] { event(*delegate); },
                        [&](const platform::PlatformError& fault) {
                          delegate->recordingOutputDidFailWithError(fault);
                        });
  }
}

- (void)recordingOutputDidStartRecording:(SCRecordingOutput*)recordingOutput {
  [self passOn:^(platform::RecordingOutputDelegate& delegate) {
    delegate.recordingOutputDidStartRecording();
  }];
}

- (void)recordingOutputDidFinishRecording:(SCRecordingOutput*)recordingOutput {
  [self passOn:^(platform::RecordingOutputDelegate& delegate) {
    delegate.recordingOutputDidFinishRecording();
  }];
}

- (void)recordingOutput:(SCRecordingOutput*)recordingOutput didFailWithError:(NSError*)error {
  [self passOn:^(platform::RecordingOutputDelegate& delegate) {
    delegate.recordingOutputDidFailWithError(platform::macos::platformError(error));
  }];
}

@end

namespace platform::macos {

id<SCStreamDelegate> makeStreamDelegateBridge(std::weak_ptr<StreamDelegate> delegate) {
  return [[TQStreamDelegateBridge alloc] initWithDelegate:std::move(delegate)];
}

id<SCStreamOutput> makeStreamOutputBridge(std::weak_ptr<StreamOutput> output,
                                          std::weak_ptr<StreamDelegate> faults) {
  return [[TQStreamOutputBridge alloc] initWithOutput:std::move(output) faults:std::move(faults)];
}

id<SCRecordingOutputDelegate> makeRecordingOutputDelegateBridge(
    std::weak_ptr<RecordingOutputDelegate> delegate) {
  return [[TQRecordingOutputDelegateBridge alloc] initWithDelegate:std::move(delegate)];
}

}  // namespace platform::macos
