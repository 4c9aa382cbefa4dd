#include "app/ProcessSetup.h"

#include <csignal>
#include <variant>

#include "app/CommandLine.h"
#include "events/EventStream.h"

namespace app {

void prepareProcess(const std::vector<std::string>& arguments) {
  // Only the kind of run matters here, not the output path, so no directory is looked up.
  if (!std::holds_alternative<RunOptions>(parseCommandLine(arguments, {}))) return;
  std::signal(SIGINT, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
}

int reportMissingPlatform(const std::vector<std::string>& arguments,
                          const platform::PlatformError& error) {
  const CommandLine commandLine = parseCommandLine(arguments, {});
  int status = 1;
  if (std::holds_alternative<ProbeRequest>(commandLine)) {
    events::emitError(error, "probe");
  } else if (std::holds_alternative<RunOptions>(commandLine)) {
    events::emitError(error, "start");
  } else {
    events::emitEvent(events::EventRecord("error").set("code", "missing_output"));
    status = 2;
  }
  events::flushEvents();
  return status;
}

}  // namespace app
