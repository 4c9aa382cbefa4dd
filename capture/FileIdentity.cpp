#include "capture/FileIdentity.h"

#include <sys/stat.h>

namespace capture {

std::optional<FileIdentity> identityOf(const std::filesystem::path& path) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(status.st_dev),
                      static_cast<std::uint64_t>(status.st_ino)};
}

}  // namespace capture
