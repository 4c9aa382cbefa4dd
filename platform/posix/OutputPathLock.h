#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace platform::posix {

// A claim on a movie's path for a platform whose own writer creates the movie, so that the
// movie cannot be locked before it exists: an exclusive flock on a lock file named after the
// path's canonical form, in a folder of the user's. Spellings of one path (relative, through a
// symbolic link to its folder) take the same claim. Owned by what lives as long as the
// recording; destruction removes the lock file and ends the claim, and so does releaseAll() for
// a process that ends without destroying anything.
class OutputPathLock {
 public:
  // Empty when another recorder holds the path. A lock file that cannot be made (no such folder,
  // no permission) leaves the recording unprotected rather than refused.
  static std::optional<OutputPathLock> claim(const std::filesystem::path& output,
                                             const std::filesystem::path& lockFolder);
  // In the user's temporary folder ($TMPDIR, which macOS keeps per user; else /tmp).
  static std::optional<OutputPathLock> claim(const std::filesystem::path& output);
  // Any thread: ends every claim of the process; their destruction then does nothing.
  static void releaseAll();

  OutputPathLock(OutputPathLock&& other) noexcept;
  OutputPathLock& operator=(OutputPathLock&&) = delete;
  OutputPathLock(const OutputPathLock&) = delete;
  OutputPathLock& operator=(const OutputPathLock&) = delete;
  ~OutputPathLock();

 private:
  explicit OutputPathLock(std::uint64_t id) : id_(id) {}

  std::uint64_t id_;  // the claim's key in the process's table; 0 when unprotected or moved
};

}  // namespace platform::posix
