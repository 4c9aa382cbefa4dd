#pragma once

#include <string>
#include <vector>

namespace app {

// The first step of the process, before any library is initialised. For a recording, SIGINT
// and SIGPIPE are ignored from here on: a SIGINT during the start must not end the process
// (only the armed source turns it into the stop), and a reader that went away costs the
// records, not the movie. The probe and a usage error leave every disposition as it was.
void prepareProcess(const std::vector<std::string>& arguments);

}  // namespace app
