#include "AudioSampleBuffers.h"

#include <CoreMedia/CoreMedia.h>

#include <stdexcept>

namespace macos_test {

namespace {

void check(OSStatus status, const char* what) {
  if (status != noErr) throw std::runtime_error(what);
}

}  // namespace

void SampleBufferRelease::operator()(opaqueCMSampleBuffer* buffer) const {
  CFRelease(buffer);
}

OwnedSampleBuffer makeAudioSampleBuffer(const std::vector<std::span<std::byte>>& pieces,
                                        bool dataReady,
                                        const platform::AudioStreamDescription& values,
                                        PresentationTime presentation) {
  CMBlockBufferRef block = nullptr;
  check(CMBlockBufferCreateEmpty(kCFAllocatorDefault, 0, 0, &block), "CMBlockBufferCreateEmpty");
  std::size_t totalBytes = 0;
  for (const auto& piece : pieces) {
    check(CMBlockBufferAppendMemoryBlock(block, piece.data(), piece.size(), kCFAllocatorNull,
                                         nullptr, 0, piece.size(), 0),
          "CMBlockBufferAppendMemoryBlock");
    totalBytes += piece.size();
  }

  AudioStreamBasicDescription format = {};
  format.mSampleRate = values.sampleRate > 0 ? values.sampleRate : 48000;
  format.mFormatID = values.formatID;
  format.mFormatFlags = values.formatFlags;
  format.mBytesPerPacket = values.bytesPerFrame;
  format.mFramesPerPacket = 1;
  format.mBytesPerFrame = values.bytesPerFrame;
  format.mChannelsPerFrame = values.channelsPerFrame;
  format.mBitsPerChannel = values.bitsPerChannel;
  CMAudioFormatDescriptionRef description = nullptr;
  check(CMAudioFormatDescriptionCreate(kCFAllocatorDefault, &format, 0, nullptr, 0, nullptr,
                                       nullptr, &description),
        "CMAudioFormatDescriptionCreate");

  CMSampleBufferRef sampleBuffer = nullptr;
  const OSStatus status = CMAudioSampleBufferCreateWithPacketDescriptions(
      kCFAllocatorDefault, block, dataReady, nullptr, nullptr, description,
      static_cast<CMItemCount>(totalBytes / format.mBytesPerFrame),
      CMTimeMake(presentation.value, presentation.timescale), nullptr, &sampleBuffer);
  CFRelease(description);
  CFRelease(block);
  check(status, "CMAudioSampleBufferCreateWithPacketDescriptions");
  return OwnedSampleBuffer(sampleBuffer);
}

OwnedSampleBuffer makeEmptySampleBuffer() {
  CMSampleBufferRef sampleBuffer = nullptr;
  check(CMSampleBufferCreate(kCFAllocatorDefault, nullptr, true, nullptr, nullptr, nullptr, 0, 0,
                             nullptr, 0, nullptr, &sampleBuffer),
        "CMSampleBufferCreate");
  return OwnedSampleBuffer(sampleBuffer);
}

}  // namespace macos_test
