#include "platform/posix/PosixStorageSpace.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

namespace platform::posix {

std::optional<StorageReading> PosixStorageSpace::read(const std::filesystem::path& file) {
  struct stat status {};
  struct statvfs space {};
  if (::stat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  if (::statvfs(file.c_str(), &space) != 0) return std::nullopt;
  return StorageReading{static_cast<std::uint64_t>(status.st_size),
                        static_cast<std::uint64_t>(space.f_bavail) * space.f_frsize};
}

}  // namespace platform::posix
