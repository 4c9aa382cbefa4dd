#pragma once

#include "platform/StorageSpace.h"

namespace platform::posix {

// stat() for the file's size, statvfs() for the space left to unprivileged writers; fsync() of
// the file and its folder to flush it (F_FULLFSYNC on macOS, whose fsync leaves the data in the
// drive's cache).
class PosixStorageSpace final : public StorageSpace {
 public:
  std::optional<StorageReading> read(const std::filesystem::path& file) override;
  bool flush(const std::filesystem::path& file) override;
};

}  // namespace platform::posix
