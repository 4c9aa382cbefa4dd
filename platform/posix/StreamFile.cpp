// Per-source audio files, opened on the main thread during the start and written by a writer
// thread each (see capture/PcmStreams.h).
#include "platform/posix/StreamFile.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <memory>
#include <string>
#include <string_view>

namespace platform::posix {

namespace {

constexpr int kPollSliceMs = 50;

// N of "/dev/fd/N", which names a descriptor the parent handed down: duplicated rather than
// opened, since opening it anew fails for a socket (Node.js's pipes are sockets).
std::optional<int> handedDescriptor(const std::filesystem::path& path) {
  const std::string text = path.string();
  constexpr std::string_view prefix = "/dev/fd/";
  if (text.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  int descriptor = -1;
  const char* first = text.data() + prefix.size();
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(first, last, descriptor);
  if (error != std::errc() || end != last || first == last) return std::nullopt;
  return descriptor;
}

bool setNonBlocking(int descriptor) {
  const int flags = fcntl(descriptor, F_GETFL);
  return flags >= 0 && fcntl(descriptor, F_SETFL, flags | O_NONBLOCK) == 0;
}

void blockBrokenPipeSignal() {
  thread_local bool blocked = false;
  if (blocked) return;
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  blocked = true;
}

}  // namespace

StreamFile::Opened StreamFile::open(const std::filesystem::path& path) {
  auto refuse = [](int error) { return Opened{nullptr, error}; };
  if (const std::optional<int> handed = handedDescriptor(path)) {
    const int descriptor = fcntl(*handed, F_DUPFD_CLOEXEC, 3);
    if (descriptor < 0) return refuse(errno);
    std::unique_ptr<StreamFile> file(new StreamFile(path, descriptor, false));
    struct stat status;
    fstat(descriptor, &status);
    file->seekable_ = S_ISREG(status.st_mode);
    if (!file->seekable_ && !setNonBlocking(descriptor)) return refuse(errno);
    return Opened{std::move(file)};
  }
  struct stat named;
  if (stat(path.c_str(), &named) == 0 && S_ISFIFO(named.st_mode)) {
    // Asked now so that a FIFO the tool may not write fails the start; ENXIO only says that
    // no reader has come yet.
    std::unique_ptr<StreamFile> file(new StreamFile(path, -1, true));
    if (!file->tryReopen() && errno != ENXIO) return refuse(errno);
    return Opened{std::move(file)};
  }
  const int descriptor =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (descriptor < 0) return refuse(errno);
  std::unique_ptr<StreamFile> file(new StreamFile(path, descriptor, false));
  struct stat status;
  fstat(descriptor, &status);
  file->seekable_ = S_ISREG(status.st_mode);
  return Opened{std::move(file)};
}

StreamFile::StreamFile(std::filesystem::path path, int descriptor, bool reopenable)
    : path_(std::move(path)), descriptor_(descriptor), reopenable_(reopenable) {}

StreamFile::~StreamFile() {
  close();
}

bool StreamFile::tryReopen() {
  if (descriptor_ >= 0) return true;
  descriptor_ = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  return descriptor_ >= 0;
}

StreamFile::Outcome StreamFile::write(std::span<const std::byte> bytes, const Deadline& deadline) {
  blockBrokenPipeSignal();
  while (!bytes.empty()) {
    const ssize_t written = ::write(descriptor_, bytes.data(), bytes.size());
    if (written > 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(written));
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (std::chrono::steady_clock::now().time_since_epoch().count() >= deadline.load()) {
        close();
        return Outcome::gaveUp;
      }
      pollfd wanted{descriptor_, POLLOUT, 0};
      poll(&wanted, 1, kPollSliceMs);
      continue;
    }
    const bool readerGone = written < 0 && (errno == EPIPE || errno == ECONNRESET);
    close();
    return readerGone ? Outcome::readerGone : Outcome::failed;
  }
  return Outcome::written;
}

bool StreamFile::rewriteStart(std::span<const std::byte> bytes) {
  return descriptor_ >= 0 &&
         pwrite(descriptor_, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size());
}

void StreamFile::close() {
  if (descriptor_ >= 0) ::close(descriptor_);
  descriptor_ = -1;
}

}  // namespace platform::posix
