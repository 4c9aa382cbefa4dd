#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <filesystem>
#include <future>
#include <optional>
#include <thread>

#include "app/ToolMain.h"
#include "support/EventLines.h"
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

  std::vector<std::string> kinds;
  for (const json& event : sink.records()) {
    kinds.push_back(event.value("event", ""));
  }
  EXPECT_EQ(status, 0);
  EXPECT_EQ(kinds, (std::vector<std::string>{"ready", "final"}));
  EXPECT_FALSE(platform.capture.configuration->captureMicrophone);
  EXPECT_EQ(platform.capture.recordingConfiguration->outputURL,
            std::filesystem::current_path() / "take.mov");
}

}  // namespace
}  // namespace app
