#import <Foundation/Foundation.h>
#import <ScreenCaptureKit/ScreenCaptureKit.h>
#include <gtest/gtest.h>

#include "platform/macos/MacErrors.h"

@interface TQSpecificError : NSError
@end
@implementation TQSpecificError
@end

namespace {

using platform::macos::platformError;

TEST(MacErrors, CarriesTheNSErrorsClassDomainCodeAndDescription) {
  NSError* error = [NSError errorWithDomain:SCStreamErrorDomain
                                       code:SCStreamErrorUserDeclined
                                   userInfo:@{NSLocalizedDescriptionKey : @"Declined."}];
  const platform::PlatformError converted = platformError(error);
  EXPECT_EQ(converted.typeName(), "NSError");
  EXPECT_EQ(converted.domain(), std::string(SCStreamErrorDomain.UTF8String));
  EXPECT_EQ(converted.code(), SCStreamErrorUserDeclined);
  EXPECT_EQ(converted.description(), "Declined.");

  // The run-time class by its name, codes beyond 32 bits and text beyond ASCII.
  NSError* specific = [[TQSpecificError alloc] initWithDomain:@"Domäne"
                                                         code:-(1LL << 40)
                                                     userInfo:nil];
  const platform::PlatformError wide = platformError(specific);
  EXPECT_EQ(wide.typeName(), "TQSpecificError");
  EXPECT_EQ(wide.domain(), "Dom\xC3\xA4ne");
  EXPECT_EQ(wide.code(), -(1LL << 40));
}

TEST(MacErrors, AFailureWithoutAnErrorBecomesTheToolsOwnError) {
  const platform::PlatformError converted = platformError(nil);
  EXPECT_EQ(converted.typeName(), "NSError");
  EXPECT_EQ(converted.domain(), "TessaloquinAudioCapture");
  EXPECT_EQ(converted.code(), 3);
  EXPECT_FALSE(converted.description().empty());
}

TEST(MacErrors, OnlyAnActualErrorIsOptionalError) {
  EXPECT_FALSE(platform::macos::optionalPlatformError(nil).has_value());
  NSError* error = [NSError errorWithDomain:@"D" code:5 userInfo:nil];
  EXPECT_EQ(platform::macos::optionalPlatformError(error)->code(), 5);
}

}  // namespace
