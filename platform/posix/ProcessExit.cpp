#include "platform/ProcessExit.h"

#include <cstdlib>

#include "platform/posix/OutputPathLock.h"

namespace platform {

void exitProcess(int status) {
  posix::OutputPathLock::releaseAll();
  std::_Exit(status);
}

}  // namespace platform
