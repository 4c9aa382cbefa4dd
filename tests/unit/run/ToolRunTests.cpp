#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <future>
#include <optional>
#include <sstream>
#include <thread>

#include "app/ToolMain.h"
#include "support/EventLines.h"
#include "support/ScriptedPlatform.h"
#include "support/StdoutCapture.h"

namespace app {
namespace {

using nlohmann::json;
using test_support::FinishOnStop;
using test_support::Reply;
using test_support::scriptedError;
using test_support::StdoutCapture;

// Runs the whole tool in-process on this thread while `script` plays the parent process and
// the platform from another thread.
class ToolRun : public ::testing::Test {
 protected:
  template <typename Script>
  int runTool(std::vector<std::string> arguments, Script script) {
    arguments.insert(arguments.begin(), "tessaloquin-audio-capture");
    output.emplace();
    mainThread = ::pthread_self();
    auto parent = std::async(std::launch::async, script);
    const int status = app::runTool(arguments, platform);
    parent.get();
    printed = output->text();
    output.reset();  // before any assertion, whose messages go to stdout too
    events = test_support::parseEventLines(lines(printed));
    return status;
  }
  int runTool(std::vector<std::string> arguments) {
    return runTool(std::move(arguments), [] {});
  }

  // Waits until a line of the given kind has been written.
  void awaitEvent(const std::string& kind) {
    const std::string marker = "\"event\":\"" + kind + "\"";
    for (int i = 0; i < 1000 && output->text().find(marker) == std::string::npos; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  // SIGINT from the parent's thread, aimed at the main thread: a process-directed signal may land
  // on an idle thread, where ThreadSanitizer holds its handler back until that thread wakes.
  void interrupt() const { ::pthread_kill(mainThread, SIGINT); }

  static std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) result.push_back(line);
    return result;
  }

  std::vector<std::string> kinds() const {
    std::vector<std::string> result;
    for (const json& event : events) result.push_back(event.value("event", ""));
    return result;
  }

