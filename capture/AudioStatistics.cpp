#include "capture/AudioStatistics.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>

namespace capture {

namespace {

constexpr std::size_t kSampleSize = sizeof(float);

// Sums squares of float values over pieces that may split a value between them: the bytes of a
// split value are carried over to the next piece, and whole values are read in one pass.
class SampleSummer {
 public:
  void addPiece(std::span<const std::byte> piece) {
    if (carried_ != 0) {
      piece = completeCarried(piece);
      if (carried_ != 0) return;  // the piece ended inside the value
    }
    const std::size_t whole = piece.size() / kSampleSize;
    for (std::size_t i = 0; i < whole; ++i) addValue(piece.data() + i * kSampleSize);
    count_ += whole;
    const std::span<const std::byte> tail = piece.subspan(whole * kSampleSize);
    std::memcpy(value_, tail.data(), tail.size());
    carried_ = tail.size();
  }
  double sumSquares() const { return sumSquares_; }
  std::uint64_t count() const { return count_; }
  double peak() const { return peak_; }

 private:
  // Returns what follows the carried value in the piece.
  std::span<const std::byte> completeCarried(std::span<const std::byte> piece) {
    const std::size_t take = std::min(kSampleSize - carried_, piece.size());
    std::memcpy(value_ + carried_, piece.data(), take);
    carried_ += take;
    if (carried_ == kSampleSize) {
      addValue(value_);
      ++count_;
      carried_ = 0;
    }
    return piece.subspan(take);
  }

  void addValue(const std::byte* bytes) {
    float sample;
    std::memcpy(&sample, bytes, kSampleSize);
    const double widened = sample;
    if (std::isfinite(widened)) {
      sumSquares_ += widened * widened;
      peak_ = std::max(peak_, std::fabs(widened));
    }
  }

  std::byte value_[kSampleSize];
  std::size_t carried_ = 0;
  double sumSquares_ = 0.0;
  std::uint64_t count_ = 0;
  double peak_ = 0.0;
};

// Walks the block buffer piece by piece, reading only the bytes that lie behind each pointer.
// Returns false when the data cannot be read at all.
bool sumBlockBuffer(const platform::BlockBuffer& block, SampleSummer& summer) {
  std::size_t lengthAtOffset = 0;
  std::size_t totalLength = 0;
  const std::byte* data = nullptr;
  if (block.dataPointer(0, lengthAtOffset, totalLength, data) != 0 || data == nullptr) {
    return false;
  }
  if (totalLength < kSampleSize) return false;
  std::size_t offset = 0;
  while (true) {
    const std::size_t pieceLength = std::min(lengthAtOffset, totalLength - offset);
    if (pieceLength == 0) break;
    summer.addPiece({data, pieceLength});
    offset += pieceLength;
    if (offset >= totalLength) break;
    std::size_t ignoredTotal = 0;
    if (block.dataPointer(offset, lengthAtOffset, ignoredTotal, data) != 0 || data == nullptr) {
      break;  // keep what was read; nothing past it is touched
    }
  }
  return true;
}

}  // namespace

AddedSamples AudioStatistics::add(const platform::SampleBuffer& sampleBuffer) {
  if (!sampleBuffer.dataIsReady()) return {};
  const platform::BlockBuffer* block = sampleBuffer.dataBuffer();
  if (block == nullptr) return {};
  SampleSummer summer;
  if (!sumBlockBuffer(*block, summer)) return {};
  {
    std::lock_guard guard(lock_);
    sumSquares_ += summer.sumSquares();
    sampleCount_ += summer.count();
  }
  return {summer.count(), summer.peak()};
}

LevelReading AudioStatistics::snapshot(bool reset) {
  std::lock_guard guard(lock_);
  LevelReading reading{sampleCount_, 0.0};
  if (reading.samples != 0) {
    reading.rms = std::sqrt(sumSquares_ / static_cast<double>(reading.samples));
  }
  if (reset) {
    sumSquares_ = 0.0;
    sampleCount_ = 0;
  }
  return reading;
}

}  // namespace capture
