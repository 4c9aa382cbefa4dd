#pragma once

#include <cstdint>
#include <optional>

namespace capture {

// Tells the parent before the disk fills: how long the space left under the movie lasts at the
// rate the movie has grown since the first reading, or the space has fallen, when faster. Each
// source's own file, twenty times the movie's rate, may share the disk, as may other writers.
// Readings come every few seconds, one at a time, from wherever the platform's storage is asked.
class DiskSpaceWatch {
 public:
  // `seconds`: a monotonic time of the reading. Yields the seconds left, whole, when they have
  // fallen below 5 minutes: once, and again only after they have risen to 5 minutes or more
  // (space was freed).
  std::optional<std::uint64_t> read(double seconds, std::uint64_t movieBytes,
                                    std::uint64_t availableBytes);

 private:
  struct Reading {
    double seconds;
    std::uint64_t movieBytes;
    std::uint64_t availableBytes;
  };
  std::optional<Reading> first_;
  bool warned_ = false;
};

}  // namespace capture
