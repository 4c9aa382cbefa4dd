#include "capture/SilenceWatch.h"

namespace capture {

namespace {

constexpr double kSilencePeak = 1.0 / 32768.0;  // 2^-15
constexpr std::uint64_t kSilentSeconds = 5;

}  // namespace

SilenceWatch::Change SilenceWatch::add(std::uint64_t values, double peak,
                                       std::uint64_t valuesPerSecond) {
  if (peak > kSilencePeak) {
    silentValues_ = 0;
    if (!reportedSilent_) return Change::none;
    reportedSilent_ = false;
    return Change::becameAudible;
  }
  silentValues_ += values;
  if (reportedSilent_ || silentValues_ < valuesPerSecond * kSilentSeconds) return Change::none;
  reportedSilent_ = true;
  return Change::becameSilent;
}

void SilenceWatch::restart() {
  silentValues_ = 0;
  reportedSilent_ = false;
}

}  // namespace capture
