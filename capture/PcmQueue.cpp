#include "capture/PcmQueue.h"

#include <algorithm>
#include <cmath>

namespace capture {

void PcmQueue::pushFrames(std::span<const float> stereo) {
  std::size_t frames = stereo.size() / 2;
  if (frames == 0) return;
  const float* from = stereo.data();
  if (frames > capacity_) {
    // Only the last capacity_ frames fit; the rest, and all that was queued, are lost.
    const std::size_t lost = frames - capacity_;
    overflow_ += size_ + lost;
    silenceAll();
    pushSilence(lost);
    from += 2 * lost;
    frames = capacity_;
  }
  makeRoom(frames);
  append(from, frames);
  if (runs_.empty()) runs_.emplace_back();
  runs_.back().frames += frames;
}

void PcmQueue::pushSilence(std::uint64_t frames) {
  if (frames == 0) return;
  silence_ += frames;
  if (runs_.empty() || runs_.back().frames != 0) runs_.emplace_back();
  runs_.back().silence += frames;
}

void PcmQueue::silenceAll() {
  const std::uint64_t queued = this->frames();
  runs_.clear();
  head_ = 0;
  size_ = 0;
  silence_ = 0;
  pushSilence(queued);
}

std::size_t PcmQueue::take(std::size_t maxFrames, std::vector<float>& chunk) {
  if (runs_.empty()) {
    chunk.clear();
    return 0;
  }
  Run& run = runs_.front();
  std::size_t frames = 0;
  if (run.silence != 0) {
    frames = static_cast<std::size_t>(std::min<std::uint64_t>(run.silence, maxFrames));
    chunk.assign(2 * frames, 0.0F);
    run.silence -= frames;
    silence_ -= frames;
  } else {
    frames = std::min({maxFrames, run.frames, capacity_ - head_});
    chunk.assign(ring_.get() + 2 * head_, ring_.get() + 2 * (head_ + frames));
    head_ = (head_ + frames) % capacity_;
    size_ -= frames;
    run.frames -= frames;
    if (size_ == 0) head_ = 0;
  }
  if (run.silence == 0 && run.frames == 0) runs_.pop_front();
  return frames;
}

// The oldest frames become silence where they stand, joining the silence before them and, once
// their run has no frames left, the next run's.
void PcmQueue::makeRoom(std::size_t frames) {
  if (size_ + frames <= capacity_) return;
  std::size_t dropped = size_ + frames - capacity_;
  head_ = (head_ + dropped) % capacity_;
  size_ -= dropped;
  silence_ += dropped;
  overflow_ += dropped;
  while (dropped != 0) {
    Run& oldest = runs_.front();
    const std::size_t silenced = std::min(dropped, oldest.frames);
    oldest.silence += silenced;
    oldest.frames -= silenced;
    dropped -= silenced;
    if (oldest.frames == 0 && runs_.size() > 1) {
      runs_[1].silence += oldest.silence;
      runs_.pop_front();
    }
  }
}

void PcmQueue::append(const float* stereo, std::size_t frames) {
  if (!ring_) ring_.reset(new float[2 * capacity_]);
  std::size_t tail = (head_ + size_) % capacity_;
  size_ += frames;
  while (frames != 0) {
    const std::size_t stretch = std::min(frames, capacity_ - tail);
    // A value that is no number (a faulty driver or filter) becomes silence: a reader's
    // analysis of the whole window around it would be lost, as no encoder carries one.
    std::transform(stereo, stereo + 2 * stretch, ring_.get() + 2 * tail,
                   [](float value) { return std::isfinite(value) ? value : 0.0F; });
    stereo += 2 * stretch;
    tail = (tail + stretch) % capacity_;
    frames -= stretch;
  }
}

}  // namespace capture
