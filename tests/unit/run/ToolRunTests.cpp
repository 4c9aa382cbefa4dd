#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <exception>
#include <filesystem>
#include <future>
#include <string>
#include <system_error>
#include <thread>

#include "app/ToolMain.h"
#include "support/RecordedEvents.h"
#include "support/ScriptedPlatform.h"

namespace app {
namespace {

using nlohmann::json;
using test_support::Completion;

// The whole tool runs in-process on this thread while another plays the parent process and the
// platform.
TEST(ToolRun, RepeatedSigintsDuringTheStopCountOnce) {
  test_support::ScriptedPlatform platform;
  platform.capture.held = {Completion::stop};
  test_support::RecordedEvents sink;
  // SIGINT aimed at the main thread: a process-directed signal may land on an idle thread, where
  // ThreadSanitizer holds its handler back until that thread wakes.
  const auto interrupt = [mainThread = ::pthread_self()] { ::pthread_kill(mainThread, SIGINT); };
  auto parent = std::async(std::launch::async, [&] {
    // At most 5 s, so that a run without "ready" fails instead of hanging.
    sink.awaitRecord([](const json& record) { return record["event"] == "ready"; },
                     std::chrono::seconds(5));
    interrupt();
    platform.capture.awaitHeld(Completion::stop);
    interrupt();
    interrupt();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    platform.capture.complete(Completion::stop);
  });
  const int status = app::runTool(
      {"tessaloquin-audio-capture", "--output", "take.mov", "--microphone", "off"}, platform, sink);
  parent.get();

  const std::vector<json> records = sink.records();
  EXPECT_EQ(status, 0);
  ASSERT_EQ(records.size(), 2U);
  EXPECT_EQ(records.back()["event"], "final");
  // Without a microphone, ready names none.
  EXPECT_EQ(records.front(), (json{{"event", "ready"}}));
  EXPECT_FALSE(platform.capture.configuration->captureMicrophone);
  EXPECT_EQ(platform.capture.recordingConfiguration->outputURL,
            std::filesystem::current_path() / "take.mov");
}

// A parent that stops the recording while it starts: the run reports ready and stops at once,
// without a second SIGINT.
TEST(ToolRun, ASigintDuringTheStartStopsTheRecordingRightAfterReady) {
  test_support::ScriptedPlatform platform;
  platform.capture.held = {Completion::start};
  test_support::RecordedEvents sink;
  bool secondSigint = false;
  auto parent = std::async(std::launch::async, [&, mainThread = ::pthread_self()] {
    platform.capture.awaitHeld(Completion::start);
    ::pthread_kill(mainThread, SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    platform.capture.complete(Completion::start);
    // Only so that a lost stop fails the test instead of hanging it.
    const auto final = [](const json& record) { return record["event"] == "final"; };
    if (!sink.awaitRecord(final, std::chrono::seconds(3))) {
      secondSigint = true;
      ::pthread_kill(mainThread, SIGINT);
    }
  });
  const int status =
      app::runTool({"tool", "--output", "/tmp/take.mov", "--microphone", "off"}, platform, sink);
  parent.get();

  EXPECT_FALSE(secondSigint) << "the SIGINT sent during the start was lost";
  EXPECT_EQ(status, 0);
  const auto records = sink.records();
  ASSERT_EQ(records.size(), 2U);
  EXPECT_EQ(records.front()["event"], "ready");
  EXPECT_EQ(records.back()["event"], "final");
}

// The record of a stage that failed with an error of `domain` and `code`.
json errorRecord(const std::string& stage, const std::string& domain, int code) {
  return {{"event", "error"}, {"code", "capture_failed"},
          {"stage", stage},   {"errorName", "ScriptedError"},
          {"domain", domain}, {"errorCode", code}};
}

// What one run of the tool printed, as records, and its status.
struct Printed {
  int status;
  std::vector<json> records;
};

Printed runToCompletion(const std::vector<std::string>& arguments,
                        test_support::ScriptedPlatform& platform) {
  test_support::RecordedEvents sink;
  const int status = app::runTool(arguments, platform, sink);
  return {status, sink.records()};
}

// A platform that never answers the probe's or the start's call, as a hung capture service
// would: the stage fails with the tool's own error, rather than holding the tool for ever, deaf
// to the parent's SIGINT.
TEST(ToolRun, ACallThePlatformNeverAnswersFailsTheProbeOrTheStart) {
  const struct {
    std::string what;
    std::vector<std::string> arguments;
    Completion held;
    std::string stage;
  } cases[] = {
      {"probe's content", {"tool", "--probe"}, Completion::content, "probe"},
      {"start's content", {"tool", "--output", "/tmp/t.mov"}, Completion::content, "start"},
      {"startCapture", {"tool", "--output", "/tmp/t.mov"}, Completion::start, "start"}};
  for (const auto& [what, arguments, held, stage] : cases) {
    SCOPED_TRACE(what);
    test_support::ScriptedPlatform platform;
    platform.scriptedDispatch.delayScale = 0.002;
    platform.capture.held = {held};
    test_support::RecordedEvents sink;
    bool hung = false;
    auto parent = std::async(std::launch::async, [&, mainThread = ::pthread_self()] {
      platform.capture.awaitHeld(held);
      if (stage == "start") ::pthread_kill(mainThread, SIGINT);  // the parent gives up
      // Answered only so that a tool that waits for ever fails instead of hanging; else too
      // late, and dropped.
      const auto error = [](const json& record) { return record["event"] == "error"; };
      hung = !sink.awaitRecord(error, std::chrono::seconds(3));
      platform.capture.complete(held);
    });
    const int status = app::runTool(arguments, platform, sink);
    parent.get();

    EXPECT_FALSE(hung) << "the tool waited for the platform's answer";
    EXPECT_EQ(status, 1);
    EXPECT_EQ(sink.records(), std::vector<json>{errorRecord(stage, "TessaloquinAudioCapture", 14)});
  }
}

// The listing gives the devices in the order a name is matched against them, marks the one used
// without a name, and fails as the probe does when the platform cannot be asked.
TEST(ToolRun, ListingTheMicrophonesPrintsEveryDeviceInOrderOrTheProbeStagesError) {
  test_support::ScriptedPlatform platform;
  // Two of the same model share a name: the default is told apart by its identifier.
  platform.audio.devices = {
      {"id-pro", "Mic Pro"}, {"id-mic", "Mic"}, {"id-mic-2", "Mic"}, {"id-usb", "USB \"Desk\""}};
  platform.audio.defaultDevice = platform::AudioCaptureDevice{"id-mic", "Mic"};
  const Printed listed =
      runToCompletion({"tool", "--output", "a.mov", "--list-microphones"}, platform);
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(
      listed.records,
      (std::vector<json>{{{"event", "microphones"},
                          {"devices",
                           {{{"name", "Mic Pro"}, {"id", "id-pro"}, {"default", false}},
                            {{"name", "Mic"}, {"id", "id-mic"}, {"default", true}},
                            {{"name", "Mic"}, {"id", "id-mic-2"}, {"default", false}},
                            {{"name", "USB \"Desk\""}, {"id", "id-usb"}, {"default", false}}}}}}));
  EXPECT_FALSE(platform.capture.configuration) << "a listing started a recording";

  // A default that is not among the microphones marks none; no devices is an empty list.
  platform.audio.defaultDevice = platform::AudioCaptureDevice{"monitor", "Monitor"};
  platform.audio.devices.resize(1);
  EXPECT_EQ(runToCompletion({"tool", "--list-microphones"}, platform).records,
            (std::vector<json>{
                {{"event", "microphones"},
                 {"devices", {{{"name", "Mic Pro"}, {"id", "id-pro"}, {"default", false}}}}}}));
  platform.audio.devices.clear();
  EXPECT_EQ(runToCompletion({"tool", "--list-microphones"}, platform).records,
            (std::vector<json>{{{"event", "microphones"}, {"devices", json::array()}}}));

  // A platform error as it is; anything else (no thread for the listing) as the internal fault.
  const std::pair<std::exception_ptr, json> failures[] = {
      {std::make_exception_ptr(test_support::scriptedError(7, "Server")),
       errorRecord("probe", "Server", 7)},
      {std::make_exception_ptr(std::system_error(EAGAIN, std::generic_category())),
       errorRecord("probe", "TessaloquinAudioCapture", 4)}};
  for (const auto& [thrown, error] : failures) {
    platform.audio.listingError = thrown;
    const Printed failed = runToCompletion({"tool", "--list-microphones"}, platform);
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.records, std::vector<json>{error});
  }
  // The probe still wins over a listing.
  const Printed probed = runToCompletion({"tool", "--list-microphones", "--probe"}, platform);
  EXPECT_EQ(probed.records, (std::vector<json>{{{"event", "probe"}, {"granted", true}}}));
}

// An exception that is not a platform error (here: no thread for the session's queue, before the
// session starts; for a timer; for the stop's time-out) must end its stage with a record and
// status 1, not end the process without a word.
TEST(ToolRun, AnExceptionThatIsNotAPlatformErrorEndsItsStageAsAnInternalFault) {
  for (const std::string refused : {"queue", "timer", "time-out"}) {
    SCOPED_TRACE(refused);
    const std::string stage = refused == "time-out" ? "stop" : "start";
    test_support::ScriptedPlatform platform;
    platform.scriptedDispatch.refuseQueues = refused == "queue";
    platform.scriptedDispatch.refuseTimers = refused == "timer";
    platform.capture.finishOnStop = test_support::FinishOnStop::never;  // so the stop waits
    test_support::RecordedEvents sink;
    // The start fails by itself; the stop needs the parent's SIGINT after ready.
    auto parent = std::async(std::launch::async, [&, mainThread = ::pthread_self()] {
      const auto ready = [](const json& record) { return record["event"] == "ready"; };
      if (stage == "stop" && sink.awaitRecord(ready, std::chrono::seconds(5))) {
        platform.scriptedDispatch.refuseDelays = true;
        ::pthread_kill(mainThread, SIGINT);
      }
    });
    const int status = app::runTool({"tool", "--output", "/tmp/take.mov"}, platform, sink);
    parent.get();

    const auto events = sink.records();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(status, 1);
    EXPECT_EQ(events.back(), errorRecord(stage, "TessaloquinAudioCapture", 4));
  }
}

}  // namespace
}  // namespace app
