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

// The file behind an open descriptor; nullopt when it is not open.
std::optional<FileIdentity> identityOf(int descriptor);

// Whether writing to `path` would write into `file`. A character device such as "/dev/null" takes
// any number of writers, so writing to one writes into no other's file.
bool writesInto(const std::filesystem::path& path, const std::optional<FileIdentity>& file);

// Whether writing to `first` and to `second` would write one file, as writesInto() says: the same
// file by any name (a link, "..", "/dev/fd/N"), or, before either exists, one path once the
// folders' links are followed.
bool namesSameFile(const std::filesystem::path& first, const std::filesystem::path& second);

}  // namespace capture
