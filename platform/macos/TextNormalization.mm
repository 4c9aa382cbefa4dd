// Canonical composition by CoreFoundation's normaliser, for comparing device names.
// Synchronous and thread-safe; called from whichever thread compares names.

#include "platform/TextNormalization.h"

#include <CoreFoundation/CoreFoundation.h>

#include <memory>
#include <type_traits>

namespace platform {

namespace {

struct CFReleaser {
  void operator()(CFTypeRef object) const { CFRelease(object); }
};
template <typename Ref>
using Owned = std::unique_ptr<std::remove_pointer_t<Ref>, CFReleaser>;

}  // namespace

std::string canonicalComposition(std::string_view utf8) {
  // CFStringCreateWithBytes refuses bytes that are not UTF-8.
  Owned<CFStringRef> text(
      CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(utf8.data()),
                              static_cast<CFIndex>(utf8.size()), kCFStringEncodingUTF8, false));
  if (!text) return std::string(utf8);
  Owned<CFMutableStringRef> composed(CFStringCreateMutableCopy(kCFAllocatorDefault, 0, text.get()));
  if (!composed) return std::string(utf8);
  CFStringNormalize(composed.get(), kCFStringNormalizationFormC);

  const CFRange whole = CFRangeMake(0, CFStringGetLength(composed.get()));
  CFIndex byteCount = 0;
  CFStringGetBytes(composed.get(), whole, kCFStringEncodingUTF8, 0, false, nullptr, 0, &byteCount);
  std::string result(static_cast<std::size_t>(byteCount), '\0');
  CFStringGetBytes(composed.get(), whole, kCFStringEncodingUTF8, 0, false,
                   reinterpret_cast<UInt8*>(result.data()), byteCount, nullptr);
  return result;
}

}  // namespace platform
