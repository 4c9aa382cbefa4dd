// Sample data in one piece, borrowed.
//
// create:  a sample tap makes one on the stack per mapped GStreamer buffer, on a streaming thread.
// samples: the stream output reads it within the tap's call, on that thread.
// finish:  gone when the call returns, before the buffer is unmapped. Immutable: no lock.
#include "platform/linux/BorrowedSampleBuffer.h"

namespace platform::linux_gst {

namespace {
// CoreMedia's kCMBlockBufferBadOffsetParameterErr, the status for an offset past the end.
constexpr std::int32_t kBadOffset = -12703;
}  // namespace

std::int32_t BorrowedSampleBuffer::dataPointer(std::size_t offset, std::size_t& lengthAtOffset,
                                               std::size_t& totalLength,
                                               const std::byte*& data) const {
  totalLength = bytes_.size();
  if (offset > bytes_.size() || (offset == bytes_.size() && offset != 0)) return kBadOffset;
  lengthAtOffset = bytes_.size() - offset;
  data = bytes_.data() + offset;
  return 0;
}

}  // namespace platform::linux_gst
