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

FileIdentity identityOf(const struct stat& status) {
  return FileIdentity{static_cast<std::uint64_t>(status.st_dev),
                      static_cast<std::uint64_t>(status.st_ino)};
}

}  // namespace

std::optional<FileIdentity> identityOf(const fs::path& path) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  return identityOf(status);
}

std::optional<FileIdentity> identityOf(int descriptor) {
  struct stat status;
  if (fstat(descriptor, &status) != 0) return std::nullopt;
  return identityOf(status);
}

bool writesInto(const fs::path& path, const std::optional<FileIdentity>& file) {
  std::error_code error;
  return file && identityOf(path) == file && !fs::is_character_file(path, error);
}

bool namesSameFile(const fs::path& first, const fs::path& second) {
  const std::optional<FileIdentity> secondFile = identityOf(second);
  if (secondFile || identityOf(first)) return writesInto(first, secondFile);
  return resolved(first) == resolved(second);
}

}  // namespace capture
