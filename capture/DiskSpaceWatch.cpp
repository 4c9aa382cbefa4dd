#include "capture/DiskSpaceWatch.h"

#include <cmath>

namespace capture {

namespace {

constexpr double kLowSeconds = 300.0;

}  // namespace

std::optional<std::uint64_t> DiskSpaceWatch::read(double seconds, std::uint64_t writtenBytes,
                                                  std::uint64_t availableBytes) {
  if (!first_) {
    first_ = Reading{seconds, writtenBytes};
    return std::nullopt;
  }
  // Files that have not grown yet, or were replaced by smaller ones, give no rate.
  if (seconds <= first_->seconds || writtenBytes <= first_->writtenBytes) return std::nullopt;
  const double bytesPerSecond =
      static_cast<double>(writtenBytes - first_->writtenBytes) / (seconds - first_->seconds);
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
