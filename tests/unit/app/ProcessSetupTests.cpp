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

TEST(PrepareProcess, OnlyARecordingIgnoresSigintAndSigpipe) {
  const struct {
    std::vector<std::string> arguments;
    bool recording;
  } cases[] = {
      {{"tool", "--output", "take.mov"}, true},
      {{"tool", "--output", "take.mov", "--probe"}, false},
  };
  for (const auto& [arguments, recording] : cases) {
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGPIPE, SIG_DFL);
    prepareProcess(arguments);
    EXPECT_EQ(ignored(SIGINT), recording) << arguments.size() << " arguments";
    EXPECT_EQ(ignored(SIGPIPE), recording) << arguments.size() << " arguments";
  }
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGPIPE, SIG_DFL);
}

}  // namespace
}  // namespace app
