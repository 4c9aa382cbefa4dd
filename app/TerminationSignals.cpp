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

bool releaseTerminationSignals() {
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  bool wasPending = false;
  for (const int signalNumber : terminationSignals()) {
    wasPending = wasPending || sigismember(&pending, signalNumber) == 1;
  }
  const sigset_t set = terminationSet();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  return wasPending;
}

}  // namespace app
