// The screen-capture service over ScreenCaptureKit: a thin translation, every decision is the
// core's.
//
// create: getShareableContent asks SCShareableContent, whose completion runs on a framework
//   thread; the content filter, stream configuration, stream and recording output are made on
//   the caller's thread, with values passed through exactly as given.
// start: outputs are registered on the libdispatch queue the core hands in; the start completion
//   runs on a framework thread.
// samples: see CaptureBridges.mm.
// stop: the stop completion runs on a framework thread; the recording output's delegate reports
//   the file's end on its own, possibly first.
// finish: once the file has ended (or the start failed), the core has the stream remove its
//   outputs, on the main queue; the wrappers release their framework objects when the core lets
//   go of them. Completions capture the core's callback, never a wrapper, and are called exactly
//   once through atFrameworkBoundary.

#include "platform/macos/ScreenCaptureKitService.h"

#import <AVFoundation/AVFoundation.h>
#import <CoreMedia/CoreMedia.h>
#import <Foundation/Foundation.h>
#import <ScreenCaptureKit/ScreenCaptureKit.h>

#include <optional>
#include <utility>
#include <vector>

#include "platform/macos/CaptureBridges.h"
#include "platform/macos/FoundationText.h"
#include "platform/macos/FrameworkBoundary.h"
#include "platform/macos/Libdispatch.h"
#include "platform/macos/MacErrors.h"
#include "platform/posix/EarlierMovie.h"
#include "platform/posix/OutputPathLock.h"

namespace platform::macos {

namespace {

struct SCKDisplay final : Display {
  explicit SCKDisplay(SCDisplay* display) : display(display) {}
  SCDisplay* display;
};

struct SCKRunningApplication final : RunningApplication {
  explicit SCKRunningApplication(SCRunningApplication* application) : application(application) {}
  std::int32_t processID() const override { return application.processID; }
  SCRunningApplication* application;
};

struct SCKContentFilter final : ContentFilter {
  explicit SCKContentFilter(SCContentFilter* filter) : filter(filter) {}
  SCContentFilter* filter;
};

// The headers do not say who retains a recording output's delegate; this keeps the bridge as long
// as the output. The framework creates the file itself, so the claim on its path stands in for a
// lock on the file, and it too lasts as long as the output.
struct SCKRecordingOutput final : RecordingOutput {
  SCKRecordingOutput(SCRecordingOutput* output, id<SCRecordingOutputDelegate> bridge,
                     posix::OutputPathLock claim)
      : output(output), bridge(bridge), claim(std::move(claim)) {}
  SCRecordingOutput* output;
  id<SCRecordingOutputDelegate> bridge;
  posix::OutputPathLock claim;
};

template <typename Made, typename Given>
const Made& madeHere(const std::shared_ptr<Given>& object) {
  const auto* made = dynamic_cast<const Made*>(object.get());
  if (made == nullptr) throw toolError(ToolErrorCode::internalFault);
  return *made;
}

ShareableContent contentOf(SCShareableContent* content) {
  ShareableContent result;
  for (SCDisplay* display in content.displays) {
    result.displays.push_back(std::make_shared<SCKDisplay>(display));
  }
  for (SCRunningApplication* application in content.applications) {
    result.applications.push_back(std::make_shared<SCKRunningApplication>(application));
  }
  return result;
}

using ErrorBlock = void (^)(NSError*);

// A fault before the completion is called becomes its error; one inside it cannot be reported a
// second time.
ErrorBlock completionBlock(ErrorCompletion completion) {
  return ^(NSError* error) {
    bool called = false;
    atFrameworkBoundary(
        [&] {
          auto outcome = optionalPlatformError(error);
          called = true;
          completion(std::move(outcome));
        },
        [&](const PlatformError& fault) {
          if (!called) completion(fault);
        });
  };
}

// The headers do not say who retains a stream's delegate and outputs; this wrapper keeps strong
// references to every bridge and recording output for the stream's whole life.
class SCKStream final : public Stream {
 public:
  SCKStream(SCStream* stream, id<SCStreamDelegate> delegateBridge,
            std::weak_ptr<StreamDelegate> delegate)
      : stream_(stream), delegateBridge_(delegateBridge), delegate_(std::move(delegate)) {}

