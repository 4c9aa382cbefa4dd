#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

#include "events/EventRecord.h"
#include "platform/PlatformError.h"
#include "platform/ScreenCaptureService.h"

namespace capture {

// The "warning" records of a running recording; the codes and keys a parent reads are named here
// and nowhere else.

// "system" or "microphone"; none for a type that is not an audio source.
std::optional<std::string_view> sourceName(platform::StreamOutputType source);

events::EventRecord warningRecord(std::string_view code);
events::EventRecord sourceLostWarning(std::string_view source,
                                      const platform::PlatformError& error);
events::EventRecord sourceRestoredWarning(std::string_view source, double gapSeconds);
events::EventRecord audioDroppedWarning(std::string_view source, double droppedSeconds);
// A source's own file that could not be written, or put on its storage.
events::EventRecord pcmWriteFailedWarning(std::string_view source);
// "audio_elsewhere" with the output where sound plays that is not recorded; "audio_elsewhere_ended"
// when there is none any more.
events::EventRecord unrecordedAudioWarning(const std::optional<std::string>& outputName);
// "output_muted" with what silences the system audio by its mute or volume (the output or its
// monitor); "output_audible" when nothing does any more.
events::EventRecord outputMutedWarning(const std::optional<std::string>& outputName);
events::EventRecord recordingFailedWarning(const platform::PlatformError& error);
events::EventRecord recordingStalledWarning();
events::EventRecord recordingResumedWarning(double stalledSeconds);
events::EventRecord microphoneSilenceWarning(bool silent);
// With `sourceFile` for a file system that is not the movie's, which that file fills.
events::EventRecord diskLowWarning(std::uint64_t secondsLeft,
                                   const std::optional<std::filesystem::path>& sourceFile);
// "movie_gone" when the path no longer names the movie being written, "movie_returned" when it
// does again.
events::EventRecord movieGoneWarning(bool gone);

}  // namespace capture
