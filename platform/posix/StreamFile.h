#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>

namespace platform::posix {

// Where one per-source audio stream goes: a regular file, a FIFO, a device, or a descriptor the
// parent handed down (/dev/fd/N). Nothing here ever blocks for a reader: a FIFO without one is
// opened later, when one comes, and pipes and sockets are written without blocking, waiting in
// short polls that give up at a deadline. SIGPIPE is blocked on the writing thread, so a reader
// that goes away shows as such instead of ending the process.
// Made on the main thread; then used by one writing thread alone.
class StreamFile {
 public:
  struct Opened;

  // A FIFO without a reader opens as a file that is not open yet.
  static Opened open(const std::filesystem::path& path);

  ~StreamFile();
  StreamFile(const StreamFile&) = delete;
  StreamFile& operator=(const StreamFile&) = delete;

  bool isOpen() const { return descriptor_ >= 0; }
  // Only a FIFO named by its path can be opened again once its reader went away.
  bool canReopen() const { return reopenable_; }
  // Opens a FIFO whose reader has come; false while there is none.
  bool tryReopen();
  // Whether the start can be rewritten in place, as in a regular file.
  bool isSeekable() const { return seekable_; }

  enum class Outcome { written, readerGone, failed, gaveUp };
  // Steady-clock ticks from which a write that waits for its reader gives up; max() for never.
  // Another thread may bring it forward while a write waits.
  using Deadline = std::atomic<std::chrono::steady_clock::rep>;
  static constexpr std::chrono::steady_clock::rep kNoDeadline =
      std::chrono::steady_clock::duration::max().count();
  // Writes all of `bytes`; a reader that takes nothing past `deadline` leaves the rest unwritten.
  // On any outcome but `written` the file is closed.
  Outcome write(std::span<const std::byte> bytes, const Deadline& deadline);
  // Rewrites the file's first bytes; only where isSeekable().
  bool rewriteStart(std::span<const std::byte> bytes);
  void close();

 private:
  StreamFile(std::filesystem::path path, int descriptor, bool reopenable);

  const std::filesystem::path path_;
  int descriptor_;
  const bool reopenable_;
  bool seekable_ = false;
};

struct StreamFile::Opened {
  std::unique_ptr<StreamFile> file;  // null when it cannot be opened
  int error = 0;                     // errno then: missing folder, permission, no such descriptor
};

}  // namespace platform::posix
