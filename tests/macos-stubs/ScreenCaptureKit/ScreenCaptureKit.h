#pragma once
// ScreenCaptureKit, from macos-api-reference (section 1). removeStreamOutput:type:error: and the
// signature of removeRecordingOutput:error:, which the reference only names, are from Apple's
// public SCStream documentation.
#import <AVFoundation/AVFoundation.h>
#import <CoreMedia/CoreMedia.h>
#import <Foundation/Foundation.h>
#include <dispatch/dispatch.h>
#include <sys/types.h>

NS_ASSUME_NONNULL_BEGIN

@interface SCDisplay : NSObject
@property(readonly) NSInteger width;
@property(readonly) NSInteger height;
@end

@interface SCRunningApplication : NSObject
@property(readonly) pid_t processID;
@end

@interface SCWindow : NSObject
@end

@interface SCShareableContent : NSObject
+ (void)getShareableContentExcludingDesktopWindows:(BOOL)excludeDesktopWindows
                               onScreenWindowsOnly:(BOOL)onScreenWindowsOnly
                                 completionHandler:
                                     (void (^)(SCShareableContent* _Nullable shareableContent,
                                               NSError* _Nullable error))completionHandler;
@property(readonly) NSArray<SCDisplay*>* displays;
@property(readonly) NSArray<SCRunningApplication*>* applications;
@end

@interface SCContentFilter : NSObject
- (instancetype)initWithDisplay:(SCDisplay*)display
          excludingApplications:(NSArray<SCRunningApplication*>*)applications
               exceptingWindows:(NSArray<SCWindow*>*)exceptingWindows;
@end

@interface SCStreamConfiguration : NSObject
@property(nonatomic, assign) size_t width;
@property(nonatomic, assign) size_t height;
@property(nonatomic, assign) CMTime minimumFrameInterval;
@property(nonatomic, assign) NSInteger queueDepth;
@property(nonatomic, assign) BOOL showsCursor;
@property(nonatomic, assign) BOOL capturesAudio;
@property(nonatomic, assign) NSInteger sampleRate;
@property(nonatomic, assign) NSInteger channelCount;
@property(nonatomic, assign) BOOL excludesCurrentProcessAudio;
@property(nonatomic, assign) BOOL captureMicrophone;
@property(nonatomic, strong, nullable) NSString* microphoneCaptureDeviceID;
@end

typedef enum SCStreamOutputType : NSInteger SCStreamOutputType;
enum SCStreamOutputType : NSInteger {
  SCStreamOutputTypeScreen,
  SCStreamOutputTypeAudio,
  SCStreamOutputTypeMicrophone
};

@class SCStream;
@class SCRecordingOutput;

@protocol SCStreamOutput <NSObject>
@optional
- (void)stream:(SCStream*)stream
    didOutputSampleBuffer:(CMSampleBufferRef)sampleBuffer
                   ofType:(SCStreamOutputType)type;
@end

@protocol SCStreamDelegate <NSObject>
@optional
- (void)stream:(SCStream*)stream didStopWithError:(NSError*)error;
@end

@protocol SCRecordingOutputDelegate <NSObject>
@optional
- (void)recordingOutputDidStartRecording:(SCRecordingOutput*)recordingOutput;
- (void)recordingOutput:(SCRecordingOutput*)recordingOutput didFailWithError:(NSError*)error;
- (void)recordingOutputDidFinishRecording:(SCRecordingOutput*)recordingOutput;
@end

@interface SCStream : NSObject
- (instancetype)initWithFilter:(SCContentFilter*)contentFilter
                 configuration:(SCStreamConfiguration*)streamConfig
                      delegate:(id<SCStreamDelegate> _Nullable)delegate;
- (BOOL)addStreamOutput:(id<SCStreamOutput>)output
                   type:(SCStreamOutputType)type
     sampleHandlerQueue:(dispatch_queue_t _Nullable)sampleHandlerQueue
                  error:(NSError**)error;
- (BOOL)removeStreamOutput:(id<SCStreamOutput>)output
                      type:(SCStreamOutputType)type
                     error:(NSError**)error;
- (BOOL)addRecordingOutput:(SCRecordingOutput*)recordingOutput error:(NSError**)error;
- (BOOL)removeRecordingOutput:(SCRecordingOutput*)recordingOutput error:(NSError**)error;
- (void)startCaptureWithCompletionHandler:
    (nullable void (^)(NSError* _Nullable error))completionHandler;
- (void)stopCaptureWithCompletionHandler:
    (nullable void (^)(NSError* _Nullable error))completionHandler;
@end

@interface SCRecordingOutputConfiguration : NSObject
@property(nonatomic, copy) NSURL* outputURL;
@property(nonatomic, copy) AVVideoCodecType videoCodecType;
@property(nonatomic, copy) AVFileType outputFileType;
@property(nonatomic, readonly) NSArray<AVVideoCodecType>* availableVideoCodecTypes;
@property(nonatomic, readonly) NSArray<AVFileType>* availableOutputFileTypes;
@end

@interface SCRecordingOutput : NSObject
- (instancetype)initWithConfiguration:(SCRecordingOutputConfiguration*)recordingOutputConfiguration
                             delegate:(id<SCRecordingOutputDelegate>)delegate;
@end

extern NSString* const SCStreamErrorDomain;
typedef enum SCStreamErrorCode : NSInteger SCStreamErrorCode;
enum SCStreamErrorCode : NSInteger {
  SCStreamErrorUserDeclined = -3801,
  SCStreamErrorSystemStoppedStream = -3821
};

NS_ASSUME_NONNULL_END
