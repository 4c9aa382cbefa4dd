#include "capture/WarningRecords.h"

#include <cmath>
#include <string>

#include "events/EventSink.h"

namespace capture {

std::optional<std::string_view> sourceName(platform::StreamOutputType source) {
  switch (source) {
    case platform::StreamOutputType::audio:
      return "system";
    case platform::StreamOutputType::microphone:
      return "microphone";
    default:
      return std::nullopt;
  }
}

events::EventRecord warningRecord(std::string_view code) {
  events::EventRecord record("warning");
  record.set("code", std::string(code));
  return record;
}

events::EventRecord sourceLostWarning(std::string_view source,
                                      const platform::PlatformError& error) {
  events::EventRecord record = warningRecord("source_lost");
  record.set("source", std::string(source));
  return events::setErrorKeys(record, error);
}

namespace {

// A platform's odd measure must not cost the parent the record: JSON has no NaN.
double seconds(double measured) {
  return std::isfinite(measured) && measured > 0 ? measured : 0.0;
}

events::EventRecord outputWarning(const std::optional<std::string>& outputName,
                                  std::string_view code, std::string_view endCode) {
  if (!outputName) return warningRecord(endCode);
  events::EventRecord record = warningRecord(code);
  record.set("output", *outputName);
  return record;
}

}  // namespace

events::EventRecord sourceRestoredWarning(std::string_view source, double gapSeconds) {
  events::EventRecord record = warningRecord("source_restored");
  record.set("source", std::string(source)).set("gapSeconds", seconds(gapSeconds));
  return record;
}

events::EventRecord audioDroppedWarning(std::string_view source, double droppedSeconds) {
  events::EventRecord record = warningRecord("audio_dropped");
  record.set("source", std::string(source)).set("droppedSeconds", seconds(droppedSeconds));
  return record;
}

events::EventRecord pcmWriteFailedWarning(std::string_view source) {
  events::EventRecord record = warningRecord("pcm_write_failed");
  record.set("source", std::string(source));
  return record;
}

events::EventRecord unrecordedAudioWarning(const std::optional<std::string>& outputName) {
  return outputWarning(outputName, "audio_elsewhere", "audio_elsewhere_ended");
}

events::EventRecord outputMutedWarning(const std::optional<std::string>& outputName) {
  return outputWarning(outputName, "output_muted", "output_audible");
}

events::EventRecord recordingFailedWarning(const platform::PlatformError& error) {
  events::EventRecord record = warningRecord("recording_failed");
  return events::setErrorKeys(record, error);
}

events::EventRecord recordingStalledWarning() {
  return warningRecord("recording_stalled");
}

events::EventRecord recordingResumedWarning(double stalledSeconds) {
  events::EventRecord record = warningRecord("recording_resumed");
  record.set("gapSeconds", seconds(stalledSeconds));
  return record;
}

events::EventRecord microphoneSilenceWarning(bool silent) {
  return warningRecord(silent ? "microphone_silent" : "microphone_audible");
}

events::EventRecord diskLowWarning(std::uint64_t secondsLeft,
                                   const std::optional<std::filesystem::path>& sourceFile) {
  events::EventRecord record = warningRecord("disk_low");
  record.set("secondsLeft", secondsLeft);
  if (sourceFile) record.set("path", sourceFile->string());
  return record;
}

events::EventRecord movieGoneWarning(bool gone) {
  return warningRecord(gone ? "movie_gone" : "movie_returned");
}

}  // namespace capture
