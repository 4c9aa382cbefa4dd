#include "capture/StandardOutputPath.h"

#include <sys/stat.h>
#include <unistd.h>

namespace capture {

bool isStandardOutput(const std::filesystem::path& path) {
  struct stat standardOutput;
  struct stat named;
  if (fstat(STDOUT_FILENO, &standardOutput) != 0 || ::stat(path.c_str(), &named) != 0) {
    return false;
  }
  return !S_ISCHR(named.st_mode) && named.st_dev == standardOutput.st_dev &&
         named.st_ino == standardOutput.st_ino;
}

}  // namespace capture
