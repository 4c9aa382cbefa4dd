#pragma once

#include <vector>

namespace app {

// The signals that stop a recording run: SIGINT, and SIGTERM and SIGHUP with --stop-on-sigterm.
// They are held pending from the process's first step until the stop is armed, so that one sent
// during the start, from that step on, stops the recording right after "ready" instead of being
// lost or ending the process.
std::vector<int> stopSignals(bool onTermination);

// Blocks them on the calling thread. Called before any other thread exists, so that every thread
// made later inherits the block and a delivery stays pending for the main thread.
void holdStopSignals(bool onTermination);

// Whether one is pending. Asked before the stop source is active, since making a signal ignored,
// as a source may, drops one pending.
bool stopSignalPending(bool onTermination);

// Unblocks them on the calling thread, once the stop source is active.
void releaseStopSignals(bool onTermination);

}  // namespace app
