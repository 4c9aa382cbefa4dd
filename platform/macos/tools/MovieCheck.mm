// movie-check MOVIE: what AVFoundation reads in a movie, for scripts/macos-smoke. Prints
//   duration SECONDS
//   track MEDIA CODEC SECONDS [RATE CHANNELS]
// one track line per track, in the file's order: MEDIA is "audio", "video" or AVFoundation's
// media type; CODEC the format's four-character code without its trailing spaces ("aac",
// "avc1"), "none" when the track has no format; RATE and CHANNELS for audio. SECONDS is
// "unknown" when the time is not finite. Exits 1 after "unreadable REASON" when the movie or a
// track cannot be loaded (within 30 s each), 2 on wrong usage.
//
// Loading is asynchronous, as AVFoundation wants with a 15.0 target; its completions run on a
// queue of the framework's and only signal the main thread, which waits.
#import <AVFoundation/AVFoundation.h>
#import <CoreMedia/CoreMedia.h>
#include <dispatch/dispatch.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

constexpr std::int64_t kLoadLimitSeconds = 30;

// nil once every key has loaded, else why not.
NSString* load(id<AVAsynchronousKeyValueLoading> object, NSArray<NSString*>* keys) {
  dispatch_semaphore_t loaded = dispatch_semaphore_create(0);
  [object loadValuesAsynchronouslyForKeys:keys
                        completionHandler:^{
                          dispatch_semaphore_signal(loaded);
                        }];
  const dispatch_time_t limit =
      dispatch_time(DISPATCH_TIME_NOW, static_cast<std::int64_t>(kLoadLimitSeconds * NSEC_PER_SEC));
  if (dispatch_semaphore_wait(loaded, limit) != 0) return @"loading took more than 30 s";
  for (NSString* key in keys) {
    NSError* error = nil;
    if ([object statusOfValueForKey:key error:&error] != AVKeyValueStatusLoaded) {
      return [NSString
          stringWithFormat:@"%@: %@", key, error ? error.localizedDescription : @"not loaded"];
    }
  }
  return nil;
}

std::string secondsOf(CMTime time) {
  const Float64 seconds = CMTimeGetSeconds(time);
  if (!std::isfinite(seconds)) return "unknown";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", seconds);
  return text;
}

// 'aac ' as "aac": the first character is in the high byte.
std::string codeOf(FourCharCode code) {
  std::string text;
  for (int shift : {24, 16, 8, 0}) {
    const char character = static_cast<char>((code >> shift) & 0xFF);
    text.push_back(character >= 0x20 && character < 0x7F ? character : '?');
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text.empty() || code == 0 ? "none" : text;
}

std::string describe(AVAssetTrack* track) {
  const bool audio = [track.mediaType isEqualToString:AVMediaTypeAudio];
  const bool video = [track.mediaType isEqualToString:AVMediaTypeVideo];
  std::string line = "track ";
  line += audio ? "audio" : video ? "video" : track.mediaType.UTF8String;
  NSArray* formats = track.formatDescriptions;
  CMFormatDescriptionRef format =
      formats.count > 0 ? (__bridge CMFormatDescriptionRef)formats[0] : nullptr;
  line += " " + (format ? codeOf(CMFormatDescriptionGetMediaSubType(format)) : std::string("none"));
  line += " " + secondsOf(track.timeRange.duration);
  if (audio && format) {
    const AudioStreamBasicDescription* basic =
        CMAudioFormatDescriptionGetStreamBasicDescription(format);
    if (basic) {
      line += " " + std::to_string(std::lround(basic->mSampleRate)) + " " +
              std::to_string(basic->mChannelsPerFrame);
    }
  }
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: movie-check MOVIE\n");
    return 2;
  }
  @autoreleasepool {
    NSURL* url = [NSURL fileURLWithPath:[NSString stringWithUTF8String:argv[1]]];
    AVURLAsset* asset = [AVURLAsset URLAssetWithURL:url options:nil];
    if (NSString* failure = load(asset, @[ @"duration", @"tracks" ])) {
      std::printf("unreadable %s\n", failure.UTF8String);
      return 1;
    }
    std::printf("duration %s\n", secondsOf(asset.duration).c_str());
    // The tracks hold their asset weakly; `asset` keeps it for the loop.
    for (AVAssetTrack* track in asset.tracks) {
      if (NSString* failure = load(track, @[ @"formatDescriptions", @"timeRange" ])) {
        std::printf("unreadable track %d: %s\n", track.trackID, failure.UTF8String);
        return 1;
      }
      std::printf("%s\n", describe(track).c_str());
    }
  }
  return 0;
}
