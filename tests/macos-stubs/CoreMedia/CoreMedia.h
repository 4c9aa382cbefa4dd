#pragma once
// CoreMedia and CoreAudioTypes, from macos-api-reference ("Reading a movie back").
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
CMTime CMTimeRangeGetEnd(CMTimeRange range);

// Apple's public CMSampleBuffer.h, CMBlockBuffer.h and MacTypes.h: the reference uses these types
// without their typedefs, and does not list the presentation time stamp and the time's flags.
typedef struct opaqueCMSampleBuffer* CMSampleBufferRef;
typedef struct OpaqueCMBlockBuffer* CMBlockBufferRef;
typedef int32_t OSStatus;
typedef unsigned char Boolean;
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
typedef FourCharCode CMMediaType;
FourCharCode CMFormatDescriptionGetMediaSubType(CMFormatDescriptionRef CM_NONNULL desc);
CMMediaType CMFormatDescriptionGetMediaType(CMFormatDescriptionRef CM_NONNULL desc);

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
