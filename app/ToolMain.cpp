#include "app/ToolMain.h"

#include <filesystem>
#include <system_error>

#include "app/CommandLine.h"
#include "app/MicrophoneList.h"
#include "app/Probe.h"
#include "app/RecordingRun.h"
#include "platform/Launch.h"

namespace app {

namespace {

constexpr int kUsageStatus = 2;

// Empty when it cannot be determined (e.g. it was deleted), which leaves a relative output
// path relative for the session to refuse.
std::filesystem::path currentDirectory() {
  std::error_code error;
  std::filesystem::path directory = std::filesystem::current_path(error);
  return error ? std::filesystem::path() : directory;
}

platform::Task<int> mainRoutine(std::vector<std::string> arguments,
                                platform::PlatformServices& platform, events::EventSink& sink) {
  const CommandLine commandLine = parseCommandLine(arguments, currentDirectory());
  if (std::holds_alternative<ProbeRequest>(commandLine))
    co_return co_await runProbe(platform, sink);
  if (std::holds_alternative<MicrophoneListRequest>(commandLine)) {
    co_return listMicrophones(platform, sink);
  }
  const auto* options = std::get_if<RunOptions>(&commandLine);
  if (options) co_return co_await runRecording(*options, platform, sink);
  sink.emit(events::EventRecord("error").set("code", "missing_output"));
  co_return kUsageStatus;
}

}  // namespace

int runTool(const std::vector<std::string>& arguments, platform::PlatformServices& platform,
            events::EventSink& sink) {
  platform::MainQueue& mainQueue = platform.dispatch().mainQueue();
  int status = 1;
  mainQueue.post([&] {
    platform::launch(mainRoutine(arguments, platform, sink), [&](int result) {
      status = result;
      mainQueue.quit();
    });
  });
  mainQueue.run();
  // The last record (final or error) must be out before the caller ends the process.
  sink.flush();
  return status;
}

}  // namespace app
