#pragma once
// CoreMedia and CoreAudioTypes, from macos-api-reference ("Reading a movie back").
#import <CoreFoundation/CoreFoundation.h>
#import <Foundation/Foundation.h>

#define CM_NONNULL _Nonnull
#define CM_NULLABLE _Nullable

typedef int32_t CMTimeScale;
typedef int64_t CMTimeValue;
typedef uint32_t CMTimeFlags;
typedef int64_t CMTimeEpoch;
typedef struct {
  CMTimeValue value;
  CMTimeScale timescale;
  CMTimeFlags flags;
  CMTimeEpoch epoch;
} CMTime;
typedef struct {
  CMTime start;
  CMTime duration;
} CMTimeRange;
typedef int32_t CMPersistentTrackID;

Float64 CMTimeGetSeconds(CMTime time);
CMTime CMTimeMake(int64_t value, int32_t timescale);

// Apple's public CMSampleBuffer.h, CMBlockBuffer.h and MacTypes.h: the reference uses these types
// without their typedefs, and does not list the presentation time stamp and the time's flags.
typedef struct opaqueCMSampleBuffer* CMSampleBufferRef;
typedef struct OpaqueCMBlockBuffer* CMBlockBufferRef;
typedef int32_t OSStatus;
enum { kCMTimeFlags_Valid = 1UL << 0 };
CMTime CMSampleBufferGetPresentationTimeStamp(CMSampleBufferRef CM_NONNULL sbuf);

// From macos-api-reference, section 3 and "Audio sample format".
Boolean CMSampleBufferDataIsReady(CMSampleBufferRef CM_NONNULL sbuf);
CMBlockBufferRef CM_NULLABLE CMSampleBufferGetDataBuffer(CMSampleBufferRef CM_NONNULL sbuf);
OSStatus CMBlockBufferGetDataPointer(CMBlockBufferRef CM_NONNULL theBuffer, size_t offset,
                                     size_t* CM_NULLABLE lengthAtOffsetOut,
                                     size_t* CM_NULLABLE totalLengthOut,
                                     char* CM_NULLABLE* CM_NULLABLE dataPointerOut);

typedef const struct opaqueCMFormatDescription* CMFormatDescriptionRef;
typedef CMFormatDescriptionRef CMAudioFormatDescriptionRef;
FourCharCode CMFormatDescriptionGetMediaSubType(CMFormatDescriptionRef CM_NONNULL desc);

typedef UInt32 AudioFormatID;
typedef UInt32 AudioFormatFlags;
struct AudioStreamBasicDescription {
  Float64 mSampleRate;
  AudioFormatID mFormatID;
  AudioFormatFlags mFormatFlags;
  UInt32 mBytesPerPacket;
  UInt32 mFramesPerPacket;
  UInt32 mBytesPerFrame;
  UInt32 mChannelsPerFrame;
  UInt32 mBitsPerChannel;
  UInt32 mReserved;
};
typedef struct AudioStreamBasicDescription AudioStreamBasicDescription;
const AudioStreamBasicDescription* CM_NULLABLE
CMAudioFormatDescriptionGetStreamBasicDescription(CMAudioFormatDescriptionRef CM_NONNULL desc);
CMFormatDescriptionRef CM_NULLABLE
CMSampleBufferGetFormatDescription(CMSampleBufferRef CM_NONNULL sbuf);

// CoreMedia's buffer makers, from Apple's public API (the reference does not
// list them): only the adapter tests' helper makes buffers.
enum { noErr = 0 };
typedef long CMItemCount;
typedef uint32_t CMBlockBufferFlags;
typedef struct CMBlockBufferCustomBlockSource CMBlockBufferCustomBlockSource;
typedef struct AudioChannelLayout AudioChannelLayout;
typedef struct AudioStreamPacketDescription AudioStreamPacketDescription;
typedef struct {
  CMTime duration;
  CMTime presentationTimeStamp;
  CMTime decodeTimeStamp;
} CMSampleTimingInfo;
typedef OSStatus (*CMSampleBufferMakeDataReadyCallback)(CMSampleBufferRef CM_NONNULL sbuf,
                                                        void* CM_NULLABLE makeDataReadyRefcon);
OSStatus CMBlockBufferCreateEmpty(CFAllocatorRef CM_NULLABLE structureAllocator,
                                  uint32_t subBlockCapacity, CMBlockBufferFlags flags,
                                  CMBlockBufferRef CM_NULLABLE* CM_NONNULL blockBufferOut);
OSStatus CMBlockBufferAppendMemoryBlock(
    CMBlockBufferRef CM_NONNULL theBuffer, void* CM_NULLABLE memoryBlock, size_t blockLength,
    CFAllocatorRef CM_NULLABLE blockAllocator,
    const CMBlockBufferCustomBlockSource* CM_NULLABLE customBlockSource, size_t offsetToData,
    size_t dataLength, CMBlockBufferFlags flags);
OSStatus CMAudioFormatDescriptionCreate(
    CFAllocatorRef CM_NULLABLE allocator, const AudioStreamBasicDescription* CM_NONNULL asbd,
    size_t layoutSize, const AudioChannelLayout* CM_NULLABLE layout, size_t magicCookieSize,
    const void* CM_NULLABLE magicCookie, CFDictionaryRef CM_NULLABLE extensions,
    CMAudioFormatDescriptionRef CM_NULLABLE* CM_NONNULL formatDescriptionOut);
OSStatus CMAudioSampleBufferCreateWithPacketDescriptions(
    CFAllocatorRef CM_NULLABLE allocator, CMBlockBufferRef CM_NULLABLE dataBuffer,
    Boolean dataReady, CMSampleBufferMakeDataReadyCallback CM_NULLABLE makeDataReadyCallback,
    void* CM_NULLABLE makeDataReadyRefcon, CMFormatDescriptionRef CM_NONNULL formatDescription,
    CMItemCount numSamples, CMTime presentationTimeStamp,
    const AudioStreamPacketDescription* CM_NULLABLE packetDescriptions,
    CMSampleBufferRef CM_NULLABLE* CM_NONNULL sampleBufferOut);
OSStatus CMSampleBufferCreate(CFAllocatorRef CM_NULLABLE allocator,
                              CMBlockBufferRef CM_NULLABLE dataBuffer, Boolean dataReady,
                              CMSampleBufferMakeDataReadyCallback CM_NULLABLE makeDataReadyCallback,
                              void* CM_NULLABLE makeDataReadyRefcon,
                              CMFormatDescriptionRef CM_NULLABLE formatDescription,
                              CMItemCount numSamples, CMItemCount numSampleTimingEntries,
                              const CMSampleTimingInfo* CM_NULLABLE sampleTimingArray,
                              CMItemCount numSampleSizeEntries,
                              const size_t* CM_NULLABLE sampleSizeArray,
                              CMSampleBufferRef CM_NULLABLE* CM_NONNULL sampleBufferOut);
