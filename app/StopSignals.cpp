#include "app/StopSignals.h"

#include <pthread.h>
#include <signal.h>

namespace app {

namespace {

sigset_t stopSet(bool onTermination) {
  sigset_t set;
  sigemptyset(&set);
  for (const int signalNumber : stopSignals(onTermination)) sigaddset(&set, signalNumber);
  return set;
}

}  // namespace

std::vector<int> stopSignals(bool onTermination) {
  if (onTermination) return {SIGINT, SIGTERM, SIGHUP};
  return {SIGINT};
}

void holdStopSignals(bool onTermination) {
  const sigset_t set = stopSet(onTermination);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool stopSignalPending(bool onTermination) {
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  for (const int signalNumber : stopSignals(onTermination)) {
    if (sigismember(&pending, signalNumber) == 1) return true;
  }
  return false;
}

void releaseStopSignals(bool onTermination) {
  const sigset_t set = stopSet(onTermination);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace app
