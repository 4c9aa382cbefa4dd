#pragma once
// AVFoundation's asset reading, capture devices, and the file and codec types of a recording,
// from macos-api-reference ("Reading a movie back", section 2).
#import <CoreMedia/CoreMedia.h>
#import <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

typedef NSString* AVMediaType;
extern AVMediaType const AVMediaTypeVideo;
extern AVMediaType const AVMediaTypeAudio;

typedef NSString* AVCaptureDeviceType;
extern AVCaptureDeviceType const AVCaptureDeviceTypeMicrophone;
extern AVCaptureDeviceType const AVCaptureDeviceTypeExternal;
typedef enum AVCaptureDevicePosition : NSInteger AVCaptureDevicePosition;
enum AVCaptureDevicePosition : NSInteger { AVCaptureDevicePositionUnspecified = 0 };

@interface AVCaptureDevice : NSObject
+ (nullable AVCaptureDevice*)defaultDeviceWithMediaType:(AVMediaType)mediaType;
@property(nonatomic, readonly) NSString* uniqueID;
@property(nonatomic, readonly) NSString* localizedName;
@end

@interface AVCaptureDeviceDiscoverySession : NSObject
+ (instancetype)discoverySessionWithDeviceTypes:(NSArray<AVCaptureDeviceType>*)deviceTypes
                                      mediaType:(nullable AVMediaType)mediaType
                                       position:(AVCaptureDevicePosition)position;
@property(nonatomic, readonly) NSArray<AVCaptureDevice*>* devices;
@end

typedef NSString* AVFileType;
extern AVFileType const AVFileTypeQuickTimeMovie;
typedef NSString* AVVideoCodecType;
extern AVVideoCodecType const AVVideoCodecTypeH264;

typedef long AVKeyValueStatus;
enum { AVKeyValueStatusLoaded = 2 };

@protocol AVAsynchronousKeyValueLoading
@required
- (AVKeyValueStatus)statusOfValueForKey:(NSString*)key
                                  error:(NSError* _Nullable* _Nullable)outError;
- (void)loadValuesAsynchronouslyForKeys:(NSArray<NSString*>*)keys
                      completionHandler:(nullable void (^)(void))handler;
@end

@class AVAssetTrack;

@interface AVAsset : NSObject <AVAsynchronousKeyValueLoading>
@property(nonatomic, readonly) CMTime duration;
@property(nonatomic, readonly) NSArray<AVAssetTrack*>* tracks;
@end

@interface AVURLAsset : AVAsset
+ (instancetype)URLAssetWithURL:(NSURL*)URL options:(nullable NSDictionary<NSString*, id>*)options;
@end

@interface AVAssetTrack : NSObject <AVAsynchronousKeyValueLoading>
@property(nonatomic, readonly) CMPersistentTrackID trackID;
@property(nonatomic, readonly) AVMediaType mediaType;
@property(nonatomic, readonly) CMTimeRange timeRange;
@property(nonatomic, readonly) NSArray* formatDescriptions;
@end

NS_ASSUME_NONNULL_END
