#include <unistd.h>

#include <functional>
#include <string_view>
#include <thread>

#include "SessionFixture.h"

namespace capture {
namespace {

using platform::AudioCaptureDevice;
using platform::StreamOutputType;
using test_support::Completion;
using test_support::ScriptedCapture;
using test_support::scriptedError;

using SessionStart = SessionFixture;

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

TEST_F(SessionStart, MicrophoneChoices) {
  const AudioCaptureDevice desk{"desk", "Desk Mic"};
  platform.audio.devices = {desk, {"usb", "USB Audio Interface"}};
  const struct {
    bool wanted;
    std::optional<std::string> name;
    std::optional<AudioCaptureDevice> defaultDevice;
    std::optional<std::string> chosenID;  // none: the platform's own default
    bool warns;
    bool kept;  // kept on its device rather than following the default
  } cases[] = {
      {false, "USB", desk, std::nullopt, false, false},  // off: no device, no microphone output
      {true, std::nullopt, std::nullopt, std::nullopt, false, false},
      {true, std::nullopt, desk, "desk", false, false},
      {true, "USB", desk, "usb", false, true},
      {true, "Desk Mic", desk, "desk", false, true},  // named, and the default too: stays
      {true, "", desk, "desk", false, false},
      {true, "desk mic", desk, "desk", true, false},  // names match case-sensitively
      {true, "Studio", std::nullopt, std::nullopt, true, false},
  };
  for (const auto& [wanted, name, defaultDevice, chosenID, warns, kept] : cases) {
    SCOPED_TRACE(name.value_or("(no name)") + (wanted ? "" : ", off"));
    platform.audio.defaultDevice = defaultDevice;
    platform.capture.outputs.clear();
    makeSession(wanted, name);
    const nlohmann::json fallback{{"event", "warning"}, {"code", "microphone_fallback"}};
    EXPECT_EQ(printedRecords([this] { startOrFail(); }),
              std::vector<nlohmann::json>(warns ? 1 : 0, fallback));
    EXPECT_EQ(platform.capture.configuration->captureMicrophone, wanted);
    EXPECT_EQ(platform.capture.configuration->microphoneCaptureDeviceID, chosenID);
    EXPECT_EQ(platform.capture.configuration->microphoneKeptOnDevice, kept);
    std::vector<StreamOutputType> types;
    for (const auto& output : platform.capture.outputs) types.push_back(output.type);
    EXPECT_EQ(types, (wanted ? std::vector{StreamOutputType::audio, StreamOutputType::microphone}
                             : std::vector{StreamOutputType::audio}));
  }
}

TEST(SessionStartFailure, EachFailingStepFailsTheStartWithItsError) {
  const struct {
    const char* step;
    std::function<void(ScriptedCapture&)> script;
    platform::PlatformError expected;
  } cases[] = {
      {"no display", [](auto& c) { c.content = ScriptedCapture::contentWith(0, {}); }, ownError(1)},
      {"content refused", [](auto& c) { c.contentError = scriptedError(-3801, "SCStream"); },
       scriptedError(-3801, "SCStream")},
      {"neither content nor error", [](auto& c) { c.content.reset(); }, ownError(3)},
      {"system audio output refused",
       [](auto& c) { c.refusedOutputs.emplace(StreamOutputType::audio, scriptedError(-3802)); },
       scriptedError(-3802)},
      {"microphone output refused",
       [](auto& c) { c.refusedOutputs.emplace(StreamOutputType::microphone, scriptedError(-7)); },
       scriptedError(-7)},
      {"recording output refused", [](auto& c) { c.recordingOutputRefusal = scriptedError(-3805); },
       scriptedError(-3805)},
      {"capture start failed", [](auto& c) { c.startError = scriptedError(-3803); },
       scriptedError(-3803)},
  };
  for (const auto& [step, script, expected] : cases) {
    SCOPED_TRACE(step);
    ScriptedSession scripted;
    script(scripted.platform.capture);
    scripted.makeSession();
    EXPECT_TRUE(outcomeIs(scripted.run(scripted.session->start()), expected));
    // A stream that did not start records nothing: its outputs can go at once.
    if (std::string_view(step) == "capture start failed") {
      EXPECT_EQ(scripted.platform.capture.outputRemovals, 1);
    }
  }
}

TEST_F(SessionStart, CompletionsAnsweredLateFromAnotherThreadContinueOnTheMainThread) {
  platform.capture.held = {Completion::content, Completion::start};
  makeSession();
  std::jthread service([this] {
    platform.capture.complete(Completion::content);
    platform.capture.complete(Completion::start);
  });
  const std::thread::id mainThread = std::this_thread::get_id();
  std::thread::id continuedOn;
  const auto startThenNoteTheThread = [](CaptureSession& started,
                                         std::thread::id& thread) -> platform::Task<void> {
    co_await started.start();
    thread = std::this_thread::get_id();
  };
  EXPECT_TRUE(outcomeIs(run(startThenNoteTheThread(*session, continuedOn)), kSuccess));
  EXPECT_EQ(continuedOn, mainThread);
  EXPECT_EQ(platform.scriptedDispatch.timers.size(), 2U);  // the level timer and the disk watch
}

}  // namespace
}  // namespace capture
