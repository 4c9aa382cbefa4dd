#include "capture/DiskSpaceWatch.h"

#include <algorithm>
#include <cmath>

namespace capture {

namespace {

constexpr double kLowSeconds = 300.0;

}  // namespace

std::optional<std::uint64_t> DiskSpaceWatch::read(double seconds, std::uint64_t movieBytes,
                                                  std::uint64_t availableBytes) {
  if (!first_) {
    first_ = Reading{seconds, movieBytes, availableBytes};
    return std::nullopt;
  }
  if (seconds <= first_->seconds) return std::nullopt;
  // Each a growth since the first reading, none when it shrank (a movie replaced by a smaller
  // file, space freed).
  const auto growth = [](std::uint64_t from, std::uint64_t to) {
    return to > from ? static_cast<double>(to - from) : 0.0;
  };
  const double bytesPerSecond = std::max(growth(first_->movieBytes, movieBytes),
                                         growth(availableBytes, first_->availableBytes)) /
                                (seconds - first_->seconds);
  if (bytesPerSecond <= 0) return std::nullopt;
  const double secondsLeft = static_cast<double>(availableBytes) / bytesPerSecond;
  if (secondsLeft >= kLowSeconds) {
    warned_ = false;
    return std::nullopt;
  }
  if (warned_) return std::nullopt;
  warned_ = true;
  return static_cast<std::uint64_t>(std::floor(secondsLeft));
}

}  // namespace capture
