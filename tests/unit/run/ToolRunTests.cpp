#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <optional>
#include <thread>

#include "app/ToolMain.h"
#include "support/EventLines.h"
#include "support/ScriptedPlatform.h"
#include "support/StdoutCapture.h"

namespace app {
namespace {

using nlohmann::json;
using test_support::Completion;
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
    const auto printedLines = output->lines();
    output.reset();  // before any assertion, whose messages go to stdout too
    events = test_support::parseEventLines(printedLines);
    return status;
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
  EXPECT_EQ(runTool({"--output"}, [] {}), 2);
  EXPECT_EQ(printed, "{\"event\":\"error\",\"code\":\"missing_output\"}\n");
  EXPECT_EQ(platform.capture.contentRequests, 0);
}

TEST_F(ToolRun, RepeatedSigintsDuringTheStopCountOnce) {
  platform.capture.held = {Completion::stop};
  const int status = runTool({"--output", "take.mov", "--microphone", "off"}, [this] {
    awaitEvent("ready");
    interrupt();
    platform.capture.awaitHeld(Completion::stop);
    interrupt();
    interrupt();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    platform.capture.complete(Completion::stop);
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(kinds(), (std::vector<std::string>{"ready", "final"}));
  EXPECT_FALSE(platform.capture.configuration->captureMicrophone);
  EXPECT_EQ(platform.capture.recordingConfiguration->outputURL,
            std::filesystem::current_path() / "take.mov");
}

}  // namespace
}  // namespace app
