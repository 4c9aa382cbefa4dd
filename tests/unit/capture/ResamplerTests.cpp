#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <vector>

#include "capture/Resampler.h"

namespace capture {
namespace {

constexpr std::uint32_t kOutputRate = 48000;
constexpr double kAmplitude = 0.5;

// Stereo frames of a sine at `frequency`, left and right alike, sampled at `rate` from time 0.
std::vector<float> sine(double frequency, std::uint32_t rate, std::size_t frames) {
  std::vector<float> samples;
  for (std::size_t n = 0; n < frames; ++n) {
    const float value = static_cast<float>(
        kAmplitude * std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(n) / rate));
    samples.insert(samples.end(), {value, value});
  }
  return samples;
}

// Fed in uneven pieces, as buffers come, then flushed.
std::vector<float> resampled(const std::vector<float>& input, std::uint32_t rate) {
  Resampler resampler(rate, kOutputRate);
  std::vector<float> output;
  std::size_t offset = 0;
  for (std::size_t piece = 1; offset < input.size(); piece = piece * 7 % 1013 + 1) {
    const std::size_t length = std::min(piece * 2, input.size() - offset);
    resampler.process({input.data() + offset, length}, output);
    offset += length;
  }
  resampler.flush(output);
  return output;
}

// The complex amplitude of `frequency` in the left channel, over the middle of the output
// (Hann-windowed, so that the tone's leakage stays far below what is measured), with the phase
// taken against time 0 of the output.
std::complex<double> component(const std::vector<float>& stereo, double frequency) {
  const std::size_t frames = stereo.size() / 2;
  const std::size_t first = frames / 5;
  const std::size_t count = frames - 2 * first;
  std::complex<double> sum;
  double weights = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    const double window = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / (count - 1));
    const double t = static_cast<double>(first + i) / kOutputRate;
    sum +=
        window * stereo[2 * (first + i)] * std::polar(1.0, -2.0 * std::numbers::pi * frequency * t);
    weights += window;
  }
  // sin(x) = Im(e^ix): a sine of amplitude a with no delay gives -i * a here.
  return 2.0 * sum / weights * std::complex<double>(0.0, 1.0);
}

// The level of `frequency` in `stereo`, in dB against the input's tone.
double levelOf(const std::vector<float>& stereo, double frequency) {
  return 20.0 * std::log10(std::abs(component(stereo, frequency)) / kAmplitude);
}

// Where `frequency` lands in the output's band.
double folded(double frequency) {
  const double wrapped = std::fmod(frequency, static_cast<double>(kOutputRate));
  return wrapped > kOutputRate / 2.0 ? kOutputRate - wrapped : wrapped;
}

TEST(Resampler, SinesKeepTheirLevelAndTimingAndLeaveNoImages) {
  // Tones up to 0.9 of the input's Nyquist frequency.
  const std::pair<std::uint32_t, std::vector<double>> cases[] = {
      {24000, {50, 440, 1000, 4000, 8000, 10000, 10800}},
      {44100, {50, 440, 1000, 8000, 15000, 19000, 19845}},
      {16000, {440, 3000, 7200}}};
  for (const auto& [rate, frequencies] : cases) {
    for (double frequency : frequencies) {
      SCOPED_TRACE(testing::Message() << rate << " Hz, tone " << frequency << " Hz");
      const std::vector<float> output = resampled(sine(frequency, rate, rate), rate);
      EXPECT_LT(std::abs(levelOf(output, frequency)), 0.1);
      // A frame's shift would turn a 10-kHz tone by over a radian.
      EXPECT_LT(std::abs(std::arg(component(output, frequency))), 0.01);
      // The image: the input rate's mirror of the tone.
      const double image = folded(rate - frequency);
      EXPECT_LT(levelOf(output, image), -60.0) << image;
    }
  }
}

TEST(Resampler, HigherRatesLoseWhatTheOutputCannotHoldInsteadOfFoldingIt) {
  // 30 kHz would fold to 18 kHz, 44 kHz to 4 kHz.
  for (double frequency : {30000.0, 44000.0}) {
    SCOPED_TRACE(frequency);
    const std::vector<float> output = resampled(sine(frequency, 96000, 96000), 96000);
    EXPECT_LT(levelOf(output, folded(frequency)), -60.0);
  }
  const std::vector<float> kept = resampled(sine(1000, 96000, 96000), 96000);
  EXPECT_LT(std::abs(levelOf(kept, 1000)), 0.1);
}

TEST(Resampler, AStretchGivesTheOutputFramesOfItsDuration) {
  struct Case {
    std::uint32_t rate;
    std::size_t inputFrames;
    std::size_t outputFrames;  // the frames that start within the input's span
  };
  for (const Case& c : {Case{24000, 24000, 48000}, Case{44100, 441, 480}, Case{44100, 440, 479},
                        Case{96000, 9601, 4801}, Case{16000, 1, 3}}) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.inputFrames << " frames");
    Resampler resampler(c.rate, kOutputRate);
    std::vector<float> output;
    for (int stretch = 1; stretch <= 2; ++stretch) {
      output.clear();
      resampler.process(sine(440, c.rate, c.inputFrames), output);
      resampler.flush(output);
      EXPECT_EQ(output.size(), 2 * c.outputFrames) << "stretch " << stretch;
    }
  }
}

TEST(Resampler, AConstantPassesUnchangedAfterTheFirstTaps) {
  Resampler resampler(44100, kOutputRate);
  std::vector<float> output;
  resampler.process(std::vector<float>(2 * 4410, 0.25F), output);
  ASSERT_GT(output.size(), 2000U);
  for (std::size_t i = 400; i < output.size(); ++i) ASSERT_NEAR(output[i], 0.25F, 1e-5) << i;
}

}  // namespace
}  // namespace capture
