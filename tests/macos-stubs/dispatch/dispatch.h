#pragma once
// libdispatch semaphores, queues and times, from macos-api-reference; objects under ARC, as in
// the SDK.
#import <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

typedef uint64_t dispatch_time_t;
#define DISPATCH_TIME_NOW (0ull)
#define DISPATCH_TIME_FOREVER (~0ull)
#define NSEC_PER_SEC 1000000000ull

@protocol OS_dispatch_semaphore <NSObject>
@end
typedef NSObject<OS_dispatch_semaphore>* dispatch_semaphore_t;
@protocol OS_dispatch_queue <NSObject>
@end
typedef NSObject<OS_dispatch_queue>* dispatch_queue_t;

dispatch_semaphore_t dispatch_semaphore_create(intptr_t value) __attribute__((warn_unused_result));
intptr_t dispatch_semaphore_wait(dispatch_semaphore_t dsema, dispatch_time_t timeout);
intptr_t dispatch_semaphore_signal(dispatch_semaphore_t dsema);
dispatch_time_t dispatch_time(dispatch_time_t when, int64_t delta);

NS_ASSUME_NONNULL_END
