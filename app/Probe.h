#pragma once

#include "events/EventSink.h"
#include "platform/PlatformServices.h"
#include "platform/Task.h"

namespace app {

// Asks for the capturable content, which makes the platform check the capture permission, and
// prints the outcome. Yields the exit status. Creates no session and touches no signal.
platform::Task<int> runProbe(platform::PlatformServices& platform, events::EventSink& sink);

}  // namespace app