  test_support::ScriptedPlatform platform;
  std::optional<StdoutCapture> output;  // while the tool runs
  pthread_t mainThread{};
  std::string printed;
  std::vector<json> events;
};

TEST_F(ToolRun, MissingOutputIsAUsageError) {
  for (const auto& arguments : {std::vector<std::string>{}, {"--output"}, {"--output=a.mov"}}) {
    EXPECT_EQ(runTool(arguments), 2);
    EXPECT_EQ(printed, "{\"event\":\"error\",\"code\":\"missing_output\"}\n");
  }
  EXPECT_EQ(platform.capture.contentRequests, 0);
}

TEST_F(ToolRun, GrantedProbePrintsProbeAndLeavesSigintAlone) {
  struct sigaction before {};
  ::sigaction(SIGINT, nullptr, &before);
  EXPECT_EQ(runTool({"--output", "x.mov", "--microphone-name", "--probe"}), 0);
  struct sigaction after {};
  ::sigaction(SIGINT, nullptr, &after);
  EXPECT_EQ(events, (std::vector<json>{{{"event", "probe"}, {"granted", true}}}));
  EXPECT_EQ(before.sa_handler, after.sa_handler);
  EXPECT_EQ(platform.capture.contentArguments, (std::vector<std::pair<bool, bool>>{{false, true}}));
  EXPECT_EQ(platform.capture.startCalls, 0);
}

TEST_F(ToolRun, RefusedProbeIsAFailedProbeStage) {
  platform.capture.contentError =
      scriptedError(-3801, "com.apple.ScreenCaptureKit.SCStreamErrorDomain");
  platform.capture.contentReply = Reply::fromAnotherThread;
  EXPECT_EQ(runTool({"--probe"}), 1);
  EXPECT_EQ(events,
            (std::vector<json>{{{"event", "error"},
                                {"code", "capture_failed"},
                                {"stage", "probe"},
                                {"errorName", "ScriptedError"},
                                {"domain", "com.apple.ScreenCaptureKit.SCStreamErrorDomain"},
                                {"errorCode", -3801}}}));
}

TEST_F(ToolRun, FailedStartPrintsOnlyTheStartError) {
  platform.capture.content = test_support::ScriptedCapture::contentWith(0, {});
  EXPECT_EQ(runTool({"--output", "x.mov"}), 1);
  ASSERT_EQ(events.size(), 1U);
  EXPECT_EQ(events[0]["stage"], "start");
  EXPECT_EQ(events[0]["domain"], "TessaloquinAudioCapture");
  EXPECT_EQ(events[0]["errorCode"], 1);
  EXPECT_EQ(events[0].size(), 6U);
  EXPECT_EQ(platform.capture.stopCalls, 0);
}

TEST_F(ToolRun, SigintAfterReadyStopsWithTheFinalRecord) {
  const int status = runTool({"--output", "take.mov", "--microphone", "off"}, [this] {
    awaitEvent("ready");
    interrupt();
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(kinds(), (std::vector<std::string>{"ready", "final"}));
  EXPECT_FALSE(platform.capture.configuration->captureMicrophone);
  EXPECT_TRUE(platform.capture.recordingConfiguration->outputURL.is_absolute());
  EXPECT_EQ(platform.capture.recordingConfiguration->outputURL.filename(), "take.mov");
}

TEST_F(ToolRun, SigintDuringStartIsLost) {
  platform.capture.startReply = Reply::never;
  int stopsBeforeSecondSigint = -1;
  const int status = runTool({"--output", "/tmp/take.mov"}, [&] {
    while (platform.capture.startCalls == 0) std::this_thread::yield();
    interrupt();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    platform.capture.completeStart();
    awaitEvent("ready");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stopsBeforeSecondSigint = platform.capture.stopCalls;
    interrupt();
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(stopsBeforeSecondSigint, 0);  // the early SIGINT did not count
  EXPECT_EQ(kinds(), (std::vector<std::string>{"ready", "final"}));
}

TEST_F(ToolRun, RepeatedSigintsDuringTheStopCountOnce) {
  platform.capture.stopReply = Reply::never;
  const int status = runTool({"--output", "/tmp/take.mov"}, [this] {
    awaitEvent("ready");
    interrupt();
    while (platform.capture.stopCalls == 0) std::this_thread::yield();
    interrupt();
    interrupt();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    platform.capture.completeStop();
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(kinds(), (std::vector<std::string>{"ready", "final"}));
  EXPECT_EQ(platform.capture.stopCalls, 1);
}

TEST_F(ToolRun, StreamFailureWhileWaitingSurfacesOnlyAfterSigint) {
  std::string printedBeforeSigint;
  const int status = runTool({"--output", "/tmp/take.mov"}, [&] {
    awaitEvent("ready");
    platform.capture.streamStopsWithError(scriptedError(-3821, "Stream"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    printedBeforeSigint = output->text();
    interrupt();
  });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(printedBeforeSigint, "{\"event\":\"ready\"}\n");
  ASSERT_EQ(kinds(), (std::vector<std::string>{"ready", "error"}));
  EXPECT_EQ(events[1]["stage"], "stop");
  EXPECT_EQ(events[1]["errorCode"], -3821);
  EXPECT_EQ(events[1]["domain"], "Stream");
}

TEST_F(ToolRun, UnfinishedFileFailsTheStopStage) {
  platform.capture.finishOnStop = FinishOnStop::never;
  platform.scriptedDispatch.delayScale = 0.002;
  const int status = runTool({"--output", "/tmp/take.mov"}, [this] {
    awaitEvent("ready");
    interrupt();
  });
  EXPECT_EQ(status, 1);
  ASSERT_EQ(events.size(), 2U);
  EXPECT_EQ(events[1]["stage"], "stop");
  EXPECT_EQ(events[1]["domain"], "TessaloquinAudioCapture");
  EXPECT_EQ(events[1]["errorCode"], 2);
}

TEST_F(ToolRun, MicrophoneWarningComesBeforeReady) {
  platform.audio.devices = {{"desk", "Desk Mic"}};
  const int status = runTool({"--output", "/tmp/take.mov", "--microphone-name", "Studio"}, [this] {
    awaitEvent("ready");
    interrupt();
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(kinds(), (std::vector<std::string>{"warning", "ready", "final"}));
}

}  // namespace
}  // namespace app
