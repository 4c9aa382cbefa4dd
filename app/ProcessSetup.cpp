#include "app/ProcessSetup.h"

#include <csignal>
#include <variant>

#include "app/CommandLine.h"

namespace app {

void prepareProcess(const std::vector<std::string>& arguments) {
  // Only the kind of run matters here, not the output path, so no directory is looked up.
  if (!std::holds_alternative<RunOptions>(parseCommandLine(arguments, {}))) return;
  std::signal(SIGINT, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace app
