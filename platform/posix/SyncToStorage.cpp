#include "platform/posix/SyncToStorage.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace platform::posix {

bool syncedToStorage(int descriptor) {
  int result;
  do {
#ifdef __APPLE__
    // A file system without the full flush gets fsync.
    result = ::fcntl(descriptor, F_FULLFSYNC);
    if (result != 0 && (errno == ENOTSUP || errno == EINVAL)) result = ::fsync(descriptor);
#else
    result = ::fsync(descriptor);
#endif
  } while (result != 0 && errno == EINTR);
  return result == 0 || errno == EINVAL || errno == EROFS;
}

bool syncedToStorage(const std::filesystem::path& path, int openFlags) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | openFlags);
  if (descriptor < 0) return true;
  const bool ok = syncedToStorage(descriptor);
  ::close(descriptor);
  return ok;
}

}  // namespace platform::posix
