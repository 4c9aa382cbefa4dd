#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "platform/SampleBuffer.h"

namespace capture {

// Appends the buffer's frames to `stereo` as interleaved left-right pairs of floats, at the
// buffer's own rate: a single channel goes to both sides, and of more channels the first two
// are kept. The buffer's values are read as 32-bit floats, as the metering reads them, within
// each piece's contiguous length; `values` is scratch space, reused from call to call. A buffer
// that is not ready or cannot be read appends nothing. Returns the frames appended.
std::size_t appendStereoFrames(const platform::SampleBuffer& buffer, std::vector<float>& values,
                               std::vector<float>& stereo);

// The buffer's frames where they lie, when they already are interleaved stereo floats in one
// piece, as a Linux source delivers them; valid while the buffer is. Otherwise nothing, and
// appendStereoFrames() copies them.
std::optional<std::span<const float>> stereoFramesInPlace(const platform::SampleBuffer& buffer);

// The frames a buffer holds, from its length alone.
std::size_t frameCount(const platform::SampleBuffer& buffer);

}  // namespace capture
