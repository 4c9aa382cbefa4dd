#import <ScreenCaptureKit/ScreenCaptureKit.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "AudioSampleBuffers.h"
#include "capture/AudioStatistics.h"
#include "platform/macos/CaptureBridges.h"

namespace {

NSError* streamError() {
  return [NSError errorWithDomain:SCStreamErrorDomain
                             code:SCStreamErrorSystemStoppedStream
                         userInfo:@{NSLocalizedDescriptionKey : @"The stream stopped."}];
}

const std::string kStreamErrorDomain = SCStreamErrorDomain.UTF8String;

// Keeps what the bridge lends it: each raw type, where each buffer's data starts, its level.
struct RecordingStreamOutput : platform::StreamOutput {
  void streamDidOutputSampleBuffer(const platform::SampleBuffer& sampleBuffer,
                                   platform::StreamOutputType type) override {
    types.push_back(static_cast<std::int64_t>(type));
    statistics.add(sampleBuffer);
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
  capture::AudioStatistics statistics;
};

struct RecordingOutputEvents : platform::RecordingOutputDelegate {
  void recordingOutputDidStartRecording() override { events.push_back("start"); }
  void recordingOutputDidFinishRecording() override { events.push_back("finish"); }
  void recordingOutputDidFailWithError(const platform::PlatformError& error) override {
    events.push_back("fail " + error.domain() + " " + std::to_string(error.code()));
  }
  void recordingOutputDidStallWriting() override { events.push_back("stall"); }
  void recordingOutputDidResumeWriting(double) override { events.push_back("resume"); }
  std::vector<std::string> events;
};

// Throws out of every callback but the report of its own fault, code 4; keeps the codes it hears.
struct Faulty : platform::StreamOutput,
                platform::StreamDelegate,
                platform::RecordingOutputDelegate {
  void streamDidOutputSampleBuffer(const platform::SampleBuffer&,
                                   platform::StreamOutputType) override {
    throw std::runtime_error("sample");
  }
  void streamDidStopWithError(const platform::PlatformError& error) override {
    reported.push_back(error.code());
    if (error.code() != 4) throw std::runtime_error("stop");
  }
  void streamSourceWasLost(platform::StreamOutputType, const platform::PlatformError&) override {}
  void streamSourceWasRestored(platform::StreamOutputType, double) override {}
  void streamSourceDidDropAudio(platform::StreamOutputType, double) override {}
  void streamSoundPlaysUnrecorded(const std::optional<std::string>&) override {}
  void streamOutputMuted(const std::optional<std::string>&) override {}
  void recordingOutputDidStartRecording() override { throw std::runtime_error("start"); }
  void recordingOutputDidFinishRecording() override { throw std::bad_alloc(); }
  void recordingOutputDidFailWithError(const platform::PlatformError& error) override {
    reported.push_back(error.code());
    throw std::runtime_error("fail");
  }
  void recordingOutputDidStallWriting() override { throw std::runtime_error("stall"); }
  void recordingOutputDidResumeWriting(double) override { throw std::runtime_error("resume"); }
  std::vector<std::int64_t> reported;
};

TEST(CaptureBridges, BridgesDoNotKeepTheCoreObjectsAlive) {
  std::weak_ptr<Faulty> watched;
  id<SCStreamDelegate> bridge;
  {
    auto delegate = std::make_shared<Faulty>();
    watched = delegate;
    bridge = platform::macos::makeStreamDelegateBridge(delegate);
  }
  EXPECT_TRUE(watched.expired());
  SCStream* stream = nil;
  [bridge stream:stream didStopWithError:streamError()];  // must be a no-op, not a crash
}

TEST(CaptureBridges, StreamOutputBridgeLendsTheBufferWithItsRawType) {
  auto output = std::make_shared<RecordingStreamOutput>();
  id<SCStreamOutput> bridge = platform::macos::makeStreamOutputBridge(output, {});
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

// A microphone delivers its native format: the bridge reads it from the buffer itself.
TEST(CaptureBridges, StreamOutputBridgeMetersIntegerSamplesAtFullScaleOne) {
  auto output = std::make_shared<RecordingStreamOutput>();
  id<SCStreamOutput> bridge = platform::macos::makeStreamOutputBridge(output, {});
  std::array<std::int16_t, 4> values = {16384, -16384, -16384, 16384};
  const auto bytes = std::as_writable_bytes(std::span(values));
  const platform::AudioStreamDescription int16Stereo = {
      platform::kLinearPcmFormat, platform::kPcmFlagIsSignedInteger | platform::kPcmFlagIsPacked, 4,
      2, 16};
  const platform::AudioStreamDescription unsigned8Stereo = {platform::kLinearPcmFormat,
                                                            platform::kPcmFlagIsPacked, 2, 2, 8};
  SCStream* stream = nil;

  const auto integers = macos_test::makeAudioSampleBuffer({bytes}, true, int16Stereo);
  [bridge stream:stream didOutputSampleBuffer:integers.get() ofType:SCStreamOutputTypeMicrophone];
  const capture::LevelReading reading = output->statistics.snapshot(true);
  EXPECT_EQ(reading.samples, 4u);
  EXPECT_DOUBLE_EQ(reading.rms, 0.5);

  const auto unknown = macos_test::makeAudioSampleBuffer({bytes}, true, unsigned8Stereo);
  [bridge stream:stream didOutputSampleBuffer:unknown.get() ofType:SCStreamOutputTypeMicrophone];
  EXPECT_EQ(output->statistics.snapshot(true).samples, 0u);
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
            (std::vector<std::string>{"start", "fail " + kStreamErrorDomain + " -3821", "finish"}));
}

// An exception never reaches the framework: each becomes the internal fault, code 4, told to the
// delegate that would otherwise never hear of it; a fault while telling it is dropped.
TEST(CaptureBridges, ExceptionsStopAtTheBridgeAsTheInternalFault) {
  auto faulty = std::make_shared<Faulty>();
  id<SCStreamOutput> output = platform::macos::makeStreamOutputBridge(faulty, faulty);
  id<SCStreamDelegate> streamDelegate = platform::macos::makeStreamDelegateBridge(faulty);
  id<SCRecordingOutputDelegate> recordingDelegate =
      platform::macos::makeRecordingOutputDelegateBridge(faulty);
  std::array<std::byte, 16> bytes{};
  const auto sample = macos_test::makeAudioSampleBuffer({bytes}, true);
  SCStream* stream = nil;
  SCRecordingOutput* recordingOutput = nil;

  [output stream:stream didOutputSampleBuffer:sample.get() ofType:SCStreamOutputTypeAudio];
  [streamDelegate stream:stream didStopWithError:streamError()];
  [recordingDelegate recordingOutputDidStartRecording:recordingOutput];
  [recordingDelegate recordingOutputDidFinishRecording:recordingOutput];
  [recordingDelegate recordingOutput:recordingOutput didFailWithError:streamError()];

  EXPECT_EQ(faulty->reported, (std::vector<std::int64_t>{4, SCStreamErrorSystemStoppedStream, 4, 4,
                                                         4, SCStreamErrorSystemStoppedStream, 4}));
}

}  // namespace
