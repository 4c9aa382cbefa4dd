#pragma once

#include <string>

namespace platform::posix {

// Names the calling thread for debuggers and crash reports, where the system allows; best effort.
void nameCurrentThread(const std::string& name);

}  // namespace platform::posix
