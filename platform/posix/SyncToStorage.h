#pragma once

#include <filesystem>

namespace platform::posix {

// Has the system put what was written to the file on its storage (F_FULLFSYNC on macOS, whose
// fsync leaves the data in the drive's cache). True also where the file cannot be synced at all
// (EINVAL: a FIFO or device; EROFS: nothing was written there). A write error the system held
// back (a network file system) shows here, to one sync alone. Blocks for as long as the storage
// takes: callers own a thread or a queue that may wait.
bool syncedToStorage(int descriptor);
// The same for a file or folder named by its path; true when it cannot be opened.
bool syncedToStorage(const std::filesystem::path& path, int openFlags);

}  // namespace platform::posix
