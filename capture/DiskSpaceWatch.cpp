#include "capture/DiskSpaceWatch.h"

#include <cmath>

namespace capture {

namespace {

constexpr double kLowSeconds = 300.0;

}  // namespace

std::optional<std::uint64_t> DiskSpaceWatch::read(double seconds, std::uint64_t movieBytes,
                                                  std::uint64_t availableBytes) {
  if (!first_) {
    first_ = Reading{seconds, movieBytes};
    return std::nullopt;
  }
  // A movie that has not grown yet, or was replaced by a smaller file, gives no rate.
  if (seconds <= first_->seconds || movieBytes <= first_->movieBytes) return std::nullopt;
  const double bytesPerSecond =
      static_cast<double>(movieBytes - first_->movieBytes) / (seconds - first_->seconds);
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
