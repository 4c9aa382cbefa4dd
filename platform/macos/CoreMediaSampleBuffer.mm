// Sample buffers of the capture stream, as the core reads them.
//
// samples: ScreenCaptureKit calls the stream output on the sample queue with a CMSampleBuffer
//   that it owns; the adapter borrows it (and its block buffer) only for that call, and only the
//   CoreMedia reads below touch it (data, format and presentation time). Walking the pieces of a
//   non-contiguous block buffer is the core's business; reading the format description is this
//   file's, deciding what it means is PcmSamples'.

#include "platform/macos/CoreMediaSampleBuffer.h"

#include <CoreMedia/CoreMedia.h>

namespace platform::macos {

std::int32_t CoreMediaBlockBuffer::dataPointer(std::size_t offset, std::size_t& lengthAtOffset,
                                               std::size_t& totalLength,
                                               const std::byte*& data) const {
  size_t length = 0;
  size_t total = 0;
  char* pointer = nullptr;
  const OSStatus status = CMBlockBufferGetDataPointer(block_, offset, &length, &total, &pointer);
  lengthAtOffset = length;
  totalLength = total;
  data = reinterpret_cast<const std::byte*>(pointer);
  return status;
}

bool CoreMediaSampleBuffer::dataIsReady() const {
  return CMSampleBufferDataIsReady(sampleBuffer_);
}

std::optional<AudioStreamDescription> CoreMediaSampleBuffer::audioFormat() const {
  CMFormatDescriptionRef description = CMSampleBufferGetFormatDescription(sampleBuffer_);
  if (description == nullptr) return std::nullopt;
  const AudioStreamBasicDescription* basic =
      CMAudioFormatDescriptionGetStreamBasicDescription(description);
  if (basic == nullptr) return std::nullopt;
  return AudioStreamDescription{basic->mFormatID,       basic->mFormatFlags,
                                basic->mBytesPerFrame,  basic->mChannelsPerFrame,
                                basic->mBitsPerChannel, basic->mSampleRate};
}

SampleLayout CoreMediaSampleBuffer::layout() const {
  const std::optional<AudioStreamDescription> format = audioFormat();
  if (!format) return SampleLayout{};
  return SampleLayout{format->sampleRate, format->channelsPerFrame,
                      (format->formatFlags & kPcmFlagIsNonInterleaved) == 0};
}

// On the host clock for both sources, which is what lets the core line them up.
std::optional<double> CoreMediaSampleBuffer::presentationSeconds() const {
  const CMTime time = CMSampleBufferGetPresentationTimeStamp(sampleBuffer_);
  if ((time.flags & kCMTimeFlags_Valid) == 0) return std::nullopt;
  return CMTimeGetSeconds(time);
}

const BlockBuffer* CoreMediaSampleBuffer::dataBuffer() const {
  CMBlockBufferRef block = CMSampleBufferGetDataBuffer(sampleBuffer_);
  if (block == nullptr) return nullptr;
  block_.borrow(block);
  return &block_;
}

}  // namespace platform::macos
