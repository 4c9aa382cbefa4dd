#pragma once

#include <vector>

namespace app {

// SIGTERM and SIGHUP, which stop a recording run with --stop-on-sigterm. They are held pending
// from the process's first step until the stop is armed, so that one sent during the start (a
// service manager's, say) stops the recording right after "ready" instead of being lost.
std::vector<int> terminationSignals();

// Blocks them on the calling thread. Called before any other thread exists, so that every thread
// made later inherits the block and a delivery stays pending for the main thread.
void holdTerminationSignals();

// Whether one is pending. Asked before the stop source is active, since making a signal ignored,
// as a source may, drops one pending.
bool terminationSignalPending();

// Unblocks them on the calling thread, once the stop source is active.
void releaseTerminationSignals();

}  // namespace app
