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
