#include "app/ProcessSetup.h"

#include <fcntl.h>

#include <cerrno>
#include <csignal>
#include <variant>

#include "app/CommandLine.h"
#include "app/StopSignals.h"
#include "events/EventStream.h"

namespace app {

namespace {

// A standard descriptor the parent left closed would go to the next file opened, and records
// (or a library's messages) would be written into it: a movie or a per-source stream. /dev/null
// takes each such place; open() gives the lowest free descriptor, which is this one.
void occupyClosedStandardDescriptors() {
  for (const int descriptor : {0, 1, 2}) {
    if (fcntl(descriptor, F_GETFD) == -1 && errno == EBADF) open("/dev/null", O_RDWR);
  }
}

}  // namespace

void prepareProcess(const std::vector<std::string>& arguments) {
  occupyClosedStandardDescriptors();
  // Only the kind of run matters here, not the output path, so no directory is looked up.
  const CommandLine commandLine = parseCommandLine(arguments, {});
  const auto* options = std::get_if<RunOptions>(&commandLine);
  if (!options) return;
  // Held, not ignored: an ignored signal is dropped, and a stop sent this early would be lost.
  holdStopSignals(options->stopOnTermination);
  std::signal(SIGPIPE, SIG_IGN);
  // A write past RLIMIT_FSIZE then fails like a full disk, and the stage's error says so.
  std::signal(SIGXFSZ, SIG_IGN);
}

int reportMissingPlatform(const std::vector<std::string>& arguments,
                          const platform::PlatformError& error) {
  const CommandLine commandLine = parseCommandLine(arguments, {});
  events::EventSink& output = events::standardOutputEvents();
  int status = 1;
  if (std::holds_alternative<ProbeRequest>(commandLine) ||
      std::holds_alternative<MicrophoneListRequest>(commandLine)) {
    events::emitError(output, error, "probe");
  } else if (std::holds_alternative<RunOptions>(commandLine)) {
    events::emitError(output, error, "start");
  } else {
    output.emit(events::EventRecord("error").set("code", "missing_output"));
    status = 2;
  }
  output.flush();
  return status;
}

}  // namespace app
