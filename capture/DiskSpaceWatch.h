#pragma once

#include <cstdint>
#include <optional>

namespace capture {

// Tells the parent before a disk fills: how long the space left on one file system the
// recording fills lasts at the rate the recording's files there have grown since the first
// reading. Readings come every few seconds, one at a time, from wherever the platform's storage
// is asked.
class DiskSpaceWatch {
 public:
  // `seconds`: a monotonic time of the reading; `writtenBytes`: the size of the recording's files
  // on the file system (the movie and the sources' own files there). Yields the seconds
  // left, whole, when they have fallen below 5 minutes: once, and again only after they have risen
  // to 5 minutes or more (space was freed).
  std::optional<std::uint64_t> read(double seconds, std::uint64_t writtenBytes,
                                    std::uint64_t availableBytes);

 private:
  struct Reading {
    double seconds;
    std::uint64_t writtenBytes;
  };
  std::optional<Reading> first_;
  bool warned_ = false;
};

}  // namespace capture
