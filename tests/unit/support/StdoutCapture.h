#pragma once

#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "events/EventStream.h"

namespace test_support {

// Sends everything written to file descriptor 1 into a temporary file until destruction, so
// that the bytes a test produced on stdout can be read back; records still with the event
// stream's writer are waited for. A file rather than a pipe: a writer can never block on a
// reader that has not started yet.
class StdoutCapture {
 public:
  StdoutCapture() : file_(std::tmpfile()) {
    std::fflush(stdout);
    savedStdout_ = ::dup(STDOUT_FILENO);
    if (file_ == nullptr || savedStdout_ < 0 || ::dup2(::fileno(file_), STDOUT_FILENO) < 0) {
      release();
      throw std::runtime_error("cannot redirect stdout");
    }
  }

  ~StdoutCapture() {
    events::standardOutputEvents().flush();
    std::fflush(stdout);
    ::dup2(savedStdout_, STDOUT_FILENO);
    release();
  }

  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  // Every byte written since construction, exactly as written.
  std::string text() const {
    events::standardOutputEvents().flush();
    std::fflush(stdout);
    std::string captured;
    char buffer[4096];
    for (;;) {
      const ssize_t count =
          ::pread(::fileno(file_), buffer, sizeof buffer, static_cast<off_t>(captured.size()));
      if (count <= 0) return captured;
      captured.append(buffer, static_cast<std::size_t>(count));
    }
  }

  // The captured text split at each '\n'; a trailing piece without one is kept as a last line.
  std::vector<std::string> lines() const {
    std::istringstream captured(text());
    std::vector<std::string> result;
    for (std::string line; std::getline(captured, line);) result.push_back(line);
    return result;
  }

 private:
  void release() {
    if (savedStdout_ >= 0) ::close(savedStdout_);
    if (file_ != nullptr) std::fclose(file_);
  }

  std::FILE* file_;
  int savedStdout_ = -1;
};

}  // namespace test_support
