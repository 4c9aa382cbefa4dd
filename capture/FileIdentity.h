#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace capture {

// A file as the system knows it (device and inode), whatever path names it.
struct FileIdentity {
  std::uint64_t device;
  std::uint64_t inode;
  bool operator==(const FileIdentity&) const = default;
};

// The file `path` names now, following symbolic links; nullopt when it names none.
std::optional<FileIdentity> identityOf(const std::filesystem::path& path);

// Whether writing to `first` and to `second` would write one file: the same file by any name (a
// link, "..", "/dev/fd/N"), or, before either exists, one path once the folders' links are
// followed. A character device such as "/dev/null" takes any number of writers.
bool namesSameFile(const std::filesystem::path& first, const std::filesystem::path& second);

}  // namespace capture
