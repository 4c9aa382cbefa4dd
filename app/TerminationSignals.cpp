#include "app/TerminationSignals.h"

#include <pthread.h>
#include <signal.h>

namespace app {

namespace {

sigset_t terminationSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signalNumber : terminationSignals()) sigaddset(&set, signalNumber);
  return set;
}

}  // namespace

std::vector<int> terminationSignals() {
  return {SIGTERM, SIGHUP};
}

void holdTerminationSignals() {
  const sigset_t set = terminationSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool terminationSignalPending() {
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  for (const int signalNumber : terminationSignals()) {
    if (sigismember(&pending, signalNumber) == 1) return true;
  }
  return false;
}

void releaseTerminationSignals() {
  const sigset_t set = terminationSet();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace app