  void addStreamOutput(std::weak_ptr<StreamOutput> output, StreamOutputType type,
                       std::shared_ptr<Queue> sampleHandlerQueue) override {
    dispatch_queue_t queue = nativeQueue(sampleHandlerQueue);
    id<SCStreamOutput> bridge = makeStreamOutputBridge(std::move(output), delegate_);
    NSError* error = nil;
    const auto outputType = static_cast<SCStreamOutputType>(static_cast<std::int64_t>(type));
    if (![stream_ addStreamOutput:bridge type:outputType sampleHandlerQueue:queue error:&error]) {
      throw platformError(error);
    }
    outputBridges_.push_back({bridge, outputType});
  }

  void addRecordingOutput(std::shared_ptr<RecordingOutput> recordingOutput) override {
    const auto& output = madeHere<SCKRecordingOutput>(recordingOutput);
    NSError* error = nil;
    if (![stream_ addRecordingOutput:output.output error:&error]) throw platformError(error);
    recordingOutputs_.push_back(std::move(recordingOutput));
  }

  void startCapture(ErrorCompletion completion) override {
    [stream_ startCaptureWithCompletionHandler:completionBlock(std::move(completion))];
  }

  void stopCapture(ErrorCompletion completion) override {
    [stream_ stopCaptureWithCompletionHandler:completionBlock(std::move(completion))];
  }

  // The bridges and recording outputs stay referenced here until the wrapper goes, so that a
  // callback already under way still finds them. A refusal is not reported: the file has ended
  // by now, and the outputs stay as they were.
  void removeOutputs() override {
    for (const auto& [bridge, type] : outputBridges_) {
      [stream_ removeStreamOutput:bridge type:type error:nil];
    }
    for (const auto& output : recordingOutputs_) {
      [stream_ removeRecordingOutput:madeHere<SCKRecordingOutput>(output).output error:nil];
    }
  }

 private:
  SCStream* stream_;
  [[maybe_unused]] id<SCStreamDelegate> delegateBridge_;  // only kept alive
  std::weak_ptr<StreamDelegate> delegate_;  // where the output bridges report their faults
  struct OutputBridge {
    id<SCStreamOutput> bridge;
    SCStreamOutputType type;
  };
  std::vector<OutputBridge> outputBridges_;
  std::vector<std::shared_ptr<RecordingOutput>> recordingOutputs_;
};

// The framework reads a path's bytes as UTF-8, so other bytes would name another file.
NSURL* fileURL(const std::filesystem::path& path) {
  NSString* string = foundationString(path.native());
  if (string == nil) throw toolError(ToolErrorCode::outputPathNotUtf8);
  return [NSURL fileURLWithPath:string isDirectory:NO];
}

// Without both, the file would not be the movie the tool promises.
void requireAvailable(SCRecordingOutputConfiguration* configuration, AVFileType fileType,
                      AVVideoCodecType codecType) {
  if (![configuration.availableOutputFileTypes containsObject:fileType] ||
      ![configuration.availableVideoCodecTypes containsObject:codecType]) {
    throw toolError(ToolErrorCode::movieFormatUnavailable);
  }
}

AVFileType fileTypeOf(FileType type) {
  switch (type) {
    case FileType::quickTimeMovie:
      return AVFileTypeQuickTimeMovie;
  }
  return AVFileTypeQuickTimeMovie;
}

AVVideoCodecType codecTypeOf(VideoCodecType type) {
  switch (type) {
    case VideoCodecType::h264:
      return AVVideoCodecTypeH264;
  }
  return AVVideoCodecTypeH264;
}

// Content or an error, exactly once; a fault while reading the content becomes the error.
void deliverContent(const ContentCompletion& completion, SCShareableContent* content,
                    NSError* error) {
  bool called = false;
  atFrameworkBoundary(
      [&] {
        std::optional<ShareableContent> delivered;
        std::optional<PlatformError> failure;
        if (error != nil) {
          failure = platformError(error);
        } else if (content != nil) {
          delivered = contentOf(content);
        }
        called = true;
        completion(std::move(delivered), std::move(failure));
      },
      [&](const PlatformError& fault) {
        if (!called) completion(std::nullopt, fault);
      });
}

class SCKService final : public ScreenCaptureService {
 public:
  std::string errorTypeName() const override { return "NSError"; }

