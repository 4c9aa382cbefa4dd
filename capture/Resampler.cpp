#include "capture/Resampler.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace capture {

namespace {

constexpr std::size_t kPhases = 512;
constexpr std::size_t kChannels = 2;
// Of the lower rate's Nyquist frequency: where the passband ends and the stopband starts.
constexpr double kPassbandEnd = 0.9;
// Kaiser's design formulas for 80 dB: about a tenth of a millionth of the level aliases.
constexpr double kAttenuationDb = 80.0;

double besselI0(double x) {
  double sum = 1.0;
  double term = 1.0;
  for (int k = 1; term > 1e-12 * sum; ++k) {
    term *= (x / (2.0 * k)) * (x / (2.0 * k));
    sum += term;
  }
  return sum;
}

double sinc(double x) {
  if (x == 0.0) return 1.0;
  return std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
}

// Kaiser's estimate of the taps per side, with the transition band in cycles per input frame.
std::size_t halfTapsFor(double transition) {
  const double taps = (kAttenuationDb - 7.95) / (2.285 * 2.0 * std::numbers::pi * transition);
  return static_cast<std::size_t>(std::ceil(taps / 2.0));
}

}  // namespace

Resampler::Resampler(std::uint32_t inputRate, std::uint32_t outputRate)
    : inputRate_(inputRate),
      outputRate_(outputRate),
      halfTaps_(halfTapsFor(0.5 * (1.0 - kPassbandEnd) *
                            std::min(1.0, static_cast<double>(outputRate) / inputRate))) {
  // In cycles per input frame: the cutoff midway through the transition band.
  const double nyquist = 0.5 * std::min(1.0, static_cast<double>(outputRate) / inputRate);
  const double cutoff = nyquist * (1.0 + kPassbandEnd) / 2.0;
  const double beta = 0.1102 * (kAttenuationDb - 8.7);
  const std::size_t taps = 2 * halfTaps_;
  const double half = static_cast<double>(halfTaps_);
  table_.resize((kPhases + 1) * taps);
  for (std::size_t phase = 0; phase <= kPhases; ++phase) {
    float* row = &table_[phase * taps];
    const double fraction = static_cast<double>(phase) / kPhases;
    double sum = 0.0;
    std::vector<double> coefficients(taps);
    for (std::size_t tap = 0; tap < taps; ++tap) {
      // Tap i weighs input frame (position + i - halfTaps_ + 1) for an output at position +
      // fraction.
      const double t = static_cast<double>(tap) - half + 1.0 - fraction;
      const double u = t / half;
      const double window = std::abs(u) < 1.0 ? besselI0(beta * std::sqrt(1.0 - u * u)) : 0.0;
      coefficients[tap] = 2.0 * cutoff * sinc(2.0 * cutoff * t) * window / besselI0(beta);
      sum += coefficients[tap];
    }
    // Each phase passes a constant unchanged.
    for (std::size_t tap = 0; tap < taps; ++tap)
      row[tap] = static_cast<float>(coefficients[tap] / sum);
  }
  buffer_.assign(halfTaps_ * kChannels, 0.0F);
  bufferStart_ = -static_cast<std::int64_t>(halfTaps_);
}

void Resampler::process(std::span<const float> input, std::vector<float>& output) {
  buffer_.insert(buffer_.end(), input.begin(),
                 input.begin() + input.size() / kChannels * kChannels);
  received_ += input.size() / kChannels;
  if (received_ > halfTaps_) emitBefore(received_ - halfTaps_, output);
  compact();
}

void Resampler::flush(std::vector<float>& output) {
  buffer_.insert(buffer_.end(), halfTaps_ * kChannels, 0.0F);
  emitBefore(received_, output);
  buffer_.assign(halfTaps_ * kChannels, 0.0F);
  bufferStart_ = -static_cast<std::int64_t>(halfTaps_);
  received_ = position_ = remainder_ = 0;
}

// Emits the output frames that lie before input frame `end`; each reads the input up to halfTaps_
// frames after it.
void Resampler::emitBefore(std::uint64_t end, std::vector<float>& output) {
  const std::size_t taps = 2 * halfTaps_;
  while (position_ < end) {
    const std::uint64_t scaled = remainder_ * kPhases;
    const std::size_t phase = scaled / outputRate_;
    const float weight = static_cast<float>(scaled % outputRate_) / outputRate_;
    const float* low = &table_[phase * taps];
    const float* high = low + taps;
    const float* frames = &buffer_[(static_cast<std::int64_t>(position_) -
                                    static_cast<std::int64_t>(halfTaps_) + 1 - bufferStart_) *
                                   kChannels];
    float left = 0.0F;
    float right = 0.0F;
    for (std::size_t tap = 0; tap < taps; ++tap) {
      const float coefficient = low[tap] + weight * (high[tap] - low[tap]);
      left += coefficient * frames[2 * tap];
      right += coefficient * frames[2 * tap + 1];
    }
    output.push_back(left);
    output.push_back(right);
    remainder_ += inputRate_;
    position_ += remainder_ / outputRate_;
    remainder_ %= outputRate_;
  }
}

// Drops the frames no later output needs, once they are many.
void Resampler::compact() {
  const std::int64_t firstNeeded =
      static_cast<std::int64_t>(position_) - static_cast<std::int64_t>(halfTaps_) + 1;
  const std::int64_t unneeded = firstNeeded - bufferStart_;
  if (unneeded < 4096) return;
  buffer_.erase(buffer_.begin(), buffer_.begin() + unneeded * kChannels);
  bufferStart_ = firstNeeded;
}

}  // namespace capture
