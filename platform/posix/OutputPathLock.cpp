#include "platform/posix/OutputPathLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <utility>

namespace platform::posix {

namespace {

std::filesystem::path canonicalForm(const std::filesystem::path& output) {
  std::error_code error;
  std::filesystem::path canonical = std::filesystem::weakly_canonical(output, error);
  if (error) canonical = std::filesystem::absolute(output, error).lexically_normal();
  return canonical;
}

// FNV-1a: stable across runs and builds, which std::hash is not required to be.
std::uint64_t fingerprint(const std::string& text) {
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001b3u;
  }
  return hash;
}

std::filesystem::path lockFileFor(const std::filesystem::path& output,
                                  const std::filesystem::path& lockFolder) {
  char name[64];
  std::snprintf(name, sizeof name, "tessaloquin-audio-capture-%016llx.lock",
                static_cast<unsigned long long>(fingerprint(canonicalForm(output).native())));
  return lockFolder / name;
}

struct Held {
  std::filesystem::path lockFile;
  int descriptor;
};

// Every claim the process holds, so that an exit without destructors can still end them.
struct ClaimTable {
  std::mutex mutex;
  std::uint64_t lastID = 0;            // guarded by mutex
  std::map<std::uint64_t, Held> held;  // guarded by mutex
};

ClaimTable& claimTable() {
  static ClaimTable* const table = new ClaimTable;  // never destroyed: exits use it last
  return *table;
}

// Removed while still locked, so that no one locks a file on its way out.
void end(const Held& claim) {
  ::unlink(claim.lockFile.c_str());
  ::close(claim.descriptor);
}

bool namesSameFile(int descriptor, const std::filesystem::path& path) {
  struct stat opened;
  struct stat named;
  return fstat(descriptor, &opened) == 0 && ::stat(path.c_str(), &named) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

}  // namespace

std::optional<OutputPathLock> OutputPathLock::claim(const std::filesystem::path& output,
                                                    const std::filesystem::path& lockFolder) {
  std::filesystem::path lockFile = lockFileFor(output, lockFolder);
  while (true) {
    const int descriptor =
        ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0) return OutputPathLock(0);
    if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(descriptor);
      if (error == EWOULDBLOCK) return std::nullopt;
      return OutputPathLock(0);
    }
    // A holder that ended between the open and the lock removed the file this one locks.
    if (namesSameFile(descriptor, lockFile)) {
      ClaimTable& table = claimTable();
      std::lock_guard lock(table.mutex);
      table.held.emplace(++table.lastID, Held{std::move(lockFile), descriptor});
      return OutputPathLock(table.lastID);
    }
    ::close(descriptor);
  }
}

std::optional<OutputPathLock> OutputPathLock::claim(const std::filesystem::path& output) {
  std::error_code error;
  std::filesystem::path folder = std::filesystem::temp_directory_path(error);
  return claim(output, error ? std::filesystem::path("/tmp") : folder);
}

void OutputPathLock::releaseAll() {
  ClaimTable& table = claimTable();
  std::lock_guard lock(table.mutex);
  for (const auto& [id, claim] : table.held) end(claim);
  table.held.clear();
}

OutputPathLock::OutputPathLock(OutputPathLock&& other) noexcept
    : id_(std::exchange(other.id_, 0)) {}

OutputPathLock::~OutputPathLock() {
  if (id_ == 0) return;
  ClaimTable& table = claimTable();
  std::lock_guard lock(table.mutex);
  const auto claim = table.held.find(id_);
  if (claim == table.held.end()) return;
  end(claim->second);
  table.held.erase(claim);
}

}  // namespace platform::posix
