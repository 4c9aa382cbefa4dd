#include "capture/PcmQueue.h"

#include <algorithm>
#include <cmath>

namespace capture {

void PcmQueue::pushFrames(std::span<const float> stereo) {
  std::size_t frames = stereo.size() / 2;
  const float* from = stereo.data();
  if (frames > capacity_) {
    // Only the last capacity_ frames fit; the rest, and all that was queued, are lost.
    const std::size_t lost = frames - capacity_;
    overflow_ += size_ + lost;
    silenceAll();
    silence_ += lost;
    from += 2 * lost;
    frames = capacity_;
  }
  makeRoom(frames);
  append(from, frames);
}

void PcmQueue::pushSilence(std::uint64_t frames) {
  if (size_ == 0) {
    silence_ += frames;
    return;
  }
  // After frames, silence must take its place in the ring; more than fits is the same as the
  // ring holding nothing but silence, and the rest of it and everything before it lost.
  if (frames >= capacity_) {
    const std::uint64_t queued = size_;
    silenceAll();
    overflow_ += queued;
    silence_ += frames;
    return;
  }
  makeRoom(frames);
  append(nullptr, frames);
}

void PcmQueue::silenceAll() {
  silence_ += size_;
  head_ = 0;
  size_ = 0;
}

std::size_t PcmQueue::take(std::size_t maxFrames, std::vector<float>& chunk) {
  if (silence_ != 0) {
    const auto frames = static_cast<std::size_t>(std::min<std::uint64_t>(silence_, maxFrames));
    chunk.assign(2 * frames, 0.0F);
    silence_ -= frames;
    return frames;
  }
  const std::size_t frames = std::min({maxFrames, size_, capacity_ - head_});
  chunk.assign(ring_.get() + 2 * head_, ring_.get() + 2 * (head_ + frames));
  head_ = (head_ + frames) % capacity_;
  size_ -= frames;
  if (size_ == 0) head_ = 0;
  return frames;
}

void PcmQueue::makeRoom(std::size_t frames) {
  if (size_ + frames <= capacity_) return;
  const std::size_t dropped = size_ + frames - capacity_;
  head_ = (head_ + dropped) % capacity_;
  size_ -= dropped;
  silence_ += dropped;
  overflow_ += dropped;
}

void PcmQueue::append(const float* stereo, std::size_t frames) {
  if (!ring_) ring_.reset(new float[2 * capacity_]);
  std::size_t tail = (head_ + size_) % capacity_;
  size_ += frames;
  while (frames != 0) {
    const std::size_t run = std::min(frames, capacity_ - tail);
    if (stereo != nullptr) {
      // A value that is no number (a faulty driver or filter) becomes silence: a reader's
      // analysis of the whole window around it would be lost, as no encoder carries one.
      std::transform(stereo, stereo + 2 * run, ring_.get() + 2 * tail,
                     [](float value) { return std::isfinite(value) ? value : 0.0F; });
      stereo += 2 * run;
    } else {
      std::fill_n(ring_.get() + 2 * tail, 2 * run, 0.0F);
    }
    tail = (tail + run) % capacity_;
    frames -= run;
  }
}

}  // namespace capture
