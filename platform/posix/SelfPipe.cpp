#include "platform/posix/SelfPipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace platform::posix {
namespace {

[[noreturn]] void throwErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// pipe2() is not on macOS, so the flags are set one by one.
void makeNonBlockingCloseOnExec(int fd) {
  const int statusFlags = fcntl(fd, F_GETFL);
  if (statusFlags == -1 || fcntl(fd, F_SETFL, statusFlags | O_NONBLOCK) == -1) {
    throwErrno("fcntl(O_NONBLOCK)");
  }
  const int descriptorFlags = fcntl(fd, F_GETFD);
  if (descriptorFlags == -1 || fcntl(fd, F_SETFD, descriptorFlags | FD_CLOEXEC) == -1) {
    throwErrno("fcntl(FD_CLOEXEC)");
  }
}

}  // namespace

SelfPipe::SelfPipe() {
  int fds[2];
  if (pipe(fds) == -1) throwErrno("pipe");
  readFd_ = fds[0];
  writeFd_ = fds[1];
  try {
    makeNonBlockingCloseOnExec(readFd_);
    makeNonBlockingCloseOnExec(writeFd_);
  } catch (...) {
    close(readFd_);
    close(writeFd_);
    throw;
  }
}

SelfPipe::~SelfPipe() {
  close(readFd_);
  close(writeFd_);
}

void SelfPipe::ring(int writeFd) {
  const int savedErrno = errno;
  const char byte = 0;
  while (write(writeFd, &byte, 1) == -1 && errno == EINTR) {
  }
  errno = savedErrno;
}

bool SelfPipe::drain() const {
  bool heldAnything = false;
  char buffer[64];
  for (;;) {
    const ssize_t count = read(readFd_, buffer, sizeof buffer);
    if (count > 0) {
      heldAnything = true;
    } else if (count == -1 && errno == EINTR) {
      continue;
    } else {
      return heldAnything;
    }
  }
}

}  // namespace platform::posix
