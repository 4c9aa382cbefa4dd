#pragma once

namespace platform {

// Ends the process at once, as capture threads may still be running and no destructor may wait
// for them, after releasing what would outlive the process otherwise: the lock files of the
// claims on output paths. Every end of the tool goes through here.
[[noreturn]] void exitProcess(int status);

}  // namespace platform
