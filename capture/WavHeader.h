#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace capture {

// The header of a WAV file of 32-bit float stereo at 48 kHz, rewritten in place as the file
// grows. It reserves room for RF64's size chunk from the start, so that a file that grows past
// what RIFF's 32-bit sizes hold becomes RF64 by rewriting these bytes alone.
inline constexpr std::size_t kWavHeaderSize = 94;
using WavHeader = std::array<std::byte, kWavHeaderSize>;

// Beyond this many bytes after the size field, a file is written as RF64.
inline constexpr std::uint64_t kRiffSizeLimit = std::numeric_limits<std::uint32_t>::max();

// For a file with `dataBytes` of samples; RF64 once the RIFF size would pass `riffSizeLimit`.
WavHeader wavHeader(std::uint64_t dataBytes, std::uint64_t riffSizeLimit = kRiffSizeLimit);

// For a stream whose length is not known (a pipe): every size says "unknown", as readers of
// streamed WAV expect.
WavHeader streamingWavHeader();

}  // namespace capture
