// Sample data in one piece.
//
// create:  a sample tap makes one per GStreamer buffer on a streaming thread.
// samples: the consumer reads it on its own queue; the shared pointer that travels with the
//          posted work owns it.
// finish:  freed when that work has run. Immutable, so no thread needs a lock.
#include "platform/linux/CopiedSampleBuffer.h"

namespace platform::linux_gst {

namespace {
// CoreMedia's kCMBlockBufferBadOffsetParameterErr, the status for an offset past the end.
constexpr std::int32_t kBadOffset = -12703;
}  // namespace

std::int32_t CopiedSampleBuffer::dataPointer(std::size_t offset, std::size_t& lengthAtOffset,
                                             std::size_t& totalLength,
                                             const std::byte*& data) const {
  totalLength = bytes_.size();
  if (offset > bytes_.size() || (offset == bytes_.size() && offset != 0)) return kBadOffset;
  lengthAtOffset = bytes_.size() - offset;
  data = bytes_.data() + offset;
  return 0;
}

}  // namespace platform::linux_gst
