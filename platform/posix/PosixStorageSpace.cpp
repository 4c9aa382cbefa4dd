#include "platform/posix/PosixStorageSpace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

namespace platform::posix {

namespace {

// Whether a sync of `descriptor` lost nothing: it succeeded, or the file cannot be synced at all
// (EINVAL: a special file; EROFS: nothing was written there).
bool synced(int descriptor) {
  int result;
  do {
#ifdef __APPLE__
    // fsync leaves the data in the drive's cache; a file system without the full flush gets fsync.
    result = ::fcntl(descriptor, F_FULLFSYNC);
    if (result != 0 && (errno == ENOTSUP || errno == EINVAL)) result = ::fsync(descriptor);
#else
    result = ::fsync(descriptor);
#endif
  } while (result != 0 && errno == EINTR);
  return result == 0 || errno == EINVAL || errno == EROFS;
}

bool flushed(const std::filesystem::path& path, int flags) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | flags);
  if (descriptor < 0) return true;
  const bool ok = synced(descriptor);
  ::close(descriptor);
  return ok;
}

}  // namespace

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
  return flushed(file, 0) && flushed(file.parent_path(), O_DIRECTORY);
}

}  // namespace platform::posix
