#include "capture/FileIdentity.h"

#include <sys/stat.h>

namespace capture {

namespace fs = std::filesystem;

namespace {

fs::path resolved(const fs::path& path) {
  std::error_code error;
  fs::path canonical = fs::weakly_canonical(path, error);
  return error ? path.lexically_normal() : canonical;
}

}  // namespace

std::optional<FileIdentity> identityOf(const fs::path& path) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(status.st_dev),
                      static_cast<std::uint64_t>(status.st_ino)};
}

bool namesSameFile(const fs::path& first, const fs::path& second) {
  const std::optional<FileIdentity> firstFile = identityOf(first);
  const std::optional<FileIdentity> secondFile = identityOf(second);
  std::error_code error;
  if (firstFile || secondFile) {
    return firstFile == secondFile && !fs::is_character_file(first, error);
  }
  return resolved(first) == resolved(second);
}

}  // namespace capture
