#include <memory>
#include <string>
#include <vector>

#include "app/ProcessSetup.h"
#include "app/ToolMain.h"
#include "events/EventStream.h"
#include "platform/PlatformServices.h"
#include "platform/ProcessExit.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv, argv + argc);
  app::prepareProcess(arguments);
  std::unique_ptr<platform::PlatformServices> platform;
  try {
    platform = platform::makeSystemPlatform();
  } catch (const platform::PlatformError& error) {
    platform::exitProcess(app::reportMissingPlatform(arguments, error));
  }
  const int status = app::runTool(arguments, *platform, events::standardOutputEvents());
  // Capture threads may still be running: end without tearing anything down, as every record
  // has already been written; only the claims on the output path are released.
  platform::exitProcess(status);
}