  void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                           ContentCompletion completion) override {
    [SCShareableContent
        getShareableContentExcludingDesktopWindows:excludingDesktopWindows ? YES : NO
                               onScreenWindowsOnly:onScreenWindowsOnly ? YES : NO
                                 completionHandler:^(SCShareableContent* content, NSError* error) {
                                   deliverContent(completion, content, error);
                                 }];
  }

  std::shared_ptr<ContentFilter> makeContentFilter(
      std::shared_ptr<const Display> display,
      std::vector<std::shared_ptr<const RunningApplication>> excludingApplications) override {
    NSMutableArray<SCRunningApplication*>* excluded =
        [NSMutableArray arrayWithCapacity:excludingApplications.size()];
    for (const auto& application : excludingApplications) {
      [excluded addObject:madeHere<SCKRunningApplication>(application).application];
    }
    SCContentFilter* filter =
        [[SCContentFilter alloc] initWithDisplay:madeHere<SCKDisplay>(display).display
                           excludingApplications:excluded
                                exceptingWindows:@[]];
    return std::make_shared<SCKContentFilter>(filter);
  }

  std::shared_ptr<Stream> makeStream(std::shared_ptr<ContentFilter> filter,
                                     const StreamConfiguration& values,
                                     std::weak_ptr<StreamDelegate> delegate) override {
    const SCKContentFilter& contentFilter = madeHere<SCKContentFilter>(filter);
    SCStreamConfiguration* configuration = [[SCStreamConfiguration alloc] init];
    configuration.width = static_cast<size_t>(values.width);
    configuration.height = static_cast<size_t>(values.height);
    configuration.minimumFrameInterval =
        CMTimeMake(values.minimumFrameInterval.value, values.minimumFrameInterval.timescale);
    configuration.queueDepth = static_cast<NSInteger>(values.queueDepth);
    configuration.showsCursor = values.showsCursor ? YES : NO;
    configuration.capturesAudio = values.capturesAudio ? YES : NO;
    configuration.sampleRate = static_cast<NSInteger>(values.sampleRate);
    configuration.channelCount = static_cast<NSInteger>(values.channelCount);
    configuration.excludesCurrentProcessAudio = values.excludesCurrentProcessAudio ? YES : NO;
    configuration.captureMicrophone = values.captureMicrophone ? YES : NO;
    configuration.microphoneCaptureDeviceID =
        values.microphoneCaptureDeviceID ? foundationString(*values.microphoneCaptureDeviceID)
                                         : nil;
    id<SCStreamDelegate> bridge = makeStreamDelegateBridge(delegate);
    SCStream* stream = [[SCStream alloc] initWithFilter:contentFilter.filter
                                          configuration:configuration
                                               delegate:bridge];
    return std::make_shared<SCKStream>(stream, bridge, std::move(delegate));
  }

  std::shared_ptr<RecordingOutput> makeRecordingOutput(
      const RecordingOutputConfiguration& values,
      std::weak_ptr<RecordingOutputDelegate> delegate) override {
    SCRecordingOutputConfiguration* configuration = [[SCRecordingOutputConfiguration alloc] init];
    const AVFileType fileType = fileTypeOf(values.outputFileType);
    const AVVideoCodecType codecType = codecTypeOf(values.videoCodecType);
    [configuration setOutputURL:fileURL(values.outputURL)];
    requireAvailable(configuration, fileType, codecType);
    std::optional<posix::OutputPathLock> claim = posix::OutputPathLock::claim(values.outputURL);
    if (!claim) throw toolError(ToolErrorCode::outputHeld);
    posix::removeEarlierMovie(values.outputURL);
    [configuration setOutputFileType:fileType];
    [configuration setVideoCodecType:codecType];
    id<SCRecordingOutputDelegate> bridge = makeRecordingOutputDelegateBridge(std::move(delegate));
    SCRecordingOutput* output = [[SCRecordingOutput alloc] initWithConfiguration:configuration
                                                                        delegate:bridge];
    return std::make_shared<SCKRecordingOutput>(output, bridge, std::move(*claim));
  }
};

}  // namespace

std::unique_ptr<ScreenCaptureService> makeScreenCaptureKitService() {
  return std::make_unique<SCKService>();
}

}  // namespace platform::macos
