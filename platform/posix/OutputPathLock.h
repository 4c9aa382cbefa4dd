#pragma once

#include <filesystem>
#include <optional>

namespace platform::posix {

// A claim on a movie's path for a platform whose own writer creates the movie, so that the
// movie cannot be locked before it exists: an exclusive flock on a lock file named after the
// path's canonical form, in a folder of the user's. Spellings of one path (relative, through a
// symbolic link to its folder) take the same claim. Owned by what lives as long as the
// recording; destruction removes the lock file and ends the claim.
class OutputPathLock {
 public:
  // Empty when another recorder holds the path. A lock file that cannot be made (no such folder,
  // no permission) leaves the recording unprotected rather than refused.
  static std::optional<OutputPathLock> claim(const std::filesystem::path& output,
                                             const std::filesystem::path& lockFolder);
  // In the user's temporary folder ($TMPDIR, which macOS keeps per user; else /tmp).
  static std::optional<OutputPathLock> claim(const std::filesystem::path& output);

  OutputPathLock(OutputPathLock&& other) noexcept;
  OutputPathLock& operator=(OutputPathLock&&) = delete;
  OutputPathLock(const OutputPathLock&) = delete;
  OutputPathLock& operator=(const OutputPathLock&) = delete;
  ~OutputPathLock();

 private:
  OutputPathLock(std::filesystem::path lockFile, int descriptor)
      : lockFile_(std::move(lockFile)), descriptor_(descriptor) {}

  std::filesystem::path lockFile_;
  int descriptor_;  // -1 when unprotected
};

}  // namespace platform::posix
