// Callbacks from ScreenCaptureKit into the core.
//
// create: the service makes one bridge per delegate or output; the C++ stream and recording
//   output wrappers keep them alive, since the framework holds its delegates weakly.
// samples: stream:didOutputSampleBuffer:ofType: runs on the sample queue given with the output;
//   the buffer is lent to the core for the call, the type passed on by its raw value.
// stop / finish: stream:didStopWithError: and the three recording callbacks run on framework
//   threads and are passed on as they come.
// A core object that is gone by then is simply not called.

#include "platform/macos/CaptureBridges.h"

#import <ScreenCaptureKit/ScreenCaptureKit.h>

#include "platform/macos/CoreMediaSampleBuffer.h"
#include "platform/macos/MacErrors.h"

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
  if (auto delegate = _delegate.lock()) {
    delegate->streamDidStopWithError(platform::macos::platformError(error));
  }
}

@end

@interface TQStreamOutputBridge : NSObject <SCStreamOutput>
- (instancetype)initWithOutput:(std::weak_ptr<platform::StreamOutput>)output;
@end

@implementation TQStreamOutputBridge {
  std::weak_ptr<platform::StreamOutput> _output;
}

- (instancetype)initWithOutput:(std::weak_ptr<platform::StreamOutput>)output {
  if ((self = [super init])) _output = std::move(output);
  return self;
}

- (void)stream:(SCStream*)stream
    didOutputSampleBuffer:(CMSampleBufferRef)sampleBuffer
                   ofType:(SCStreamOutputType)type {
  if (auto output = _output.lock()) {
    const platform::macos::CoreMediaSampleBuffer buffer(sampleBuffer);
    output->streamDidOutputSampleBuffer(
        buffer, static_cast<platform::StreamOutputType>(static_cast<std::int64_t>(type)));
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

- (void)recordingOutputDidStartRecording:(SCRecordingOutput*)recordingOutput {
  if (auto delegate = _delegate.lock()) delegate->recordingOutputDidStartRecording();
}

- (void)recordingOutputDidFinishRecording:(SCRecordingOutput*)recordingOutput {
  if (auto delegate = _delegate.lock()) delegate->recordingOutputDidFinishRecording();
}

- (void)recordingOutput:(SCRecordingOutput*)recordingOutput didFailWithError:(NSError*)error {
  if (auto delegate = _delegate.lock()) {
    delegate->recordingOutputDidFailWithError(platform::macos::platformError(error));
  }
}

@end

namespace platform::macos {

id<SCStreamDelegate> makeStreamDelegateBridge(std::weak_ptr<StreamDelegate> delegate) {
  return [[TQStreamDelegateBridge alloc] initWithDelegate:std::move(delegate)];
}

id<SCStreamOutput> makeStreamOutputBridge(std::weak_ptr<StreamOutput> output) {
  return [[TQStreamOutputBridge alloc] initWithOutput:std::move(output)];
}

id<SCRecordingOutputDelegate> makeRecordingOutputDelegateBridge(
    std::weak_ptr<RecordingOutputDelegate> delegate) {
  return [[TQRecordingOutputDelegateBridge alloc] initWithDelegate:std::move(delegate)];
}

}  // namespace platform::macos
