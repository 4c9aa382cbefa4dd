#pragma once

#include <string>
#include <vector>

#include "events/EventSink.h"
#include "platform/PlatformServices.h"

namespace app {

// The whole tool: parses `arguments` (element 0 is the program's path), probes or records with
// its records going to `sink`, and returns the exit status once they are all out. The calling
// thread becomes the main thread and services the main queue until the run has ended.
int runTool(const std::vector<std::string>& arguments, platform::PlatformServices& platform,
            events::EventSink& sink);

}  // namespace app
