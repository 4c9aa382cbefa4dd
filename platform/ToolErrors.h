#pragma once

// The tool's own error domain and codes, for every layer that raises them: the core and each
// platform. README's table of codes is checked against this one.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/PlatformError.h"

namespace platform {

inline constexpr std::string_view kToolErrorDomain = "TessaloquinAudioCapture";

enum class ToolErrorCode : std::int64_t {
  noDisplay = 1,
  recordingNotFinished = 2,
  // The platform said it failed but gave no error to say why.
  failureWithoutError = 3,
  // A fault of the tool itself: an object the platform layer did not make, an exception that is
  // not a platform error.
  internalFault = 4,
  // Another recorder holds the movie (platform/posix/OutputPathLock.h).
  outputHeld = 5,
  // The output path is relative and the current directory cannot be determined.
  relativeOutputWithoutDirectory = 6,
  // macOS: the recording output cannot write a QuickTime movie with H.264 video.
  movieFormatUnavailable = 7,
  // macOS: the framework reads paths as UTF-8.
  outputPathNotUtf8 = 8,
  // The system refused a resource the tool needs, such as a file descriptor.
  resourceRefused = 9,
  // At the stop the movie's path no longer names the file that was written.
  movieGone = 10,
  // An output would be written into the record stream.
  outputIsStandardOutput = 11,
  // A per-source audio path cannot be opened.
  sourcePathUnopenable = 12,
  // Two outputs, the movie and a per-source stream or both streams, name one file.
  outputsShareFile = 13,
  // The platform never answered a call of the probe or the start.
  platformUnanswered = 14,
  // The system could not, or not in time, put the movie on its storage: while recording, or at
  // the stop.
  movieNotOnStorage = 15,
};

struct ToolErrorEntry {
  ToolErrorCode code;
  std::string_view description;
};

// In order of code, one row per code.
inline constexpr std::array kToolErrors{
    ToolErrorEntry{ToolErrorCode::noDisplay, "No display is available for audio capture."},
    ToolErrorEntry{ToolErrorCode::recordingNotFinished, "The recording file was not finished."},
    ToolErrorEntry{ToolErrorCode::failureWithoutError,
                   "The platform reported a failure without an error."},
    ToolErrorEntry{ToolErrorCode::internalFault, "An internal fault of the tool."},
    ToolErrorEntry{ToolErrorCode::outputHeld,
                   "The output file is being written by another recorder."},
    ToolErrorEntry{ToolErrorCode::relativeOutputWithoutDirectory,
                   "The output path is relative and the current directory is unknown."},
    ToolErrorEntry{ToolErrorCode::movieFormatUnavailable,
                   "The platform cannot write a QuickTime movie with H.264 video."},
    ToolErrorEntry{ToolErrorCode::outputPathNotUtf8, "The output path is not valid UTF-8."},
    ToolErrorEntry{ToolErrorCode::resourceRefused, "The system refused a resource the tool needs."},
    ToolErrorEntry{ToolErrorCode::movieGone, "The movie no longer exists at its path at the stop."},
    ToolErrorEntry{ToolErrorCode::outputIsStandardOutput,
                   "An output is the tool's own standard output."},
    ToolErrorEntry{ToolErrorCode::sourcePathUnopenable,
                   "A per-source audio path cannot be opened."},
    ToolErrorEntry{ToolErrorCode::outputsShareFile, "Two outputs name the same file."},
    ToolErrorEntry{ToolErrorCode::platformUnanswered, "The platform did not answer in time."},
    ToolErrorEntry{ToolErrorCode::movieNotOnStorage,
                   "The movie could not be written to its storage."},
};

constexpr std::string_view descriptionOf(ToolErrorCode code) {
  const auto index = static_cast<std::size_t>(code) - 1;
  return index < kToolErrors.size() ? kToolErrors[index].description : std::string_view();
}

constexpr bool rowsFollowCodes() {
  for (std::size_t index = 0; index < kToolErrors.size(); ++index) {
    if (static_cast<std::size_t>(kToolErrors[index].code) != index + 1) return false;
  }
  return true;
}
static_assert(rowsFollowCodes(), "descriptionOf looks rows up by code");

// The tool's errors are of the platform's error type (`errorTypeName`: "GError", "NSError"), so
// that a reader sees one kind.
inline PlatformError toolError(std::string errorTypeName, ToolErrorCode code) {
  return PlatformError(std::move(errorTypeName), std::string(kToolErrorDomain),
                       static_cast<std::int64_t>(code), std::string(descriptionOf(code)));
}

}  // namespace platform
