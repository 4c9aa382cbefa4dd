#pragma once

// Text across the Foundation boundary. Objective-C++ only.

#include <string>
#include <string_view>

#ifdef __OBJC__
@class NSString;

namespace platform::macos {

// UTF-8 of `text`; empty for nil or text that has no UTF-8 form.
std::string utf8String(NSString* text);
// nil when `utf8` is not valid UTF-8.
NSString* foundationString(std::string_view utf8);

}  // namespace platform::macos
#endif
