#pragma once
// CoreFoundation, as far as the checked files use it: the normaliser from macos-api-reference
// (section 5); the rest (types, strings' bytes, the main run loop) from Apple's public
// CoreFoundation documentation.
#include <stddef.h>
#include <stdint.h>

typedef unsigned char Boolean;
typedef uint8_t UInt8;
typedef uint32_t UInt32;
typedef long CFIndex;
typedef const void* CFTypeRef;
typedef const struct __CFAllocator* CFAllocatorRef;
typedef const struct __CFDictionary* CFDictionaryRef;
extern const CFAllocatorRef kCFAllocatorDefault;
extern const CFAllocatorRef kCFAllocatorNull;
void CFRelease(CFTypeRef cf);

typedef struct {
  CFIndex location;
  CFIndex length;
} CFRange;
static inline CFRange CFRangeMake(CFIndex loc, CFIndex len) {
  CFRange range = {loc, len};
  return range;
}

typedef const struct __CFString* CFStringRef;
typedef struct __CFString* CFMutableStringRef;
typedef UInt32 CFStringEncoding;
enum { kCFStringEncodingUTF8 = 0x08000100 };
typedef enum CFStringNormalizationForm : CFIndex CFStringNormalizationForm;
enum CFStringNormalizationForm : CFIndex { kCFStringNormalizationFormC = 2 };
CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation);
CFMutableStringRef CFStringCreateMutableCopy(CFAllocatorRef alloc, CFIndex maxLength,
                                             CFStringRef theString);
void CFStringNormalize(CFMutableStringRef theString, CFStringNormalizationForm theForm);
CFIndex CFStringGetLength(CFStringRef theString);
CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding,
                         UInt8 lossByte, Boolean isExternalRepresentation, UInt8* buffer,
                         CFIndex maxBufLen, CFIndex* usedBufLen);

typedef struct __CFRunLoop* CFRunLoopRef;
CFRunLoopRef CFRunLoopGetMain(void);
void CFRunLoopRun(void);
void CFRunLoopStop(CFRunLoopRef rl);
