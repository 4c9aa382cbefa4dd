#pragma once

#include <string>
#include <vector>

#include "platform/PlatformError.h"

namespace app {

// The first step of the process, before any library is initialised. Standard descriptors the
// parent closed are opened on /dev/null, so that no file the tool opens takes their place. For
// a recording, the stop signals (SIGINT, and with --stop-on-sigterm SIGTERM and SIGHUP) are held
// pending until the stop is armed: one sent during the start neither ends the process nor is
// lost. SIGPIPE and SIGXFSZ are ignored from here on: a reader that went away costs the records,
// not the movie, and a file-size limit is a failed write, not a silent kill. The probe, the
// listing and a usage error leave every disposition and the mask as they were.
void prepareProcess(const std::vector<std::string>& arguments);

// When not even the platform could be made: the record of the stage that would have needed it,
// "probe" (also for a listing) or "start", or the usage error, which needs none. Yields the exit
// status; every record has been written.
int reportMissingPlatform(const std::vector<std::string>& arguments,
                          const platform::PlatformError& error);

}  // namespace app
