#include "ScriptedSampleBuffer.h"

#include <cstring>
#include <numeric>
#include <stdexcept>

namespace test_support {

ScriptedSampleBuffer ScriptedSampleBuffer::ofFloats(std::initializer_list<float> values) {
  const auto bytes = bytesOf(std::vector<float>(values));
  return ofPieces(bytes, {bytes.size()});
}

ScriptedSampleBuffer ScriptedSampleBuffer::ofPieces(const std::vector<std::byte>& bytes,
                                                    const std::vector<std::size_t>& pieceLengths) {
  if (std::accumulate(pieceLengths.begin(), pieceLengths.end(), std::size_t{0}) != bytes.size()) {
    throw std::invalid_argument("pieces must add up to the bytes");
  }
  ScriptedSampleBuffer buffer;
  std::size_t offset = 0;
  for (std::size_t length : pieceLengths) {
    std::shared_ptr<std::byte[]> piece(new std::byte[length]);
    std::memcpy(piece.get(), bytes.data() + offset, length);
    buffer.pieces_.push_back({std::move(piece), length});
    offset += length;
  }
  return buffer;
}

const platform::BlockBuffer* ScriptedSampleBuffer::dataBuffer() const {
  return hasDataBuffer ? this : nullptr;
}

std::int32_t ScriptedSampleBuffer::dataPointer(std::size_t offset, std::size_t& lengthAtOffset,
                                               std::size_t& totalLength,
                                               const std::byte*& data) const {
  if (status != 0) return status;
  totalLength = 0;
  for (const Piece& piece : pieces_) totalLength += piece.length;
  std::size_t pieceStart = 0;
  for (const Piece& piece : pieces_) {
    if (offset < pieceStart + piece.length) {
      lengthAtOffset = pieceStart + piece.length - offset;
      data = nullDataPointer ? nullptr : piece.bytes.get() + (offset - pieceStart);
      return 0;
    }
    pieceStart += piece.length;
  }
  return -12772;  // past the end, as CoreMedia's kCMBlockBufferBadOffsetParameterErr
}

}  // namespace test_support
