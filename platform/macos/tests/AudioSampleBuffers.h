#pragma once

// Real CoreMedia audio sample buffers over memory the test owns, for the adapter tests.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/PcmSamples.h"

struct opaqueCMSampleBuffer;

namespace macos_test {

struct SampleBufferRelease {
  void operator()(opaqueCMSampleBuffer* buffer) const;
};
// A CMSampleBuffer reference released with the object.
using OwnedSampleBuffer = std::unique_ptr<opaqueCMSampleBuffer, SampleBufferRelease>;

inline constexpr platform::AudioStreamDescription kFloatStereo = {
    platform::kLinearPcmFormat, platform::kPcmFlagIsFloat | platform::kPcmFlagIsPacked, 8, 2, 32};

// A CMTime's value and timescale.
struct PresentationTime {
  std::int64_t value;
  std::int32_t timescale;
};

// Audio in `format` (interleaved 32-bit float stereo unless given; 48 kHz unless its rate says
// otherwise), presented at `presentation`, whose block buffer is made of `pieces`, in order and
// without copying; the pieces' total must be a whole number of frames.
OwnedSampleBuffer makeAudioSampleBuffer(
    const std::vector<std::span<std::byte>>& pieces, bool dataReady,
    const platform::AudioStreamDescription& format = kFloatStereo,
    PresentationTime presentation = {0, 48000});

// A sample buffer that carries no data at all.
OwnedSampleBuffer makeEmptySampleBuffer();

}  // namespace macos_test
