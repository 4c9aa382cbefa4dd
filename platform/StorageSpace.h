#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace platform {

struct StorageReading {
  std::uint64_t fileBytes = 0;       // the file's size
  std::uint64_t availableBytes = 0;  // free to an unprivileged writer on the file's file system
};

// How full the file system under a file is, and flushing the file to it. Either may block (a
// network file system that hangs), so neither is made on the main queue or the sample queue.
class StorageSpace {
 public:
  virtual ~StorageSpace() = default;
  // None when `file` is not a regular file (a FIFO, a device) or either figure cannot be read.
  virtual std::optional<StorageReading> read(const std::filesystem::path& file) = 0;
  // Has the system write what it still holds of `file` to its storage, with the folder entry
  // that names it, and waits until it is there. False when the system says it could not (a
  // write error or a full disk it reports only now); true too for what does not keep data (a
  // FIFO, a device) or cannot be opened to be flushed. Blocks as long as the storage takes.
  virtual bool flush(const std::filesystem::path& file) = 0;
};

}  // namespace platform
