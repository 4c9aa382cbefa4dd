#pragma once

#include "platform/StorageSpace.h"

namespace platform::posix {

// stat() for the file's size, statvfs() for the space left to unprivileged writers.
class PosixStorageSpace final : public StorageSpace {
 public:
  std::optional<StorageReading> read(const std::filesystem::path& file) override;
};

}  // namespace platform::posix
