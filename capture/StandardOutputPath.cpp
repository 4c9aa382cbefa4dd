#include "capture/StandardOutputPath.h"

#include <unistd.h>

#include "capture/FileIdentity.h"

namespace capture {

bool isStandardOutput(const std::filesystem::path& path) {
  return writesInto(path, identityOf(STDOUT_FILENO));
}

}  // namespace capture
