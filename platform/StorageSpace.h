#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace platform {

struct StorageReading {
  std::uint64_t fileBytes = 0;       // the file's size
  std::uint64_t availableBytes = 0;  // free to an unprivileged writer on the file's file system
};

// How full the file system under a file is. A read may block (a network file system that
// hangs), so it is never made on the main queue or the sample queue.
class StorageSpace {
 public:
  virtual ~StorageSpace() = default;
  // None when `file` is not a regular file (a FIFO, a device) or either figure cannot be read.
  virtual std::optional<StorageReading> read(const std::filesystem::path& file) = 0;
};

}  // namespace platform
