#include <unistd.h>

#include <thread>

#include "SessionFixture.h"
#include "support/EventLines.h"

namespace capture {
namespace {

using platform::StreamOutputType;
using test_support::Reply;
using test_support::ScriptedCapture;
using test_support::scriptedError;

using SessionStart = SessionFixture;

TEST_F(SessionStart, ConstructionAloneAsksNothingAndPrintsNothing) {
  EXPECT_TRUE(printedLines([this] { makeSession(true, "Desk Mic"); }).empty());
  EXPECT_EQ(platform.capture.contentRequests, 0);
  EXPECT_TRUE(platform.scriptedDispatch.timers.empty());
  EXPECT_EQ(platform.audio.discoveries + platform.audio.defaultRequests, 0);
}

TEST_F(SessionStart, ConfiguresTheStreamAsRecordingNeeds) {
  platform.audio.defaultDevice = platform::AudioCaptureDevice{"builtin", "Built-in Microphone"};
  makeSession(true);
  startOrFail();

  ASSERT_EQ(platform.capture.contentArguments.size(), 1U);
  EXPECT_EQ(platform.capture.contentArguments[0], std::make_pair(false, true));
  platform::StreamConfiguration expected;
  expected.width = 2;
  expected.height = 2;
  expected.minimumFrameInterval = {1, 1};
  expected.queueDepth = 3;
  expected.showsCursor = false;
  expected.capturesAudio = true;
  expected.sampleRate = 48000;
  expected.channelCount = 2;
  expected.excludesCurrentProcessAudio = true;
  expected.captureMicrophone = true;
  expected.microphoneCaptureDeviceID = "builtin";
  EXPECT_EQ(platform.capture.configuration, expected);

  const platform::RecordingOutputConfiguration recording{
      "/tmp/recording.mov", platform::FileType::quickTimeMovie, platform::VideoCodecType::h264};
  EXPECT_EQ(platform.capture.recordingConfiguration, recording);
  EXPECT_TRUE(platform.capture.recordingOutputAdded);
  EXPECT_EQ(platform.capture.startCalls, 1);
}

TEST_F(SessionStart, BothSourcesArriveOnOneSerialSampleQueue) {
  makeSession(true);
  startOrFail();
  const auto& outputs = platform.capture.outputs;
  ASSERT_EQ(outputs.size(), 2U);
  EXPECT_EQ(outputs[0].type, StreamOutputType::audio);
  EXPECT_EQ(outputs[1].type, StreamOutputType::microphone);
  EXPECT_EQ(outputs[0].queue, outputs[1].queue);
  EXPECT_EQ(platform.scriptedDispatch.queueLabels,
            std::vector<std::string>{"com.tessaloquin.audio-samples"});
}

TEST_F(SessionStart, FirstDisplayIsCapturedWithoutTheToolsOwnApplications) {
  const std::int32_t self = getpid();
  const std::vector<std::pair<std::vector<std::int32_t>, std::vector<std::int32_t>>> cases{
      {{self + 1, self, 1, self}, {self, self}}, {{self + 1}, {}}};
  for (const auto& [listed, excluded] : cases) {
    platform.capture.content = ScriptedCapture::contentWith(3, listed);
    makeSession(false);
    startOrFail();
    const auto& display =
        dynamic_cast<const test_support::ScriptedDisplay&>(*platform.capture.filter->display);
    EXPECT_EQ(display.index, 0);
    EXPECT_EQ(platform.capture.filter->excludedProcessIDs, excluded);
  }
}

TEST_F(SessionStart, MicrophoneOffChoosesNoDeviceAndAddsOnlySystemAudio) {
  makeSession(false, "Nothing Like It");
  EXPECT_TRUE(printedLines([this] { startOrFail(); }).empty());
  EXPECT_EQ(platform.audio.discoveries + platform.audio.defaultRequests, 0);
  EXPECT_FALSE(platform.capture.configuration->captureMicrophone);
  EXPECT_EQ(platform.capture.configuration->microphoneCaptureDeviceID, std::nullopt);
  ASSERT_EQ(platform.capture.outputs.size(), 1U);
  EXPECT_EQ(platform.capture.outputs[0].type, StreamOutputType::audio);
}

TEST_F(SessionStart, MicrophoneWithoutAnyDeviceIsStillAdded) {
  makeSession(true);
  startOrFail();
  EXPECT_TRUE(platform.capture.configuration->captureMicrophone);
  EXPECT_EQ(platform.capture.configuration->microphoneCaptureDeviceID, std::nullopt);
  EXPECT_EQ(platform.capture.outputs.size(), 2U);
}

TEST_F(SessionStart, NamedMicrophoneIsChosenOverTheDefault) {
  platform.audio.devices = {{"desk", "Desk Mic"}, {"usb", "USB Audio Interface"}};
  platform.audio.defaultDevice = platform.audio.devices[0];
  makeSession(true, "USB");
  startOrFail();
  EXPECT_EQ(platform.capture.configuration->microphoneCaptureDeviceID, "usb");
}

TEST_F(SessionStart, EmptyNameMeansTheDefaultWithoutDiscovery) {
  platform.audio.defaultDevice = platform::AudioCaptureDevice{"builtin", "Built-in"};
  makeSession(true, "");
  EXPECT_TRUE(printedLines([this] { startOrFail(); }).empty());
  EXPECT_EQ(platform.audio.discoveries, 0);
  EXPECT_EQ(platform.capture.configuration->microphoneCaptureDeviceID, "builtin");
}

TEST_F(SessionStart, UnmatchedNameWarnsOnceAndFallsBack) {
  for (const bool hasDefault : {true, false}) {
    platform.audio.devices = {{"desk", "Desk Mic"}};
    platform.audio.defaultDevice.reset();
    if (hasDefault) platform.audio.defaultDevice = platform::AudioCaptureDevice{"builtin", "B"};
    makeSession(true, "desk mic");
    const auto events = test_support::parseEventLines(printedLines([this] { startOrFail(); }));
    ASSERT_EQ(events.size(), 1U);
    EXPECT_EQ(events[0], (nlohmann::json{{"event", "warning"}, {"code", "microphone_fallback"}}));
    EXPECT_EQ(platform.capture.configuration->microphoneCaptureDeviceID,
              hasDefault ? std::optional<std::string>("builtin") : std::nullopt);
  }
}

TEST_F(SessionStart, NoDisplayFailsBeforeChoosingAMicrophone) {
  platform.capture.content = ScriptedCapture::contentWith(0, {});
  makeSession(true, "Unknown");
  std::optional<platform::PlatformError> failure;
  EXPECT_TRUE(printedLines([&] { failure = failureOf(run(session->start())); }).empty());
  expectToolError(*failure, 1);
  EXPECT_FALSE(platform.capture.configuration.has_value());
  EXPECT_EQ(platform.audio.discoveries + platform.audio.defaultRequests, 0);
}

TEST_F(SessionStart, RelativeOutputFailsBeforeThePlatformIsAsked) {
  makeSession(true, {}, "recording.mov");
  expectToolError(failureOf(run(session->start())), 6);
  EXPECT_EQ(platform.capture.contentRequests, 0);
}

TEST_F(SessionStart, ContentRefusalIsPassedOnUnchanged) {
  platform.capture.contentError =
      scriptedError(-3801, "com.apple.ScreenCaptureKit.SCStreamErrorDomain");
  platform.capture.contentReply = Reply::fromAnotherThread;
  makeSession();
  expectSameError(failureOf(run(session->start())), *platform.capture.contentError);
  EXPECT_FALSE(platform.capture.configuration.has_value());
}

TEST_F(SessionStart, ContentCompletionWithNeitherAnswerFails) {
  platform.capture.content.reset();
  makeSession();
  expectToolError(failureOf(run(session->start())), 3);
}

TEST_F(SessionStart, RefusedOutputsStopTheStartAndLeaveNoStream) {
  for (const StreamOutputType refused : {StreamOutputType::audio, StreamOutputType::microphone}) {
    test_support::ScriptedPlatform fresh;
    fresh.capture.refusedOutputs.emplace(refused, scriptedError(-3802));
    auto refusedSession = CaptureSession::create(fresh, "/tmp/x.mov", true, std::nullopt);
    auto outcome = test_support::runOnMainQueue(fresh, refusedSession->start());
    expectSameError(failureOf(outcome), scriptedError(-3802));
    EXPECT_FALSE(fresh.capture.recordingConfiguration.has_value());
    EXPECT_EQ(fresh.capture.startCalls, 0);
  }
}

TEST_F(SessionStart, RefusedRecordingOutputStopsTheStartAndLeavesNoStream) {
  platform.capture.recordingOutputRefusal = scriptedError(-3805);
  platform.scriptedDispatch.delayScale = 0.001;
  makeSession();
  expectSameError(failureOf(run(session->start())), scriptedError(-3805));
  EXPECT_EQ(platform.capture.startCalls, 0);
  // The stream was never kept, so a stop has none to stop and only waits.
  expectToolError(failureOf(run(session->stop())), 2);
  EXPECT_EQ(platform.capture.stopCalls, 0);
}

TEST_F(SessionStart, FailedCaptureStartKeepsTheStreamButStartsNoTimer) {
  platform.capture.startError = scriptedError(-3803);
  platform.capture.startReply = Reply::fromAnotherThread;
  makeSession();
  expectSameError(failureOf(run(session->start())), scriptedError(-3803));
  EXPECT_TRUE(platform.scriptedDispatch.timers.empty());
  platform.capture.finishOnStop = test_support::FinishOnStop::afterStopCompletes;
  run(session->stop());
  EXPECT_EQ(platform.capture.stopCalls, 1);
}

TEST_F(SessionStart, LateCompletionFromAnotherThreadContinuesOnTheMainThread) {
  platform.capture.contentReply = Reply::fromAnotherThread;
  platform.capture.startReply = Reply::fromAnotherThread;
  makeSession();
  const std::thread::id mainThread = std::this_thread::get_id();
  std::thread::id continuedOn;
  auto outcome = run([](CaptureSession& started, std::thread::id& thread) -> platform::Task<void> {
    co_await started.start();
    thread = std::this_thread::get_id();
  }(*session, continuedOn));
  EXPECT_TRUE(std::holds_alternative<std::monostate>(outcome));
  EXPECT_EQ(continuedOn, mainThread);
  EXPECT_EQ(platform.scriptedDispatch.timers.size(), 1U);
}

TEST_F(SessionStart, LevelTimerTicksEverySecondOnTheSampleQueueOnceActive) {
  makeSession();
  startOrFail();
  ASSERT_EQ(platform.scriptedDispatch.timers.size(), 1U);
  const auto& timer = levelTimer();
  EXPECT_TRUE(timer.active());
  EXPECT_TRUE(timer.handlerSetBeforeActivation());
  EXPECT_EQ(timer.firstDelay(), std::chrono::seconds(1));
  EXPECT_EQ(timer.interval(), std::chrono::seconds(1));
  EXPECT_EQ(timer.queue(), platform.capture.outputs[0].queue);
}

}  // namespace
}  // namespace capture
