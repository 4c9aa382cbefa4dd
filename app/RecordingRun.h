#pragma once

#include "app/CommandLine.h"
#include "events/EventSink.h"
#include "platform/PlatformServices.h"
#include "platform/Task.h"

namespace app {

// One recording from start to stop: "ready" (naming the microphone recorded), then on the first
// SIGINT (or SIGTERM or SIGHUP, when asked), or once the parent process has ended, the final
// record; or an "error" for the stage that failed. Yields the exit status. Runs on the main queue.
platform::Task<int> runRecording(const RunOptions& options, platform::PlatformServices& platform,
                                 events::EventSink& sink);

}  // namespace app
