// NSString <-> UTF-8 for names, identifiers and error text. Pure conversions, any thread.

#include "platform/macos/FoundationText.h"

#import <Foundation/Foundation.h>

namespace platform::macos {

std::string utf8String(NSString* text) {
  const char* bytes = text.UTF8String;
  return bytes != nullptr ? std::string(bytes) : std::string();
}

NSString* foundationString(std::string_view utf8) {
  return [[NSString alloc] initWithBytes:utf8.data()
                                  length:utf8.size()
                                encoding:NSUTF8StringEncoding];
}

}  // namespace platform::macos
