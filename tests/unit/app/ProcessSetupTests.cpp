#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Only a recording takes over its signals: SIGPIPE and SIGXFSZ ignored, and its stop signals held
// from the first step (SIGINT, with the option SIGTERM and SIGHUP too), never ignored, so that one
// sent during the start is kept for the armed stop rather than dropped. A probe or a listing
// keeps the defaults, under which SIGINT and SIGTERM end it.
TEST(PrepareProcess, OnlyARecordingTakesOverItsSignalsAndHoldsItsStopSignals) {
  const struct {
    std::vector<std::string> arguments;
    bool recording;
    bool holdsSigterm;
  } cases[] = {
      {{"tool", "--output", "take.mov"}, true, false},
      {{"tool", "--output", "take.mov", "--stop-on-sigterm"}, true, true},
      {{"tool", "--output", "take.mov", "--probe"}, false, false},
      {{"tool", "--output", "take.mov", "--stop-on-sigterm", "--probe"}, false, false},
      {{"tool", "--stop-on-sigterm", "--list-microphones"}, false, false},
  };
  sigset_t parentMask;
  ::pthread_sigmask(SIG_SETMASK, nullptr, &parentMask);
  for (const auto& [arguments, recording, holdsSigterm] : cases) {
    const std::string run = ::testing::PrintToString(arguments);
    for (const int signalNumber : {SIGINT, SIGPIPE, SIGXFSZ}) ::signal(signalNumber, SIG_DFL);
    ::pthread_sigmask(SIG_SETMASK, &parentMask, nullptr);
    prepareProcess(arguments);
    for (const int signalNumber : {SIGPIPE, SIGXFSZ}) {
      EXPECT_EQ(ignored(signalNumber), recording) << signalNumber << ", " << run;
    }
    EXPECT_FALSE(ignored(SIGINT)) << run;
    EXPECT_EQ(blocked(SIGINT), recording) << run;
    EXPECT_EQ(blocked(SIGTERM), holdsSigterm) << run;
    EXPECT_EQ(blocked(SIGHUP), holdsSigterm) << run;
  }
  ::pthread_sigmask(SIG_SETMASK, &parentMask, nullptr);
  for (const int signalNumber : {SIGINT, SIGPIPE, SIGXFSZ}) ::signal(signalNumber, SIG_DFL);
}

// A parent that closed standard output (`>&-`) must not have the records written into the
// first file the tool opens, which may be a per-source stream or the movie.
TEST(PrepareProcess, NoFileTakesTheStandardDescriptorsAParentClosed) {
  for (const auto& closed : {std::vector{1}, std::vector{0, 1, 2}}) {
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      for (const int descriptor : closed) ::close(descriptor);
      prepareProcess({"tool", "--output", "take.mov"});
      const int opened = ::open("/dev/zero", O_RDONLY);
      ::_exit(opened > 2 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << closed.size() << " closed";
  }
}

}  // namespace
}  // namespace app
