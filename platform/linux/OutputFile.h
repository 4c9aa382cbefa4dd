#pragma once

#include <filesystem>

namespace platform::linux_gst {

// The movie file, opened by the tool and handed to the writer as a descriptor.
//
// Opening never blocks: a FIFO without a reader fails at once instead of holding the start.
// A regular file is locked (flock, exclusive) before it is truncated, so a file that another
// recorder is writing is left as it is; FIFOs and devices such as /dev/null are neither locked
// nor truncated. Writes then block as usual. Closing, at destruction, releases the lock.
// Owned by the pipeline that writes it.
class OutputFile {
 public:
  // Throws PlatformError: the tool's "held by another recorder" when the lock is taken,
  // else GStreamer's resource error "cannot open for writing", as its file sink would.
  explicit OutputFile(const std::filesystem::path& path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  int descriptor() const { return descriptor_; }

 private:
  int descriptor_;
};

}  // namespace platform::linux_gst
