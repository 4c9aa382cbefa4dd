// The output file: opened, locked and truncated on the loop thread while the pipeline is built;
// closed where the pipeline is dropped (GStreamer's thread pool), once it has been set to NULL,
// as nothing writes it then.
#include "platform/linux/OutputFile.h"

#include <fcntl.h>
#include <gst/gst.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/ToolErrors.h"
#include "platform/linux/Errors.h"

namespace platform::linux_gst {

namespace {

PlatformError cannotOpen(const std::filesystem::path& path, int error) {
  return PlatformError(
      kErrorTypeName, g_quark_to_string(GST_RESOURCE_ERROR), GST_RESOURCE_ERROR_OPEN_WRITE,
      "Could not open file \"" + path.string() + "\" for writing: " + std::strerror(error));
}

// Locks and empties a regular file; anything else is written as it is. A file system that cannot
// lock (NFS without its lock service: ENOLCK) still takes the recording: the lock only keeps a
// second recorder out.
void claimRegularFile(int descriptor, const std::filesystem::path& path) {
  struct stat status;
  if (fstat(descriptor, &status) != 0) throw cannotOpen(path, errno);
  if (!S_ISREG(status.st_mode)) return;
  if (flock(descriptor, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    throw toolError(kErrorTypeName, ToolErrorCode::outputHeld);
  }
  if (ftruncate(descriptor, 0) != 0) throw cannotOpen(path, errno);
}

}  // namespace

OutputFile::OutputFile(const std::filesystem::path& path)
    : descriptor_(
          ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666)) {
  if (descriptor_ < 0) throw cannotOpen(path, errno);
  try {
    claimRegularFile(descriptor_, path);
    const int flags = fcntl(descriptor_, F_GETFL);
    if (flags < 0 || fcntl(descriptor_, F_SETFL, flags & ~O_NONBLOCK) != 0) {
      throw cannotOpen(path, errno);
    }
  } catch (...) {
    ::close(descriptor_);
    throw;
  }
}

OutputFile::~OutputFile() {
  ::close(descriptor_);
}

}  // namespace platform::linux_gst
