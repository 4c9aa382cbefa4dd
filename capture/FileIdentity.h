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

}  // namespace capture
