#include "capture/SilenceWatch.h"

namespace capture {

namespace {

constexpr double kSilencePeak = 1.0 / 32768.0;  // 2^-15
constexpr std::chrono::seconds kSilentStretch{5};

}  // namespace

SilenceWatch::Change SilenceWatch::add(std::chrono::nanoseconds length, double peak) {
  if (peak > kSilencePeak) {
    silent_ = {};
    if (!reportedSilent_) return Change::none;
    reportedSilent_ = false;
    return Change::becameAudible;
  }
  silent_ += length;
  if (reportedSilent_ || silent_ < kSilentStretch) return Change::none;
  reportedSilent_ = true;
  return Change::becameSilent;
}

void SilenceWatch::restart() {
  silent_ = {};
  reportedSilent_ = false;
}

}  // namespace capture
