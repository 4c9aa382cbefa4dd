#include "platform/posix/PosixStorageSpace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include "platform/posix/SyncToStorage.h"

namespace platform::posix {

std::optional<StorageReading> PosixStorageSpace::read(const std::filesystem::path& file) {
  struct stat status {};
  struct statvfs space {};
  if (::stat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  if (::statvfs(file.c_str(), &space) != 0) return std::nullopt;
  return StorageReading{static_cast<std::uint64_t>(status.st_size),
                        static_cast<std::uint64_t>(space.f_bavail) * space.f_frsize};
}

bool PosixStorageSpace::flush(const std::filesystem::path& file) {
  struct stat status {};
  if (::stat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return true;
  // A new file is kept only once its folder's entry is on the storage too.
  return syncedToStorage(file, 0) && syncedToStorage(file.parent_path(), O_DIRECTORY);
}

}  // namespace platform::posix
