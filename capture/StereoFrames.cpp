#include "capture/StereoFrames.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace capture {

namespace {

// Appends every whole float of the buffer's data to `values`; false when it cannot be read.
bool appendValues(const platform::SampleBuffer& buffer, std::vector<float>& values) {
  if (!buffer.dataIsReady()) return false;
  const platform::BlockBuffer* block = buffer.dataBuffer();
  if (block == nullptr) return false;
  std::size_t length = 0;
  std::size_t total = 0;
  const std::byte* data = nullptr;
  if (block->dataPointer(0, length, total, data) != 0 || data == nullptr) return false;
  const std::size_t start = values.size();
  const std::size_t wanted = total / sizeof(float) * sizeof(float);
  values.resize(start + wanted / sizeof(float));
  auto* into = reinterpret_cast<std::byte*>(values.data() + start);
  std::size_t offset = 0;
  while (offset < wanted) {
    const std::size_t piece = std::min(length, wanted - offset);
    if (piece == 0) break;
    std::memcpy(into + offset, data, piece);
    offset += piece;
    if (offset >= wanted) break;
    std::size_t ignoredTotal = 0;
    if (block->dataPointer(offset, length, ignoredTotal, data) != 0 || data == nullptr) break;
  }
  values.resize(start + offset / sizeof(float));
  return true;
}

}  // namespace

std::size_t appendStereoFrames(const platform::SampleBuffer& buffer, std::vector<float>& values,
                               std::vector<float>& stereo) {
  const platform::SampleLayout layout = buffer.layout();
  if (layout.channels == 0) return 0;
  if (layout.channels == 2 && layout.interleaved) {
    // Already in the stream's layout, as a Linux source delivers it: one copy, no walk.
    const std::size_t start = stereo.size();
    if (!appendValues(buffer, stereo)) return 0;
    const std::size_t frames = (stereo.size() - start) / 2;
    stereo.resize(start + 2 * frames);
    return frames;
  }
  values.clear();
  if (!appendValues(buffer, values)) return 0;
  const std::size_t channels = layout.channels;
  const std::size_t frames = values.size() / channels;
  const std::size_t right = channels > 1 ? 1 : 0;
  // Where value c of frame f lies.
  const std::size_t frameStep = layout.interleaved ? channels : 1;
  const std::size_t channelStep = layout.interleaved ? 1 : frames;
  stereo.reserve(stereo.size() + 2 * frames);
  for (std::size_t f = 0; f < frames; ++f) {
    stereo.push_back(values[f * frameStep]);
    stereo.push_back(values[f * frameStep + right * channelStep]);
  }
  return frames;
}

std::optional<std::span<const float>> stereoFramesInPlace(const platform::SampleBuffer& buffer) {
  const platform::SampleLayout layout = buffer.layout();
  const platform::BlockBuffer* block = buffer.dataIsReady() ? buffer.dataBuffer() : nullptr;
  std::size_t length = 0;
  std::size_t total = 0;
  const std::byte* data = nullptr;
  if (layout.channels != 2 || !layout.interleaved || block == nullptr ||
      block->dataPointer(0, length, total, data) != 0 || data == nullptr || length < total ||
      reinterpret_cast<std::uintptr_t>(data) % alignof(float) != 0) {
    return std::nullopt;
  }
  return std::span(reinterpret_cast<const float*>(data), total / (2 * sizeof(float)) * 2);
}

std::size_t frameCount(const platform::SampleBuffer& buffer) {
  const platform::SampleLayout layout = buffer.layout();
  const platform::BlockBuffer* block = buffer.dataIsReady() ? buffer.dataBuffer() : nullptr;
  std::size_t length = 0;
  std::size_t total = 0;
  const std::byte* data = nullptr;
  if (layout.channels == 0 || block == nullptr || block->dataPointer(0, length, total, data) != 0) {
    return 0;
  }
  return total / sizeof(float) / layout.channels;
}

}  // namespace capture
