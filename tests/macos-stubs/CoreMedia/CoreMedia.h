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
CMTime CMTimeRangeGetEnd(CMTimeRange range);

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
