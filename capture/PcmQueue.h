#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace capture {

// What waits to be written to one per-source stream, in stream order: stretches of silence, kept
// as counts, between stereo frames held in a ring of fixed capacity. Silence takes no room, so a
// long one (a source lost, the tool stopped) costs none of the frames queued before it. When the
// ring is full the oldest frames turn into silence, so the stream keeps its length and every
// later frame its place. Not thread-safe: its owner guards it.
class PcmQueue {
 public:
  explicit PcmQueue(std::size_t capacityFrames) : capacity_(capacityFrames) {}

  void pushFrames(std::span<const float> stereo);
  void pushSilence(std::uint64_t frames);
  // Turns everything queued into silence, as for a reader that missed it.
  void silenceAll();
  bool empty() const { return runs_.empty(); }
  std::uint64_t frames() const { return silence_ + size_; }
  // Moves up to `maxFrames` of what comes next into `chunk` (zeros for silence), replacing its
  // contents; returns the frames moved.
  std::size_t take(std::size_t maxFrames, std::vector<float>& chunk);
  // Frames that turned into silence for want of room since the last call.
  std::uint64_t takeOverflow() { return std::exchange(overflow_, 0); }

 private:
  // Silence, then that many of the ring's frames.
  struct Run {
    std::uint64_t silence = 0;
    std::size_t frames = 0;
  };

  void makeRoom(std::size_t frames);
  void append(const float* stereo, std::size_t frames);

  const std::size_t capacity_;
  std::unique_ptr<float[]> ring_;  // allocated by the first frames, 2 * capacity_ floats
  std::size_t head_ = 0;           // frame index of the oldest frame
  std::size_t size_ = 0;           // frames in the ring, the sum of the runs' frames
  std::uint64_t silence_ = 0;      // the sum of the runs' silence
  std::deque<Run> runs_;           // none empty
  std::uint64_t overflow_ = 0;
};

}  // namespace capture
