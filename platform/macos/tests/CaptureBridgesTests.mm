#import <ScreenCaptureKit/ScreenCaptureKit.h>
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "AudioSampleBuffers.h"
#include "platform/macos/CaptureBridges.h"

namespace {

NSError* streamError() {
  return [NSError errorWithDomain:@"SCStreamErrorDomain"
                             code:-3805
                         userInfo:@{NSLocalizedDescriptionKey : @"The stream stopped."}];
}

struct RecordingStreamDelegate : platform::StreamDelegate {
  void streamDidStopWithError(const platform::PlatformError& error) override {
    errors.push_back(error);
  }
  std::vector<platform::PlatformError> errors;
};

struct RecordingStreamOutput : platform::StreamOutput {
  void streamDidOutputSampleBuffer(const platform::SampleBuffer& sampleBuffer,
                                   platform::StreamOutputType type) override {
    types.push_back(static_cast<std::int64_t>(type));
    std::size_t lengthAtOffset = 0;
    std::size_t totalLength = 0;
    const std::byte* data = nullptr;
    const platform::BlockBuffer* block = sampleBuffer.dataBuffer();
    if (sampleBuffer.dataIsReady() && block != nullptr &&
        block->dataPointer(0, lengthAtOffset, totalLength, data) == 0) {
      firstBytes.push_back(data);
    }
  }
  std::vector<std::int64_t> types;
  std::vector<const std::byte*> firstBytes;
};

struct RecordingOutputEvents : platform::RecordingOutputDelegate {
  void recordingOutputDidStartRecording() override { events.push_back("start"); }
  void recordingOutputDidFinishRecording() override { events.push_back("finish"); }
  void recordingOutputDidFailWithError(const platform::PlatformError& error) override {
    events.push_back("fail " + error.domain() + " " + std::to_string(error.code()));
  }
  std::vector<std::string> events;
};

TEST(CaptureBridges, StreamDelegateBridgePassesTheStopErrorOn) {
  auto delegate = std::make_shared<RecordingStreamDelegate>();
  id<SCStreamDelegate> bridge = platform::macos::makeStreamDelegateBridge(delegate);
  SCStream* stream = nil;
  [bridge stream:stream didStopWithError:streamError()];
  ASSERT_EQ(delegate->errors.size(), 1u);
  EXPECT_EQ(delegate->errors[0].typeName(), "NSError");
  EXPECT_EQ(delegate->errors[0].domain(), "SCStreamErrorDomain");
  EXPECT_EQ(delegate->errors[0].code(), -3805);
  EXPECT_EQ(delegate->errors[0].description(), "The stream stopped.");
}

TEST(CaptureBridges, BridgesDoNotKeepTheCoreObjectsAlive) {
  std::weak_ptr<RecordingStreamDelegate> watched;
  id<SCStreamDelegate> bridge;
  {
    auto delegate = std::make_shared<RecordingStreamDelegate>();
    watched = delegate;
    bridge = platform::macos::makeStreamDelegateBridge(delegate);
  }
  EXPECT_TRUE(watched.expired());
  SCStream* stream = nil;
  [bridge stream:stream didStopWithError:streamError()];  // must be a no-op, not a crash
}

TEST(CaptureBridges, StreamOutputBridgeLendsTheBufferWithItsRawType) {
  auto output = std::make_shared<RecordingStreamOutput>();
  id<SCStreamOutput> bridge = platform::macos::makeStreamOutputBridge(output);
  std::array<std::byte, 16> bytes{};
  const auto sample = macos_test::makeAudioSampleBuffer({bytes}, true);
  SCStream* stream = nil;
  for (const NSInteger raw : {1, 2, 0, 7}) {
    [bridge stream:stream
        didOutputSampleBuffer:sample.get()
                       ofType:static_cast<SCStreamOutputType>(raw)];
  }
  EXPECT_EQ(output->types, (std::vector<std::int64_t>{1, 2, 0, 7}));
  ASSERT_EQ(output->firstBytes.size(), 4u);
  for (const std::byte* first : output->firstBytes) EXPECT_EQ(first, bytes.data());
}

TEST(CaptureBridges, RecordingDelegateBridgePassesEachEventToItsOwnCallback) {
  auto delegate = std::make_shared<RecordingOutputEvents>();
  id<SCRecordingOutputDelegate> bridge =
      platform::macos::makeRecordingOutputDelegateBridge(delegate);
  SCRecordingOutput* recordingOutput = nil;
  [bridge recordingOutputDidStartRecording:recordingOutput];
  [bridge recordingOutput:recordingOutput didFailWithError:streamError()];
  [bridge recordingOutputDidFinishRecording:recordingOutput];
  EXPECT_EQ(delegate->events,
            (std::vector<std::string>{"start", "fail SCStreamErrorDomain -3805", "finish"}));
}

}  // namespace
