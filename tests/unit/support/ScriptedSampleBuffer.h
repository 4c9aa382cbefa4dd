#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <vector>

#include "platform/SampleBuffer.h"

namespace test_support {

// A sample buffer whose data lies in one or more separately allocated pieces of exactly their
// own size, so that a read past a piece is caught by AddressSanitizer.
class ScriptedSampleBuffer final : public platform::SampleBuffer, private platform::BlockBuffer {
 public:
  // One contiguous piece holding these floats.
  static ScriptedSampleBuffer ofFloats(std::initializer_list<float> values);
  // These bytes, cut into pieces of the given lengths (which must add up).
  static ScriptedSampleBuffer ofPieces(const std::vector<std::byte>& bytes,
                                       const std::vector<std::size_t>& pieceLengths);

  template <typename Value>
  static std::vector<std::byte> bytesOf(const std::vector<Value>& values) {
    std::vector<std::byte> bytes(values.size() * sizeof(Value));
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
  }

  bool ready = true;
  bool hasDataBuffer = true;
  std::int32_t status = 0;  // returned by dataPointer at every offset
  bool nullDataPointer = false;
  platform::SampleLayout sampleLayout;
  std::optional<double> presentation;

  bool dataIsReady() const override { return ready; }
  const platform::BlockBuffer* dataBuffer() const override;
  platform::SampleLayout layout() const override { return sampleLayout; }
  std::optional<double> presentationSeconds() const override { return presentation; }

 private:
  std::int32_t dataPointer(std::size_t offset, std::size_t& lengthAtOffset,
                           std::size_t& totalLength, const std::byte*& data) const override;

  struct Piece {
    std::shared_ptr<std::byte[]> bytes;
    std::size_t length;
  };
  std::vector<Piece> pieces_;
};

}  // namespace test_support
