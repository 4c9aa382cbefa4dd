#pragma once

#include <string>
#include <vector>

#include "platform/PlatformServices.h"

namespace app {

// The whole tool: parses `arguments` (element 0 is the program's path), probes or records, and
// returns the exit status. The calling thread becomes the main thread and services the main
// queue until the run has ended.
int runTool(const std::vector<std::string>& arguments, platform::PlatformServices& platform);

}  // namespace app
