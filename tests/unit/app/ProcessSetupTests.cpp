#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "app/ProcessSetup.h"

namespace app {
namespace {

bool ignored(int signalNumber) {
  struct sigaction current {};
  ::sigaction(signalNumber, nullptr, &current);
  return current.sa_handler == SIG_IGN;
}

bool blocked(int signalNumber) {
  sigset_t mask;
  ::pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  return sigismember(&mask, signalNumber) == 1;
}

TEST(PrepareProcess, OnlyARecordingIgnoresSigintSigpipeAndSigxfszAndUnblocksSigint) {
  const struct {
    std::vector<std::string> arguments;
    bool recording;
  } cases[] = {
      {{"tool", "--output", "take.mov"}, true},
      {{"tool", "--output", "take.mov", "--probe"}, false},
  };
  for (const auto& [arguments, recording] : cases) {
    for (const int signalNumber : {SIGINT, SIGPIPE, SIGXFSZ}) ::signal(signalNumber, SIG_DFL);
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    ::pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
    prepareProcess(arguments);
    for (const int signalNumber : {SIGINT, SIGPIPE, SIGXFSZ}) {
      EXPECT_EQ(ignored(signalNumber), recording) << signalNumber << ", " << arguments.size();
    }
    EXPECT_EQ(blocked(SIGINT), !recording) << arguments.size() << " arguments";
    ::pthread_sigmask(SIG_UNBLOCK, &interrupt, nullptr);
  }
  for (const int signalNumber : {SIGINT, SIGPIPE, SIGXFSZ}) ::signal(signalNumber, SIG_DFL);
}

// Held back from the first step, so that one sent during the start is kept for the armed stop;
// never for a recording without the option, a probe or a listing, whose SIGTERM ends them.
TEST(PrepareProcess, OnlyARecordingThatStopsOnSigtermHoldsSigtermAndSighup) {
  const struct {
    std::vector<std::string> arguments;
    bool held;
  } cases[] = {
      {{"tool", "--output", "take.mov", "--stop-on-sigterm"}, true},
      {{"tool", "--output", "take.mov"}, false},
      {{"tool", "--output", "take.mov", "--stop-on-sigterm", "--probe"}, false},
      {{"tool", "--stop-on-sigterm", "--list-microphones"}, false},
  };
  sigset_t termination;
  sigemptyset(&termination);
  sigaddset(&termination, SIGTERM);
  sigaddset(&termination, SIGHUP);
  for (const auto& [arguments, held] : cases) {
    prepareProcess(arguments);
    EXPECT_EQ(blocked(SIGTERM), held) << arguments.size() << " arguments";
    EXPECT_EQ(blocked(SIGHUP), held) << arguments.size() << " arguments";
    ::pthread_sigmask(SIG_UNBLOCK, &termination, nullptr);
  }
  for (const int signalNumber : {SIGINT, SIGPIPE, SIGXFSZ}) ::signal(signalNumber, SIG_DFL);
}

}  // namespace
}  // namespace app
